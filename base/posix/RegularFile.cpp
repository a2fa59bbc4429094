// Reading a short text file whole, without ever blocking on what is not a
// regular file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/RegularFile.h"

namespace quorvel {

std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes) {
  // Checked before opening (opening a device can act on it) and again on the
  // opened file, which may have been replaced in between; the open does not
  // wait, even for a FIFO.
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  bool readable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  while (readable && bytes.size() < maxBytes) {
    char block[4096];
    const ssize_t got = ::read(fd, block, std::min(sizeof block, maxBytes - bytes.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readable = false;
    if (got <= 0) break;
    bytes.append(block, static_cast<size_t>(got));
  }
  ::close(fd);
  if (!readable) return std::nullopt;
  return bytes;
}

}  // namespace quorvel
