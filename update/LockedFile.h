#pragma once
// An update file opened read-only and held against change while a job sends
// it. On Linux a shared, non-blocking flock keeps out every holder of an
// exclusive lock (a writer that locks), while other readers may hold it too;
// on Windows a handle opened without sharing keeps out every other opener.
// The hold goes with the file when it is closed.

#include <cstddef>
#include <cstdint>

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
  bool IsOpen() const { return m_file != kNotHeld; }
  // Reads the next bytes: their count, 0 at the end, -1 on an error.
  ptrdiff_t Read(uint8_t* buffer, size_t size);

 private:
  // A file descriptor on Linux, a HANDLE on Windows.
  static constexpr intptr_t kNotHeld = -1;
  intptr_t m_file = kNotHeld;
};

}  // namespace quorvel
