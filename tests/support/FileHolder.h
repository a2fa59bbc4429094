#pragma once
// Another program's hold on a file, as the platform takes one: a lock of its
// own (flock) on Linux, an open handle with or without sharing on Windows.

#include <cstdint>
#include <string>

#include "base/WideText.h"

namespace quorvel::test {

// Whether the program's own hold on an update file lets other readers in
// (Linux: a shared lock) or keeps out every other opener (Windows).
extern const bool kHoldLetsReadersIn;
// Whether a writer that takes no lock can still change a held file (Linux);
// on Windows the hold keeps out every writer.
extern const bool kHeldFileCanBeWritten;

// A FIFO at `path` that nobody writes, where the platform has them; on
// Windows it makes nothing, and the missing path is refused all the same.
bool MakeFifo(const std::string& path);

class FileHolder {
 public:
  // `exclusive`: nobody else may hold the file; otherwise other readers may.
  FileHolder(const Text& path, bool exclusive);
  ~FileHolder();
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  bool Held() const { return m_held; }

 private:
  intptr_t m_file = -1;
  bool m_held = false;
};

}  // namespace quorvel::test
