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
  if (m_fd >= 0) close(m_fd);
}

bool StationLog::Open(const std::string& path, std::string& error) {
  m_path = path;
  m_fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (m_fd < 0) error = ErrnoText(errno);
  return m_fd >= 0;
}

bool StationLog::Append(const std::string& line, std::string& error) {
  ssize_t n;
  do n = write(m_fd, line.data(), line.size());
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
  do synced = fdatasync(m_fd);
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
