// Enumeration of the machine's serial ports by one of three methods, chosen
// by the platform's version: its device interfaces (the normal case), a
// fixed list of sixteen names, or a walk of the registry tree of old systems.

#include "serial/PortList.h"

#include <string_view>

#include "serial/PortPlatform.h"

namespace quorvel {

namespace {

// Fixed buffers of the platform calls, in characters without the
// terminator: a longer text makes its call fail.
constexpr size_t kMaxDevicePath = 128;  // 262-byte interface detail buffer
constexpr size_t kMaxProperty = 255;    // 512-byte property buffers
constexpr size_t kMaxKeyName = 127;     // 128-character key name buffer
constexpr size_t kMaxValue = 63;        // 128-byte value buffer

constexpr std::u16string_view kDevicePrefix = u"\\\\.\\";
constexpr std::u16string_view kEnumPath = u"Could not read from HKLM\\Enum";

// Lower-case hexadecimal without leading zeros.
Text HexCode(uint32_t code) {
  Text digits;
  do {
    digits.insert(digits.begin(), u"0123456789abcdef"[code & 0xF]);
    code >>= 4;
  } while (code != 0);
  return digits;
}

[[noreturn]] void RaiseCode(std::u16string_view call, PlatformStatus code) {
  throw PortListError(Text(call) + u" (err=" + HexCode(code) + u")");
}

[[noreturn]] void Raise(Text message) { throw PortListError(std::move(message)); }

// Closes an interface set or a registry key when the method leaves its
// scope, normally or by an error, so an error leaves with nothing held.
class SetCloser {
 public:
  SetCloser(PortPlatform& platform, PlatformHandle set) : m_platform(platform), m_set(set) {}
  ~SetCloser() { m_platform.CloseInterfaces(m_set); }
  SetCloser(const SetCloser&) = delete;
  SetCloser& operator=(const SetCloser&) = delete;

 private:
  PortPlatform& m_platform;
  PlatformHandle m_set;
};

class KeyCloser {
 public:
  KeyCloser(PortPlatform& platform, PlatformHandle key) : m_platform(platform), m_key(key) {}
  ~KeyCloser() { m_platform.CloseKey(m_key); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  PortPlatform& m_platform;
  PlatformHandle m_key;
};

// A property read into its 512-byte buffer.
bool ReadProperty(PlatformStatus status, const Text& value) {
  return status == kStatusOk && value.size() <= kMaxProperty;
}

void ListDeviceInterfaces(std::vector<SSerInfo>& ports, PortPlatform& platform) {
  PlatformHandle set = kNoHandle;
  if (const PlatformStatus status = platform.OpenPortInterfaces(set); status != kStatusOk) {
    RaiseCode(u"SetupDiGetClassDevs failed.", status);
  }
  const SetCloser closer(platform, set);
  Text devicePath;
  Text friendlyName;
  Text description;
  for (uint32_t index = 0;; ++index) {
    if (const PlatformStatus status = platform.EnumInterface(set, index); status != kStatusOk) {
      if (status == kErrorNoMoreItems) return;
      RaiseCode(u"SetupDiEnumDeviceInterfaces failed.", status);
    }
    PlatformStatus status = platform.InterfacePath(set, index, devicePath);
    if (status == kStatusOk && devicePath.size() > kMaxDevicePath)
      status = kErrorInsufficientBuffer;
    if (status != kStatusOk) RaiseCode(u"SetupDiGetDeviceInterfaceDetail failed.", status);
    // The description only has to be readable; it is not kept.
    if (ReadProperty(platform.FriendlyName(set, index, friendlyName), friendlyName) &&
        ReadProperty(platform.DeviceDescription(set, index, description), description)) {
      ports.push_back(SSerInfo{devicePath, friendlyName});
    }
  }
}

void ListFixedNames(std::vector<SSerInfo>& ports) {
  for (uint32_t n = 1; n <= 16; ++n) {
    ports.push_back(SSerInfo{Text(kDevicePrefix) + u"COM" + DecimalText(n), Text()});
  }
}

// The index-th subkey name; false ends the enumeration of that level,
// whatever the reason (a name over 127 characters does not fit the buffer).
bool SubKeyName(PortPlatform& platform, PlatformHandle key, uint32_t index, Text& name) {
  return platform.EnumSubKey(key, index, name) == kStatusOk && name.size() <= kMaxKeyName;
}

bool StringValue(PortPlatform& platform, PlatformHandle key, const Text& valueName, Text& value) {
  return platform.QueryStringValue(key, valueName, value) == kStatusOk && value.size() <= kMaxValue;
}

void WalkInstances(std::vector<SSerInfo>& ports, PortPlatform& platform, PlatformHandle device) {
  Text instance;
  Text portName;
  Text friendlyName;
  for (uint32_t index = 0; SubKeyName(platform, device, index, instance); ++index) {
    PlatformHandle key = kNoHandle;
    if (platform.OpenKey(device, instance, key) != kStatusOk) {
      Raise(Text(kEnumPath) + u"\\...\\" + instance);
    }
    const KeyCloser closer(platform, key);
    if (!StringValue(platform, key, u"PORTNAME", portName)) continue;
    if (!StringValue(platform, key, u"FRIENDLYNAME", friendlyName)) friendlyName.clear();
    ports.push_back(SSerInfo{Text(kDevicePrefix) + portName, friendlyName});
  }
}

// Old systems list their ports below HKLM\Enum\<enumerator>\<device>\<instance>:
// the standard serial port devices under any enumerator, every device under
// the enumerator of USB ports.
void WalkRegistry(std::vector<SSerInfo>& ports, PortPlatform& platform) {
  PlatformHandle enumKey = kNoHandle;
  if (platform.OpenKey(kLocalMachineKey, u"Enum", enumKey) != kStatusOk) Raise(Text(kEnumPath));
  const KeyCloser enumCloser(platform, enumKey);
  Text enumerator;
  Text device;
  for (uint32_t i = 0; SubKeyName(platform, enumKey, i, enumerator); ++i) {
    PlatformHandle enumeratorKey = kNoHandle;
    if (platform.OpenKey(enumKey, enumerator, enumeratorKey) != kStatusOk) {
      Raise(Text(kEnumPath) + u"\\" + enumerator);
    }
    const KeyCloser enumeratorCloser(platform, enumeratorKey);
    const bool usbPorts = enumerator == u"USBPORTS";
    for (uint32_t j = 0; SubKeyName(platform, enumeratorKey, j, device); ++j) {
      if (!usbPorts && device != u"*PNP0500" && device != u"*PNP0501") continue;
      PlatformHandle deviceKey = kNoHandle;
      if (platform.OpenKey(enumeratorKey, device, deviceKey) != kStatusOk) {
        Raise(Text(kEnumPath) + u"\\" + enumerator + u"\\" + device);
      }
      const KeyCloser deviceCloser(platform, deviceKey);
      WalkInstances(ports, platform, deviceKey);
    }
  }
}

}  // namespace

void ListSerialPorts(std::vector<SSerInfo>& ports, PortPlatform& platform) {
  ports.clear();
  OsVersion version;
  if (const PlatformStatus status = platform.QueryVersion(version); status != kStatusOk) {
    RaiseCode(u"Could not get OS version.", status);
  }
  if (version.major >= 5) {
    ListDeviceInterfaces(ports, platform);
  } else if (version.platformId == kPlatformWin32Nt) {
    ListFixedNames(ports);
  } else {
    WalkRegistry(ports, platform);
  }
}

}  // namespace quorvel
