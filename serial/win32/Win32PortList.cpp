// The serial ports of a Windows machine: the COM-port device interfaces of
// the device installation services.
//
// What each interface gives:
// - device path: the interface's path; one longer than 128 characters ends
//   the listing with an error, as a path the detail buffer cannot hold;
// - friendly name and description: the device's properties; an interface
//   whose friendly name or description cannot be read, or is longer than
//   255 characters, is left out;
// - name: cut from the friendly name, from the first "COM" (or its start)
//   up to the next ")"; empty without ")";
// - for a USB device: the identifiers, parsed from its hardware id
//   ("USB\VID_10C4&PID_EA60&REV_0100"), the serial number, the last part of
//   its instance id ("USB\VID_10C4&PID_EA60\0001"), and its location text.
// Error texts name the call that failed and its code in lower-case hex.

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <vector>

#include "serial/PortPlatform.h"

namespace quorvel {

namespace {

// GUID_DEVINTERFACE_COMPORT
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// Longest texts, in characters without the terminator.
constexpr size_t kMaxDevicePath = 128;
constexpr size_t kMaxProperty = 255;

DWORD LastError() {
  const DWORD error = GetLastError();
  // A failure without a code still must not read as success.
  return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
}

// Lower-case hexadecimal without leading zeros.
Text HexCode(DWORD code) {
  Text digits;
  do {
    digits.insert(digits.begin(), u"0123456789abcdef"[code & 0xF]);
    code >>= 4;
  } while (code != 0);
  return digits;
}

PortListError Failure(const char16_t* call, DWORD code) {
  return {Text(call) + u" (err=" + HexCode(code) + u")"};
}

Text FromWide(const wchar_t* text, size_t units) {
  Text out(text, text + units);
  const size_t nul = out.find(u'\0');
  if (nul != Text::npos) out.resize(nul);
  return out;
}

// A text property of the device; nullopt when it cannot be read. A
// REG_MULTI_SZ property gives its first string.
std::optional<Text> Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD bytes = 0;
  SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &bytes);
  if (bytes == 0) return std::nullopt;
  std::vector<wchar_t> buf(bytes / sizeof(wchar_t) + 1);
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                         reinterpret_cast<BYTE*>(buf.data()),
                                         static_cast<DWORD>(buf.size() * sizeof(wchar_t)),
                                         nullptr)) {
    return std::nullopt;
  }
  return FromWide(buf.data(), bytes / sizeof(wchar_t));
}

Text InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
  DWORD units = 0;
  SetupDiGetDeviceInstanceIdW(set, &device, nullptr, 0, &units);
  if (units == 0) return {};
  std::vector<wchar_t> buf(units + 1);
  if (!SetupDiGetDeviceInstanceIdW(set, &device, buf.data(), static_cast<DWORD>(buf.size()),
                                   nullptr)) {
    return {};
  }
  return FromWide(buf.data(), buf.size());
}

// The USB fields of `port`, for a device whose hardware id names the
// identifiers.
void DescribeUsb(HDEVINFO set, SP_DEVINFO_DATA& device, SSerInfo& port) {
  const std::optional<Text> hardwareId = Property(set, device, SPDRP_HARDWAREID);
  if (!hardwareId) return;
  if (!ParseUsbIds(*hardwareId, port.vendorId, port.productId)) return;
  port.usb = true;
  const Text instance = InstanceId(set, device);
  if (const size_t slash = instance.find_last_of(u'\\'); slash != Text::npos) {
    port.serialNumber = instance.substr(slash + 1);
  }
  port.location = Property(set, device, SPDRP_LOCATION_INFORMATION).value_or(Text());
}

// The interface's path and device; an error code on failure.
DWORD Detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data, SP_DEVINFO_DATA& device, Text& path) {
  device.cbSize = sizeof device;
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return LastError();
  // A buffer of DWORDs keeps the record's alignment.
  std::vector<DWORD> buf((required + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buf.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, &device)) {
    return LastError();
  }
  const size_t units =
      (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
  path = FromWide(detail->DevicePath, units);
  return path.size() > kMaxDevicePath ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

// Destroys the set however the listing ends.
class SetCloser {
 public:
  explicit SetCloser(HDEVINFO set) : m_set(set) {}
  ~SetCloser() { SetupDiDestroyDeviceInfoList(m_set); }
  SetCloser(const SetCloser&) = delete;
  SetCloser& operator=(const SetCloser&) = delete;

 private:
  HDEVINFO m_set;
};

class Win32PortPlatform final : public PortPlatform {
 public:
  PortListError ListPorts(std::vector<SSerInfo>& ports) override {
    return ListDeviceInterfacePorts(ports);
  }
};

}  // namespace

PortListError ListDeviceInterfacePorts(std::vector<SSerInfo>& ports) {
  const HDEVINFO set = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return Failure(u"SetupDiGetClassDevs failed.", LastError());
  const SetCloser closer(set);
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kComPortInterface, index, &data)) {
      const DWORD error = LastError();
      if (error == ERROR_NO_MORE_ITEMS) return {};
      return Failure(u"SetupDiEnumDeviceInterfaces failed.", error);
    }
    SP_DEVINFO_DATA device{};
    SSerInfo port;
    if (const DWORD error = Detail(set, data, device, port.devicePath); error != ERROR_SUCCESS) {
      return Failure(u"SetupDiGetDeviceInterfaceDetail failed.", error);
    }
    const std::optional<Text> friendlyName = Property(set, device, SPDRP_FRIENDLYNAME);
    if (!friendlyName || friendlyName->size() > kMaxProperty) continue;
    const std::optional<Text> description = Property(set, device, SPDRP_DEVICEDESC);
    if (!description || description->size() > kMaxProperty) continue;
    port.friendlyName = *friendlyName;
    port.description = *description;
    port.name = CutComName(port.friendlyName);
    DescribeUsb(set, device, port);
    ports.push_back(std::move(port));
  }
}

PortPlatform& SystemPortPlatform() {
  static Win32PortPlatform platform;
  return platform;
}

}  // namespace quorvel
