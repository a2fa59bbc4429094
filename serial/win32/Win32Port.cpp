// The serial port layer on Win32 serial communications. The port is opened
// without sharing, for overlapped transfers that each complete through an
// event of their own; the driver applies no time-outs, so a read finishes
// only when its whole count has arrived and the one time limit is the wait
// on the event.

#include <windows.h>

#include <cerrno>

#include "base/WideText.h"
#include "serial/PortLayer.h"

namespace quorvel {
namespace {

HANDLE AsHandle(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The device names that OpenPort accepts: "\\.\" + a port name, as the port
// list and the caller's device prefix form them. UTF-8 in, UTF-16 out.
std::wstring WidePath(const std::string& path) {
  const Text text = FromUtf8(path);
  return std::wstring(text.begin(), text.end());
}

// One overlapped transfer of `count` bytes: started, then waited for up to
// `waitMs` (INFINITE for none). A transfer that does not finish in time is
// cancelled, and the call returns only once the driver has let go of the
// buffer and of the completion record: a cancelled read never writes into
// memory its caller has moved on from. Returns the bytes moved.
// Waits for the event up to `waitMs`; with a hook, in slices of at most
// kWaitHookPeriodMs with the hook called between them, to the same deadline.
DWORD WaitForTransfer(HANDLE event, DWORD waitMs, const WaitHook* hook) {
  if (hook == nullptr || waitMs == INFINITE) return WaitForSingleObject(event, waitMs);
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD waited = WaitForSingleObject(event, left < kWaitHookPeriodMs ? left : kWaitHookPeriodMs);
    if (waited != WAIT_TIMEOUT || left == 0) return waited;
    (*hook)();
  }
}

template <typename Start>
DWORD Transfer(HANDLE port, DWORD waitMs, Start start, const WaitHook* hook = nullptr) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return 0;
  OVERLAPPED ov{};
  ov.hEvent = event;
  DWORD moved = 0;
  if (!start(&ov, &moved)) {
    moved = 0;
    if (GetLastError() == ERROR_IO_PENDING) {
      const DWORD waited = WaitForTransfer(event, waitMs, hook);
      if (waited == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(port, &ov, &moved, FALSE)) moved = 0;
      } else {
        CancelIo(port);
        // Whatever arrived before the cancel took effect is counted but
        // makes no whole transfer; what matters is that it has ended.
        GetOverlappedResult(port, &ov, &moved, TRUE);
        moved = 0;
      }
    }
  }
  CloseHandle(event);
  return moved;
}

// The failed step with an errno-style reason, as the port layer reports it
// on every platform. Windows says "access denied" for a port that another
// program has open.
PortHandle Failed(PortError* error, const std::string& devicePath, PortStep step, DWORD code) {
  if (error != nullptr) {
    error->devicePath = devicePath;
    error->step = step;
    switch (code) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND: error->error = ENOENT; break;
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION: error->error = EBUSY; break;
      default: error->error = EIO; break;
    }
  }
  return kInvalidPort;
}

}  // namespace

PortHandle PortOpen(const std::string& devicePath, uint32_t baudRate, PortError* error) {
  if (error != nullptr) *error = PortError{};
  if (devicePath.empty()) return Failed(error, devicePath, PortStep::Name, ERROR_FILE_NOT_FOUND);
  if (baudRate == 0) return Failed(error, devicePath, PortStep::Rate, ERROR_INVALID_PARAMETER);
  // No sharing: a port that another program holds cannot be opened, and no
  // other program can open ours while we hold it.
  HANDLE port = CreateFileW(WidePath(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) return Failed(error, devicePath, PortStep::Open, GetLastError());

  COMMTIMEOUTS timeouts{};  // all zero: no driver time-outs
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!SetCommTimeouts(port, &timeouts) || !GetCommState(port, &dcb)) {
    const DWORD code = GetLastError();
    CloseHandle(port);
    return Failed(error, devicePath, PortStep::Settings, code);
  }
  // 8N1 at the model's rate, and raw data: the records carry every byte
  // value, so a port left with XON/XOFF or hardware flow control by another
  // program would swallow 0x11/0x13 or hold the writes forever. Handshake
  // lines stay asserted; everything else stays as the port has it.
  dcb.BaudRate = baudRate;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
  if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  }
  if (!SetCommState(port, &dcb)) {
    const DWORD code = GetLastError();
    CloseHandle(port);
    return Failed(error, devicePath, PortStep::Settings, code);
  }
  PurgeComm(port, kPurgeAll);  // leftovers of an earlier user; the result does not matter
  return reinterpret_cast<PortHandle>(port);
}

void PortClose(PortHandle port) {
  if (port == kInvalidPort) return;
  // Output still pending is discarded, so that the close does not wait for
  // a stalled adapter to send it.
  PurgeComm(AsHandle(port), PURGE_TXABORT | PURGE_TXCLEAR);
  CloseHandle(AsHandle(port));
}

bool PortPurge(PortHandle port) { return PurgeComm(AsHandle(port), kPurgeAll) != 0; }

bool PortDiscardInput(PortHandle port) { return PurgeComm(AsHandle(port), PURGE_RXCLEAR) != 0; }

bool PortWriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                  const WaitHook* whileWaiting) {
  if (count == 0) return true;
  HANDLE h = AsHandle(port);
  const auto size = static_cast<DWORD>(count);
  // Bounded by the caller's time for the bytes on the line: a stalled
  // adapter that neither takes nor sends them fails the write (cancelled)
  // instead of holding the program.
  const DWORD waitMs = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
  return Transfer(
             h, waitMs,
             [&](OVERLAPPED* ov, DWORD* moved) { return WriteFile(h, data, size, moved, ov) != 0; },
             whileWaiting) == size;
}

size_t PortReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                   const WaitHook* whileWaiting) {
  if (count == 0) return 0;
  HANDLE h = AsHandle(port);
  const auto size = static_cast<DWORD>(count);
  // INFINITE is 0xFFFFFFFF: the largest wait asked for stays a bounded one.
  const DWORD waitMs = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
  return Transfer(
      h, waitMs,
      [&](OVERLAPPED* ov, DWORD* moved) { return ReadFile(h, buffer, size, moved, ov) != 0; },
      whileWaiting);
}

uint64_t MonotonicMs() { return GetTickCount64(); }

void SleepMs(uint32_t ms) {
  // Sleep may wake a little early on a coarse timer; wait out the rest so a
  // pause is never shorter than asked.
  const uint64_t until = MonotonicMs() + ms;
  for (uint64_t now = MonotonicMs(); now < until; now = MonotonicMs()) {
    Sleep(static_cast<DWORD>(until - now));
  }
}

}  // namespace quorvel
