#include "update/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <utility>

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
  m_path = path;
  return true;
}

bool LockedFile::Stamp(FileStamp& stamp) const {
  if (m_file == kNotHeld) return false;
  struct stat held {};
  struct stat named {};
  if (::fstat(static_cast<int>(m_file), &held) != 0) return false;
  // A file renamed over the path, or the path removed: what the path names
  // now is not what was read.
  if (::stat(ToUtf8(m_path).c_str(), &named) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    return false;
  }
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  stamp.size = static_cast<uint64_t>(held.st_size);
  stamp.modifiedNs = static_cast<int64_t>(held.st_mtim.tv_sec) * 1'000'000'000 + held.st_mtim.tv_nsec;
  const int64_t nowNs = static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  stamp.modifiedAgoMs = (nowNs - stamp.modifiedNs) / 1'000'000;
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

bool LockedFile::Rewind() {
  return m_file != kNotHeld && ::lseek(static_cast<int>(m_file), 0, SEEK_SET) == 0;
}

}  // namespace quorvel
