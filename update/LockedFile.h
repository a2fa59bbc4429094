#pragma once
// An update file opened read-only and held without sharing: while it is
// held, no other holder can take it (an exclusive, non-blocking flock on
// Linux, a handle opened without sharing on Windows). The hold goes with the
// file when it is closed.

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
  // is empty, the file cannot be opened, or another holder has it locked.
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
