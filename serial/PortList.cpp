#include "serial/PortList.h"

#include "serial/PortPlatform.h"

namespace quorvel {

void ListSerialPorts(std::vector<SSerInfo>& ports, PortPlatform&) { ports.clear(); }

PortPlatform& SystemPortPlatform() {
  static std::unique_ptr<PortPlatform> platform = MakeSysfsPortPlatform("/sys");
  return *platform;
}

std::unique_ptr<PortPlatform> MakeSysfsPortPlatform(std::string) {
  return std::make_unique<PortPlatform>();
}

}  // namespace quorvel
