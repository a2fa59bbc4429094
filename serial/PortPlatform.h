#pragma once
// The platform layer behind ListSerialPorts: the few queries its three
// methods make of the operating system, in the shape of the calls they were
// first written against (a version query, the device-interface set of the
// serial ports and a read-only registry view). Every query returns a status
// code, 0 for success; any other value is the platform's own error code
// (errno values on Linux), which ListSerialPorts puts into its error texts.
// Buffer limits are not the platform's business: ListSerialPorts applies
// them to the texts returned here.

#include <cstdint>
#include <memory>
#include <string>

#include "base/WideText.h"

namespace quorvel {

using PlatformStatus = uint32_t;
constexpr PlatformStatus kStatusOk = 0;
// A text does not fit the caller's buffer.
constexpr PlatformStatus kErrorInsufficientBuffer = 0x7a;
// An enumeration index past the last item.
constexpr PlatformStatus kErrorNoMoreItems = 259;
// A key or value that does not exist.
constexpr PlatformStatus kErrorFileNotFound = 2;

// Opaque handle of an interface set or a registry key; 0 is never valid.
using PlatformHandle = uint64_t;
constexpr PlatformHandle kNoHandle = 0;
// The root of the registry view, always open, never closed.
constexpr PlatformHandle kLocalMachineKey = 0x80000002;

// Platform ids the version query reports.
constexpr uint32_t kPlatformWin32Windows = 1;
constexpr uint32_t kPlatformWin32Nt = 2;

struct OsVersion {
  uint32_t major = 0;
  uint32_t platformId = 0;
};

class PortPlatform {
 public:
  virtual ~PortPlatform() = default;

  virtual PlatformStatus QueryVersion(OsVersion& version) = 0;

  // The serial ports present now, as a set of device interfaces. The set is
  // a snapshot: what is read from it does not change until it is closed.
  virtual PlatformStatus OpenPortInterfaces(PlatformHandle& set) = 0;
  // kStatusOk while `index` names an interface of the set, kErrorNoMoreItems
  // past the last one, another code on a failure.
  virtual PlatformStatus EnumInterface(PlatformHandle set, uint32_t index) = 0;
  virtual PlatformStatus InterfacePath(PlatformHandle set, uint32_t index, Text& devicePath) = 0;
  virtual PlatformStatus FriendlyName(PlatformHandle set, uint32_t index, Text& name) = 0;
  virtual PlatformStatus DeviceDescription(PlatformHandle set, uint32_t index,
                                           Text& description) = 0;
  virtual void CloseInterfaces(PlatformHandle set) = 0;

  // Read-only registry view. OpenKey opens `subKey` (one name, exact) below
  // `parent`; EnumSubKey gives the name of the parent's index-th subkey.
  virtual PlatformStatus OpenKey(PlatformHandle parent, const Text& subKey,
                                 PlatformHandle& key) = 0;
  virtual PlatformStatus EnumSubKey(PlatformHandle key, uint32_t index, Text& name) = 0;
  virtual PlatformStatus QueryStringValue(PlatformHandle key, const Text& valueName,
                                          Text& value) = 0;
  virtual void CloseKey(PlatformHandle key) = 0;
};

// The Linux platform reading the kernel's sysfs below `sysfsRoot` ("/sys").
std::unique_ptr<PortPlatform> MakeSysfsPortPlatform(std::string sysfsRoot);

// The Windows platform: the version record, the device installation
// services and the registry of the running machine.
std::unique_ptr<PortPlatform> MakeWin32PortPlatform();

}  // namespace quorvel
