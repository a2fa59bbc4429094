#pragma once
// Where ListSerialPorts takes the ports from: one listing call per platform
// (serial/linux, serial/win32), and whatever a test or the demo puts in
// their place.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/PortList.h"

namespace quorvel {

class PortPlatform {
 public:
  virtual ~PortPlatform() = default;
  // Appends every serial port present now to `ports`, which is empty.
  virtual PortListError ListPorts(std::vector<SSerInfo>& ports) = 0;
};

// The Linux listing: the kernel's sysfs below `sysfsRoot` ("/sys").
PortListError ListSysfsPorts(const std::string& sysfsRoot, std::vector<SSerInfo>& ports);
std::unique_ptr<PortPlatform> MakeSysfsPortPlatform(std::string sysfsRoot);

// The Windows listing: the COM-port device interfaces of the device
// installation services.
PortListError ListDeviceInterfacePorts(std::vector<SSerInfo>& ports);

// Text helpers of the listings, free of any platform.

// The port name inside a Windows friendly name: from the first "COM" (or the
// start when there is none) up to, not including, the next ")"; empty
// without ")". "USB to UART Bridge (COM7)" gives "COM7".
Text CutComName(const Text& friendlyName);

// The USB identifiers inside a device's hardware or instance id
// ("USB\VID_10C4&PID_EA60&REV_0100"): four hex digits after "VID_" and
// "PID_", letter case ignored. False, leaving the outputs, without both.
bool ParseUsbIds(const Text& hardwareId, uint16_t& vendorId, uint16_t& productId);

}  // namespace quorvel
