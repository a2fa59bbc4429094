#include "support/FileHolder.h"

#include <windows.h>

#include <string>

#include "base/win32/WideChars.h"

namespace quorvel::test {

const bool kHoldLetsReadersIn = false;
const bool kHeldFileCanBeWritten = false;

bool MakeFifo(const std::string& path) {
  (void)path;
  return true;
}

FileHolder::FileHolder(const Text& path, bool exclusive) {
  const std::wstring name = ToWide(path);
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, exclusive ? 0 : FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  m_file = reinterpret_cast<intptr_t>(file);
  m_held = file != INVALID_HANDLE_VALUE;
}

FileHolder::~FileHolder() {
  if (m_held) CloseHandle(reinterpret_cast<HANDLE>(m_file));
}

}  // namespace quorvel::test
