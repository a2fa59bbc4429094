// Port names on POSIX systems: device files.

#include <filesystem>
#include <system_error>

#include "base/MachineLocations.h"
#include "cli/Flash.h"

namespace quorvel::cli {

std::string PortDevicePath(const std::string& name) {
  // A path from the root or from here ("./ttyX") as given; any other name
  // is below the machine's device folder (/dev/), also one in a subfolder
  // ("pts/3").
  if (name.starts_with('/') || name.starts_with("./") || name.starts_with("../")) return name;
  static const std::string deviceDir = RunningMachineLocations().deviceDir;
  return deviceDir + name;
}

std::string PortLabel(const std::string& devicePath) { return devicePath; }

std::string PortKey(const std::string& devicePath) {
  std::error_code ec;
  const std::string real = std::filesystem::weakly_canonical(devicePath, ec).string();
  return ec ? devicePath : real;
}

const char* PortNameExamples() { return "/dev/ttyUSB0 or ttyUSB0"; }

}  // namespace quorvel::cli
