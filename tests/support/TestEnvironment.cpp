#include "support/TestEnvironment.h"

#include "support/FakePortPlatform.h"

namespace quorvel::test {

Environment TestEnvironment::Make(const std::string& dir, PortPlatform* ports) {
  Environment env;
  env.languageSwitchPath = dir + "/no-such-switch.conf";
  env.programPath = dir + "/quorvel";
  env.deviceDir = dir + "/";
  env.portPlatform = ports != nullptr ? ports : &NoPortsPlatform();
  env.pauseMs = [this](uint32_t ms) { pauses.push_back(ms); };
  env.fileWaitMs = [this](uint32_t ms) { fileWaits.push_back(ms); };
  return env;
}

PortPlatform& NoPortsPlatform() {
  // No ports, on every platform.
  static FakePortPlatform platform;
  return platform;
}

}  // namespace quorvel::test
