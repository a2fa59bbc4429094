// Checking a Windows COM port the way PortOpen takes it: opened for reading
// and writing without sharing, and a serial port's settings readable. The
// reasons are told as the errno values the POSIX check gives.

#include <windows.h>

#include <cerrno>

#include "base/win32/WideChars.h"
#include "serial/PortAccess.h"

namespace quorvel {

PortAccessResult CheckPortAccess(const std::string& devicePath) {
  if (devicePath.empty()) return {PortAccess::Missing, ENOENT};
  const HANDLE port = CreateFileW(WideFromUtf8(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    switch (GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_BAD_PATHNAME:
      case ERROR_INVALID_NAME:
        return {PortAccess::Missing, ENOENT};
      // A COM port opened by another program refuses every other opener.
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
        return {PortAccess::Held, EBUSY};
      default:
        return {PortAccess::Failed, EIO};
    }
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const PortAccessResult result =
      GetCommState(port, &dcb) ? PortAccessResult{PortAccess::Available, 0} : PortAccessResult{PortAccess::NotATerminal, ENOTTY};
  CloseHandle(port);
  return result;
}

}  // namespace quorvel
