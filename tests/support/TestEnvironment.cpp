#include "support/TestEnvironment.h"

#include "serial/PortPlatform.h"

namespace quorvel::test {

Environment TestEnvironment::Make(const std::string& dir, PortPlatform* ports) {
  Environment env;
  env.languageSwitchPath = dir + "/no-such-switch.conf";
  env.programPath = dir + "/quorvel";
  env.deviceDir = dir + "/";
  env.portPlatform = ports != nullptr ? ports : &NoPortsPlatform();
  env.pauseMs = [this](uint32_t ms) { pauses.push_back(ms); };
  return env;
}

PortPlatform& NoPortsPlatform() {
  // sysfs below a directory that does not exist: no ports.
  static auto platform = MakeSysfsPortPlatform("/nonexistent-quorvel-sysfs");
  return *platform;
}

}  // namespace quorvel::test
