#include "update/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace quorvel {

bool LockedFile::Open(const Text& path) {
  Close();
  if (path.empty() || path.find(u'\0') != Text::npos) return false;
  const std::string name = ToUtf8(path);
  // Only a regular file is an update file. A FIFO would block the open or
  // the read for good, and opening a device can act on it (a serial port
  // raises its modem lines), so anything else is refused before it is
  // opened, and again after (it may have been replaced in between).
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  int fd;
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  // A shared lock: it keeps out every writer that locks the file, and, unlike
  // an exclusive lock on a read-only descriptor, NFS grants it.
  int locked;
  do {
    locked = ::flock(fd, LOCK_SH | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    ::close(fd);
    return false;
  }
  m_file = fd;
  return true;
}

void LockedFile::Close() {
  if (m_file == kNotHeld) return;
  ::close(static_cast<int>(m_file));
  m_file = kNotHeld;
}

ptrdiff_t LockedFile::Read(uint8_t* buffer, size_t size) {
  if (m_file == kNotHeld) return -1;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(m_file), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace quorvel
