#pragma once
// Placeholder: the platform layer behind ListSerialPorts (to be filled in).

#include <memory>
#include <string>

#include "serial/PortList.h"

namespace quorvel {

class PortPlatform {
 public:
  virtual ~PortPlatform() = default;
};

// The Linux platform reading the kernel's sysfs below `sysfsRoot` ("/sys").
std::unique_ptr<PortPlatform> MakeSysfsPortPlatform(std::string sysfsRoot);

}  // namespace quorvel
