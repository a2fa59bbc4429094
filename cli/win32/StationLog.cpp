// The station's log on Windows: a file opened for appending only
// (FILE_APPEND_DATA), so that each WriteFile lands whole at its end, also
// with other stations writing the same file (it is shared for reading and
// writing); FlushFileBuffers puts it on the disk before the result is shown.

#include <windows.h>

#include "base/win32/WideChars.h"
#include "cli/Station.h"
#include "cli/win32/Console.h"

namespace quorvel::cli {

namespace {

HANDLE Handle(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

StationLog::~StationLog() {
  if (m_file != -1) CloseHandle(Handle(m_file));
}

bool StationLog::Open(const std::string& path, std::string& error) {
  m_path = path;
  const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  m_file = reinterpret_cast<intptr_t>(file);
  return true;
}

bool StationLog::Append(const std::string& line, std::string& error) {
  DWORD written = 0;
  if (!WriteFile(Handle(m_file), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  if (written != line.size()) {
    error = "the line was written in part only (disk full?)";
    return false;
  }
  if (!FlushFileBuffers(Handle(m_file))) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  return true;
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  return ToUtf8(FromWide(name, size));
}

}  // namespace quorvel::cli
