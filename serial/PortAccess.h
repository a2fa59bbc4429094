#pragma once
// Why a serial port cannot be taken, found before opening it for use, so
// that a command-line user is told what to do: the device file is missing,
// the user lacks permission, or another program holds the port.

#include <string>

namespace quorvel {

enum class PortAccess {
  Available,     // opened and released again: PortOpen should succeed
  Missing,       // no such device file
  NoPermission,  // the user may not open it for reading and writing
  Held,          // another program has it open exclusively
  NotATerminal,  // a file, but not a serial port
  Failed,        // any other error; see `error`
};

struct PortAccessResult {
  PortAccess access = PortAccess::Failed;
  int error = 0;  // the errno of the failing step, 0 when none
};

// Opens `devicePath` as PortOpen would, without changing its settings, and
// closes it again.
PortAccessResult CheckPortAccess(const std::string& devicePath);

}  // namespace quorvel
