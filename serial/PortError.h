#pragma once
// Why a port could not be opened: the system's error number and the step of
// the opening that failed, kept so that the user can be told why the adapter
// stays unusable (no permission, another program holds the port, it has gone
// away) instead of it looking absent.

#include <string>

#include "base/WideText.h"

namespace quorvel {

// The steps of opening a port, in their order.
enum class PortStep {
  None,      // nothing failed
  Name,      // no device file for the name
  Rate,      // the line rate has no setting
  Open,      // opening the device file
  Terminal,  // the device file is no terminal
  Lock,      // the advisory lock, held by another program
  Exclusive, // the terminal's exclusive mode, set by another program
  Settings,  // applying and checking raw 8N1 at the rate
};

struct PortError {
  std::string devicePath;  // the device file that was to be opened
  int error = 0;           // errno of the failed step
  PortStep step = PortStep::None;

  bool Failed() const { return step != PortStep::None; }
};

// What a failed open means to the user.
enum class PortFailure { None, Permission, Busy, Gone, Other };

PortFailure ClassifyPortError(const PortError& error);

// One line that names the port and the remedy, for the hint field and
// standard error; empty when nothing failed.
Text PortErrorMessage(const PortError& error);

}  // namespace quorvel
