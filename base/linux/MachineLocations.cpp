// The running machine's locations on Linux: the language switch in the
// machine-wide settings, the program's file from /proc, serial ports under
// /dev/ (or QUORVEL_DEV_ROOT, where tests put links to simulated adapters).

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "base/MachineLocations.h"

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

MachineLocations RunningMachineLocations() {
  MachineLocations places;
  // The machine-wide place of Qt-style settings for vendor "Vendrall",
  // application "Quorvel".
  places.languageSwitchPath = "/etc/xdg/Vendrall/Quorvel.conf";
  places.programPath = OwnExecutablePath();
  const char* devRoot = std::getenv("QUORVEL_DEV_ROOT");  // NOLINT(concurrency-mt-unsafe): no setenv here
  places.deviceDir = devRoot != nullptr && *devRoot != '\0' ? std::string(devRoot) + "/" : "/dev/";
  return places;
}

}  // namespace quorvel
