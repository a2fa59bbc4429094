#pragma once
// An update file opened read-only and held against change: while it is
// held, no holder of an exclusive lock (a writer that locks) can take it (a
// shared, non-blocking flock; other readers may hold it too). The lock goes
// with the file when it is closed.

#include "base/WideText.h"

namespace quorvel {

class LockedFile {
 public:
  LockedFile() = default;
  ~LockedFile() { Close(); }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Opens `path` read-only and locks it. False (nothing held) when the path
  // is empty, it is no regular file, it cannot be opened, or another holder
  // has it locked exclusively.
  bool Open(const Text& path);
  // Releases the file; harmless when nothing is held.
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  int Descriptor() const { return m_fd; }

 private:
  int m_fd = -1;
};

}  // namespace quorvel
