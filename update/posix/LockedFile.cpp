#include "update/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace quorvel {

bool LockedFile::Open(const Text& path) {
  Close();
  if (path.empty() || path.find(u'\0') != Text::npos) return false;
  const std::string name = ToUtf8(path);
  int fd;
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
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
