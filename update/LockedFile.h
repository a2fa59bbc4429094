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

// What tells one state of a file's contents from another: its size and the
// time of its last change. A writer that does not lock (a copy under way)
// changes one or the other.
struct FileStamp {
  uint64_t size = 0;
  int64_t modifiedNs = 0;  // since the platform's epoch
  // How long before the stamp was taken the file was last changed; negative
  // for a change time in the future (a clock set back). Not compared.
  int64_t modifiedAgoMs = 0;

  bool SameContents(const FileStamp& other) const {
    return size == other.size && modifiedNs == other.modifiedNs;
  }
};

class LockedFile {
 public:
  LockedFile() = default;
  ~LockedFile() { Close(); }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  LockedFile(LockedFile&& other) noexcept;
  LockedFile& operator=(LockedFile&& other) noexcept;

  // Opens `path` read-only and locks it. False (nothing held) when the path
  // is empty, it is no regular file, it cannot be opened, or another holder
  // has it locked exclusively.
  bool Open(const Text& path);
  // Releases the file; harmless when nothing is held.
  void Close();
  bool IsOpen() const { return m_file != kNotHeld; }
  // Reads the next bytes: their count, 0 at the end, -1 on an error.
  ptrdiff_t Read(uint8_t* buffer, size_t size);
  // Goes back to the start, to read the held file again (its hash): on
  // Windows nobody else may open it meanwhile. False when nothing is held.
  bool Rewind();
  // The held file's stamp now. False when nothing is held, the file cannot
  // be looked at, or its path no longer names it (replaced or removed).
  bool Stamp(FileStamp& stamp) const;

 private:
  // A file descriptor on Linux, a HANDLE on Windows.
  static constexpr intptr_t kNotHeld = -1;
  intptr_t m_file = kNotHeld;
  Text m_path;
};

}  // namespace quorvel
