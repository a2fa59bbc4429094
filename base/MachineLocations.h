#pragma once
// Where the running machine keeps what the programs look up beyond their
// command line: the language switch, the program's own file and the serial
// devices (base/linux, base/win32).

#include <functional>
#include <optional>
#include <string>

#include "base/WideText.h"

namespace quorvel {

struct MachineLocations {
  // The machine-wide settings file that holds the language switch; empty
  // where the platform keeps the switch elsewhere.
  std::string languageSwitchPath;
  // Reads the language switch where the platform keeps it outside a file
  // (the registry on Windows); null where it lies in languageSwitchPath.
  std::function<std::optional<Text>()> languageSwitch;
  // Full path of the running program's file, with "/" between its parts;
  // empty when the system does not tell.
  std::string programPath;
  // Prefix that turns a port name into a device file.
  std::string deviceDir;
};

MachineLocations RunningMachineLocations();

}  // namespace quorvel
