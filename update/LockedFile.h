#pragma once
// An update file opened read-only and held without sharing: while it is
// held, no other holder can take it (an exclusive, non-blocking flock). The
// lock goes with the file when it is closed.

#include "base/WideText.h"

namespace quorvel {

class LockedFile {
 public:
  LockedFile() = default;
  ~LockedFile() { Close(); }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Opens `path` read-only and locks it. False (nothing held) when the path
  // is empty, the file cannot be opened, or another holder has it locked.
  bool Open(const Text& path);
  // Releases the file; harmless when nothing is held.
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  int Descriptor() const { return m_fd; }

 private:
  int m_fd = -1;
};

}  // namespace quorvel
