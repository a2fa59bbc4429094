#include "update/LockedFile.h"

#include <windows.h>

#include <string>
#include <utility>

#include "base/win32/WideChars.h"

namespace quorvel {

bool LockedFile::Open(const Text& path) {
  Close();
  if (path.empty() || path.find(u'\0') != Text::npos) return false;
  const std::wstring name = ToWide(path);
  // Only a regular file is an update file: a pipe could block the read for
  // good and opening a device can act on it, so anything else is refused
  // before it is opened, and again after (it may have been replaced).
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return false;
  }
  // No sharing: the open fails while anyone else has the file open, and
  // nobody can open it while we hold it.
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  m_file = reinterpret_cast<intptr_t>(file);
  m_path = path;
  return true;
}

bool LockedFile::Stamp(FileStamp& stamp) const {
  // Held without sharing, the file can be neither written, renamed nor
  // removed meanwhile: the handle tells all.
  if (m_file == kNotHeld) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(m_file), &info)) return false;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {  // 100 ns steps
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  stamp.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modifiedNs = ticks(info.ftLastWriteTime) * 100;
  stamp.modifiedAgoMs = (ticks(now) - ticks(info.ftLastWriteTime)) / 10'000;
  return true;
}

void LockedFile::Close() {
  if (m_file == kNotHeld) return;
  CloseHandle(reinterpret_cast<HANDLE>(m_file));
  m_file = kNotHeld;
}

ptrdiff_t LockedFile::Read(uint8_t* buffer, size_t size) {
  if (m_file == kNotHeld) return -1;
  DWORD got = 0;
  const auto want = static_cast<DWORD>(size > 0x10000000 ? 0x10000000 : size);
  if (!ReadFile(reinterpret_cast<HANDLE>(m_file), buffer, want, &got, nullptr)) return -1;
  return static_cast<ptrdiff_t>(got);
}

bool LockedFile::Rewind() {
  return m_file != kNotHeld && SetFilePointerEx(reinterpret_cast<HANDLE>(m_file), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
}

}  // namespace quorvel
