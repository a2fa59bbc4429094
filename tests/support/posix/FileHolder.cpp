#include "support/FileHolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::test {

const bool kHoldLetsReadersIn = true;
const bool kHeldFileCanBeWritten = true;

bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

FileHolder::FileHolder(const Text& path, bool exclusive) {
  const int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  m_file = fd;
  m_held = fd >= 0 && ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
}

FileHolder::~FileHolder() {
  if (m_file >= 0) ::close(static_cast<int>(m_file));
}

}  // namespace quorvel::test
