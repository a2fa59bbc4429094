// The station's log on POSIX systems: O_APPEND makes each write land whole
// at the end, also with other stations writing the same file; fdatasync
// puts it on the disk before the result is shown.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "cli/Station.h"

namespace quorvel::cli {

StationLog::~StationLog() {
  if (m_file >= 0) close(static_cast<int>(m_file));
}

bool StationLog::Open(const std::string& path, std::string& error) {
  m_path = path;
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) error = ErrnoText(errno);
  m_file = fd;
  return fd >= 0;
}

bool StationLog::Append(const std::string& line, std::string& error) {
  const int fd = static_cast<int>(m_file);
  ssize_t n;
  do n = write(fd, line.data(), line.size());
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    error = ErrnoText(errno);
    return false;
  }
  if (static_cast<size_t>(n) != line.size()) {
    error = "the line was written in part only (disk full?)";
    return false;
  }
  int synced;
  do synced = fdatasync(fd);
  while (synced != 0 && errno == EINTR);
  if (synced != 0) {
    error = ErrnoText(errno);
    return false;
  }
  return true;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace quorvel::cli
