// Port names on Windows: "COM5", "com5" and "\\.\COM12" name the same kind
// of port, opened in the device namespace ("\\.\COM12") so that ports above
// COM9 open as the others do.

#include <cctype>
#include <string_view>

#include "cli/Flash.h"

namespace quorvel::cli {

std::string PortDevicePath(const std::string& name) {
  constexpr std::string_view kDeviceSpace = "\\\\.\\";
  std::string bare = name;
  if (bare.starts_with(kDeviceSpace)) bare.erase(0, kDeviceSpace.size());
  else if (bare.find_first_of("\\/:") != std::string::npos) return name;  // a path of another kind, as given
  // "com5" is COM5: the names of COM ports take no letter case.
  const bool com = bare.size() > 3 &&
                   std::toupper(static_cast<unsigned char>(bare[0])) == 'C' &&
                   std::toupper(static_cast<unsigned char>(bare[1])) == 'O' &&
                   std::toupper(static_cast<unsigned char>(bare[2])) == 'M' &&
                   bare.find_first_not_of("0123456789", 3) == std::string::npos;
  if (com) bare = "COM" + bare.substr(3);
  return std::string(kDeviceSpace) + bare;
}

std::string PortLabel(const std::string& devicePath) {
  constexpr std::string_view kDeviceSpace = "\\\\.\\";
  const std::string path = PortDevicePath(devicePath);
  const std::string bare = path.substr(kDeviceSpace.size());
  const bool com = path.starts_with(kDeviceSpace) && bare.starts_with("COM") && bare.size() > 3 &&
                   bare.find_first_not_of("0123456789", 3) == std::string::npos;
  return com ? bare : path;
}

// A COM port has no other name in the device namespace than the one
// PortDevicePath gives it.
std::string PortKey(const std::string& devicePath) { return PortDevicePath(devicePath); }

const char* PortNameExamples() { return "\\\\.\\COM12, com5 or COM5"; }

}  // namespace quorvel::cli
