// The serial ports of a Windows machine: the COM-port device interfaces of
// the device installation services, walked as serial/win32/
// DeviceInterfaceList.h tells.

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <vector>

#include "base/win32/WideChars.h"
#include "serial/PortPlatform.h"
#include "serial/win32/DeviceInterfaceList.h"

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

// The set of the running machine, destroyed with this object.
class SystemInterfaceSet final : public DeviceInterfaceSet {
 public:
  explicit SystemInterfaceSet(HDEVINFO set) : m_set(set) {}
  ~SystemInterfaceSet() override { SetupDiDestroyDeviceInfoList(m_set); }
  SystemInterfaceSet(const SystemInterfaceSet&) = delete;
  SystemInterfaceSet& operator=(const SystemInterfaceSet&) = delete;

  DWORD Enum(DWORD index) override {
    SP_DEVICE_INTERFACE_DATA data{};
    return Interface(index, data);
  }

  DWORD Path(DWORD index, Text& path) override {
    SP_DEVINFO_DATA device{};
    return Detail(index, device, &path);
  }

  std::optional<Text> Property(DWORD index, DWORD property) override {
    SP_DEVINFO_DATA device{};
    if (Detail(index, device, nullptr) != ERROR_SUCCESS) return std::nullopt;
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(m_set, &device, property, nullptr, nullptr, 0, &bytes);
    if (bytes == 0) return std::nullopt;
    std::vector<wchar_t> buf(bytes / sizeof(wchar_t) + 1);
    if (!SetupDiGetDeviceRegistryPropertyW(m_set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buf.data()),
                                           static_cast<DWORD>(buf.size() * sizeof(wchar_t)),
                                           nullptr)) {
      return std::nullopt;
    }
    // A list of texts (the hardware ids) gives its first.
    return FromWideBuffer(buf.data(), bytes / sizeof(wchar_t));
  }

  Text InstanceId(DWORD index) override {
    SP_DEVINFO_DATA device{};
    if (Detail(index, device, nullptr) != ERROR_SUCCESS) return {};
    DWORD units = 0;
    SetupDiGetDeviceInstanceIdW(m_set, &device, nullptr, 0, &units);
    if (units == 0) return {};
    std::vector<wchar_t> buf(units + 1);
    if (!SetupDiGetDeviceInstanceIdW(m_set, &device, buf.data(), static_cast<DWORD>(buf.size()),
                                     nullptr)) {
      return {};
    }
    return FromWideBuffer(buf.data(), buf.size());
  }

 private:
  DWORD Interface(DWORD index, SP_DEVICE_INTERFACE_DATA& data) const {
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(m_set, nullptr, &kComPortInterface, index, &data)) {
      return LastError();
    }
    return ERROR_SUCCESS;
  }

  // The interface's device, and its path when asked for.
  DWORD Detail(DWORD index, SP_DEVINFO_DATA& device, Text* path) const {
    SP_DEVICE_INTERFACE_DATA data{};
    if (const DWORD error = Interface(index, data); error != ERROR_SUCCESS) return error;
    device.cbSize = sizeof device;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(m_set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return LastError();
    // A buffer of DWORDs keeps the record's alignment.
    std::vector<DWORD> buf((required + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buf.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(m_set, &data, detail, required, nullptr, &device)) {
      return LastError();
    }
    if (path != nullptr) {
      const size_t units =
          (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
      *path = FromWideBuffer(detail->DevicePath, units);
    }
    return ERROR_SUCCESS;
  }

  HDEVINFO m_set;
};

class Win32PortPlatform final : public PortPlatform {
 public:
  PortListError ListPorts(std::vector<SSerInfo>& ports) override {
    return ListDeviceInterfacePorts(ports);
  }
};

}  // namespace

PortListError CallFailure(const char16_t* call, DWORD code) {
  return {Text(call) + u" (err=" + HexCode(code) + u")"};
}

PortListError WalkDeviceInterfaces(DeviceInterfaceSet& set, std::vector<SSerInfo>& ports) {
  for (DWORD index = 0;; ++index) {
    if (const DWORD error = set.Enum(index); error != ERROR_SUCCESS) {
      if (error == ERROR_NO_MORE_ITEMS) return {};
      return CallFailure(u"SetupDiEnumDeviceInterfaces failed.", error);
    }
    SSerInfo port;
    DWORD error = set.Path(index, port.devicePath);
    if (error == ERROR_SUCCESS && port.devicePath.size() > kMaxDevicePath) {
      error = ERROR_INSUFFICIENT_BUFFER;
    }
    if (error != ERROR_SUCCESS) return CallFailure(u"SetupDiGetDeviceInterfaceDetail failed.", error);
    const std::optional<Text> friendlyName = set.Property(index, SPDRP_FRIENDLYNAME);
    if (!friendlyName || friendlyName->size() > kMaxProperty) continue;
    const std::optional<Text> description = set.Property(index, SPDRP_DEVICEDESC);
    if (!description || description->size() > kMaxProperty) continue;
    port.friendlyName = *friendlyName;
    port.description = *description;
    port.name = CutComName(port.friendlyName);
    const std::optional<Text> hardwareId = set.Property(index, SPDRP_HARDWAREID);
    if (hardwareId && ParseUsbIds(*hardwareId, port.vendorId, port.productId)) {
      port.usb = true;
      const Text instance = set.InstanceId(index);
      if (const size_t slash = instance.find_last_of(u'\\'); slash != Text::npos) {
        port.serialNumber = instance.substr(slash + 1);
      }
      port.location = set.Property(index, SPDRP_LOCATION_INFORMATION).value_or(Text());
    }
    ports.push_back(std::move(port));
  }
}

PortListError ListDeviceInterfacePorts(std::vector<SSerInfo>& ports) {
  const HDEVINFO info = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (info == INVALID_HANDLE_VALUE) return CallFailure(u"SetupDiGetClassDevs failed.", LastError());
  SystemInterfaceSet set(info);
  return WalkDeviceInterfaces(set, ports);
}

PortPlatform& SystemPortPlatform() {
  static Win32PortPlatform platform;
  return platform;
}

}  // namespace quorvel
