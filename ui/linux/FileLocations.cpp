#include <unistd.h>

#include <climits>

#include "serial/PortLayer.h"
#include "ui/Environment.h"

namespace quorvel {

namespace {

// The running program's file, from the kernel's link to it.
std::string OwnExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

Environment Environment::System() {
  Environment env;
  // The machine-wide place of Qt-style settings for vendor "Vendrall",
  // application "Quorvel".
  env.languageSwitchPath = "/etc/xdg/Vendrall/Quorvel.conf";
  env.programPath = OwnExecutablePath();
  env.deviceDir = "/dev/";
  env.portPlatform = nullptr;
  return env;
}

}  // namespace quorvel
