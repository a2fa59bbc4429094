// The port list's queries on Windows: the version record, the device
// installation services for the COM-port device interfaces, and the
// registry. Texts are returned whole; the port list applies its own limits.

#include <windows.h>
#include <setupapi.h>

#include <vector>

#include "serial/PortList.h"
#include "serial/PortPlatform.h"

namespace quorvel {

namespace {

// GUID_DEVINTERFACE_COMPORT
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

PlatformStatus LastError() {
  const DWORD error = GetLastError();
  // A failure without a code still must not read as success.
  return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
}

HDEVINFO AsSet(PlatformHandle set) { return reinterpret_cast<HDEVINFO>(set); }

// The root key is named by its own constant; every other key by its HKEY.
HKEY AsKey(PlatformHandle key) {
  return key == kLocalMachineKey ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
}

Text FromWide(const wchar_t* text, size_t units) {
  Text out(text, text + units);
  const size_t nul = out.find(u'\0');
  if (nul != Text::npos) out.resize(nul);
  return out;
}

std::wstring ToWide(const Text& text) { return std::wstring(text.begin(), text.end()); }

class Win32PortPlatform final : public PortPlatform {
 public:
  PlatformStatus QueryVersion(OsVersion& version) override {
    // What the version call reports follows the program's manifest; every
    // Windows the program supports reports 6 or more, which takes the
    // device-interface method.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) return LastError();
#pragma GCC diagnostic pop
    version.major = info.dwMajorVersion;
    version.platformId = info.dwPlatformId;
    return kStatusOk;
  }

  PlatformStatus OpenPortInterfaces(PlatformHandle& set) override {
    HDEVINFO info = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE) return LastError();
    set = reinterpret_cast<PlatformHandle>(info);
    return kStatusOk;
  }

  PlatformStatus EnumInterface(PlatformHandle set, uint32_t index) override {
    SP_DEVICE_INTERFACE_DATA data{};
    return Interface(set, index, data);
  }

  PlatformStatus InterfacePath(PlatformHandle set, uint32_t index, Text& devicePath) override {
    SP_DEVINFO_DATA device{};
    return Detail(set, index, device, &devicePath);
  }

  PlatformStatus FriendlyName(PlatformHandle set, uint32_t index, Text& name) override {
    return Property(set, index, SPDRP_FRIENDLYNAME, name);
  }

  PlatformStatus DeviceDescription(PlatformHandle set, uint32_t index, Text& description) override {
    return Property(set, index, SPDRP_DEVICEDESC, description);
  }

  void CloseInterfaces(PlatformHandle set) override {
    if (set != kNoHandle) SetupDiDestroyDeviceInfoList(AsSet(set));
  }

  PlatformStatus OpenKey(PlatformHandle parent, const Text& subKey, PlatformHandle& key) override {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExW(AsKey(parent), ToWide(subKey).c_str(), 0, KEY_READ, &opened);
    if (status != ERROR_SUCCESS) return static_cast<PlatformStatus>(status);
    key = reinterpret_cast<PlatformHandle>(opened);
    return kStatusOk;
  }

  PlatformStatus EnumSubKey(PlatformHandle key, uint32_t index, Text& name) override {
    wchar_t buf[256];  // the longest key name is 255 characters
    DWORD units = 256;
    const LONG status =
        RegEnumKeyExW(AsKey(key), index, buf, &units, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return static_cast<PlatformStatus>(status);
    name = FromWide(buf, units);
    return kStatusOk;
  }

  PlatformStatus QueryStringValue(PlatformHandle key, const Text& valueName, Text& value) override {
    const std::wstring name = ToWide(valueName);
    DWORD bytes = 0;
    LONG status = RegQueryValueExW(AsKey(key), name.c_str(), nullptr, nullptr, nullptr, &bytes);
    if (status != ERROR_SUCCESS) return static_cast<PlatformStatus>(status);
    std::vector<wchar_t> buf(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    status = RegQueryValueExW(AsKey(key), name.c_str(), nullptr, nullptr,
                              reinterpret_cast<BYTE*>(buf.data()), &bytes);
    if (status != ERROR_SUCCESS) return static_cast<PlatformStatus>(status);
    value = FromWide(buf.data(), bytes / sizeof(wchar_t));
    return kStatusOk;
  }

  void CloseKey(PlatformHandle key) override {
    if (key != kNoHandle && key != kLocalMachineKey) RegCloseKey(AsKey(key));
  }

 private:
  static PlatformStatus Interface(PlatformHandle set, uint32_t index,
                                  SP_DEVICE_INTERFACE_DATA& data) {
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(AsSet(set), nullptr, &kComPortInterface, index, &data)) {
      return LastError();
    }
    return kStatusOk;
  }

  // The interface's device, and its path when asked for.
  static PlatformStatus Detail(PlatformHandle set, uint32_t index, SP_DEVINFO_DATA& device,
                               Text* path) {
    SP_DEVICE_INTERFACE_DATA data{};
    if (const PlatformStatus status = Interface(set, index, data); status != kStatusOk) {
      return status;
    }
    device.cbSize = sizeof device;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(AsSet(set), &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return LastError();
    // A buffer of DWORDs keeps the record's alignment.
    std::vector<DWORD> buf((required + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buf.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(AsSet(set), &data, detail, required, nullptr, &device)) {
      return LastError();
    }
    if (path != nullptr) {
      const size_t units =
          (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
      *path = FromWide(detail->DevicePath, units);
    }
    return kStatusOk;
  }

  static PlatformStatus Property(PlatformHandle set, uint32_t index, DWORD property, Text& text) {
    SP_DEVINFO_DATA device{};
    if (const PlatformStatus status = Detail(set, index, device, nullptr); status != kStatusOk) {
      return status;
    }
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(AsSet(set), &device, property, nullptr, nullptr, 0, &bytes);
    if (bytes == 0) return LastError();
    std::vector<wchar_t> buf(bytes / sizeof(wchar_t) + 1);
    if (!SetupDiGetDeviceRegistryPropertyW(AsSet(set), &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buf.data()),
                                           static_cast<DWORD>(buf.size() * sizeof(wchar_t)),
                                           nullptr)) {
      return LastError();
    }
    text = FromWide(buf.data(), bytes / sizeof(wchar_t));
    return kStatusOk;
  }
};

}  // namespace

std::unique_ptr<PortPlatform> MakeWin32PortPlatform() {
  return std::make_unique<Win32PortPlatform>();
}

PortPlatform& SystemPortPlatform() {
  static const std::unique_ptr<PortPlatform> platform = MakeWin32PortPlatform();
  return *platform;
}

}  // namespace quorvel
