// Checking a POSIX terminal the way PortOpen takes it: open for reading and
// writing, the advisory lock, the exclusive flag.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "serial/PortAccess.h"

namespace quorvel {

PortAccessResult CheckPortAccess(const std::string& devicePath) {
  if (devicePath.empty()) return {PortAccess::Missing, ENOENT};
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
      case ENOENT:
      case ENODEV:
      case ENXIO:
        return {PortAccess::Missing, error};
      case EACCES:
      case EPERM:
        return {PortAccess::NoPermission, error};
      case EBUSY:  // the exclusive flag of a terminal held by another program
        return {PortAccess::Held, error};
      default:
        return {PortAccess::Failed, error};
    }
  }
  PortAccessResult result{PortAccess::Available, 0};
  int exclusive = 0;
  if (!isatty(fd)) {
    result = {PortAccess::NotATerminal, ENOTTY};
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    result = {errno == EWOULDBLOCK ? PortAccess::Held : PortAccess::Failed, errno};
  } else if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    // Only root gets past the flag; the holder is still someone else.
    result = {PortAccess::Held, EBUSY};
  }
  close(fd);  // releases the lock as well
  return result;
}

}  // namespace quorvel
