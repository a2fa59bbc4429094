#include "ui/Environment.h"

#include <utility>

#include "base/MachineLocations.h"

namespace quorvel {

Environment Environment::System() {
  MachineLocations places = RunningMachineLocations();
  Environment env;
  env.languageSwitchPath = std::move(places.languageSwitchPath);
  env.languageSwitch = std::move(places.languageSwitch);
  env.programPath = std::move(places.programPath);
  env.deviceDir = std::move(places.deviceDir);
  return env;
}

}  // namespace quorvel
