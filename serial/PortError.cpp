#include "serial/PortError.h"

#include <cerrno>
#include <system_error>

namespace quorvel {

namespace {

const char* StepName(PortStep step) {
  switch (step) {
    case PortStep::Name: return "no device for the name";
    case PortStep::Rate: return "the line rate";
    case PortStep::Open: return "open";
    case PortStep::Terminal: return "not a terminal";
    case PortStep::Lock: return "lock";
    case PortStep::Exclusive: return "exclusive use";
    case PortStep::Settings: return "line settings";
    case PortStep::None: break;
  }
  return "";
}

}  // namespace

PortFailure ClassifyPortError(const PortError& error) {
  if (!error.Failed()) return PortFailure::None;
  // Held elsewhere: the lock or the exclusive mode is another program's.
  if (error.step == PortStep::Lock || error.step == PortStep::Exclusive) return PortFailure::Busy;
  if (error.step == PortStep::Name || error.step == PortStep::Rate) return PortFailure::Other;
  switch (error.error) {
    case EACCES:
    case EPERM: return PortFailure::Permission;
    case EBUSY: return PortFailure::Busy;  // the kernel's refusal of an exclusive terminal
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO: return PortFailure::Gone;
    default: return PortFailure::Other;
  }
}

Text PortErrorMessage(const PortError& error) {
  const std::string port = error.devicePath.empty() ? std::string("(no name)") : error.devicePath;
  std::string line;
  switch (ClassifyPortError(error)) {
    case PortFailure::None: return {};
    case PortFailure::Permission:
      line = "No permission to open the adapter's port " + port +
             ": install the package's udev rule, or add your user to the group dialout and log in "
             "again.";
      break;
    case PortFailure::Busy:
      line = "The adapter's port " + port + " is held by another program: close that program.";
      break;
    case PortFailure::Gone:
      line = "The adapter's port " + port + " has gone away: plug the adapter in again.";
      break;
    case PortFailure::Other:
      line = "The adapter's port " + port + " cannot be used (" + StepName(error.step) + ": " +
             std::error_code(error.error, std::generic_category()).message() + ").";
      break;
  }
  return FromUtf8(line);
}

}  // namespace quorvel
