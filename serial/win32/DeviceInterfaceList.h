#pragma once
// The walk of the COM-port device interfaces behind the Windows port list,
// over the few questions it asks of the device installation services, so
// that a test can answer them (with failures at chosen places).

#include <windows.h>

#include <optional>
#include <vector>

#include "serial/PortList.h"

namespace quorvel {

// One snapshot of the present COM-port interfaces, read by index.
class DeviceInterfaceSet {
 public:
  virtual ~DeviceInterfaceSet() = default;
  // ERROR_SUCCESS while `index` names an interface, ERROR_NO_MORE_ITEMS past
  // the last one, another code on a failure.
  virtual DWORD Enum(DWORD index) = 0;
  // The interface's path, whole; an error code on a failure.
  virtual DWORD Path(DWORD index, Text& path) = 0;
  // A text property of the interface's device (SPDRP_...); nullopt when it
  // cannot be read.
  virtual std::optional<Text> Property(DWORD index, DWORD property) = 0;
  // The device's instance id ("USB\VID_10C4&PID_EA60\0001"); empty when
  // it cannot be read.
  virtual Text InstanceId(DWORD index) = 0;
};

// Appends a port for each interface of `set`, in its order:
// - device path: the interface's path; one longer than 128 characters (the
//   detail buffer's room) ends the walk with an error, as any failure to
//   read a path does, and so does a failed enumeration;
// - friendly name and description: the device's properties; an interface
//   whose friendly name or description cannot be read, or is longer than
//   255 characters, is left out;
// - name: CutComName of the friendly name;
// - for a device whose hardware id names USB identifiers: those, the serial
//   number (the instance id's last part) and the location text.
// Error texts name the call that failed and its code in lower-case hex.
PortListError WalkDeviceInterfaces(DeviceInterfaceSet& set, std::vector<SSerInfo>& ports);

// The message of a failed call: "<call> (err=<code in lower-case hex>)".
PortListError CallFailure(const char16_t* call, DWORD code);

}  // namespace quorvel
