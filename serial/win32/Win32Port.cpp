// The serial port layer on Win32 serial communications. The port is opened
// without sharing, for overlapped transfers that each complete through an
// event of their own; the driver applies no time-outs, so a read finishes
// only when its whole count has arrived and the one time limit is the wait
// on the event.

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "base/win32/WideChars.h"
#include "serial/BoundedClose.h"
#include "serial/PortLayer.h"

namespace quorvel {
namespace {

HANDLE AsHandle(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

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

// What the driver holds while a transfer is pending: the completion record,
// its event and the bytes. They live on the heap, apart from the caller's
// memory, so that a driver that does not let go of a cancelled transfer
// keeps them (leaked) and never writes into or reads from memory its caller
// has moved on from.
struct PendingTransfer {
  OVERLAPPED ov{};
  std::vector<uint8_t> bytes;
};

// One overlapped transfer of `pending->bytes`: started, then waited for up to
// `waitMs`. A transfer that does not finish in time is cancelled, and waited
// for up to kPortLetGoMs more; should the driver still hold it, `pending` is
// left empty. Returns the bytes moved.
template <typename Start>
DWORD Transfer(HANDLE port, DWORD waitMs, std::unique_ptr<PendingTransfer>& pending, Start start,
               const WaitHook* hook) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return 0;
  OVERLAPPED* ov = &pending->ov;
  ov->hEvent = event;
  DWORD moved = 0;
  if (!start(ov, pending->bytes.data(), &moved)) {
    moved = 0;
    if (GetLastError() == ERROR_IO_PENDING) {
      const DWORD waited = WaitForTransfer(event, waitMs, hook);
      if (waited == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(port, ov, &moved, FALSE)) moved = 0;
      } else {
        CancelIo(port);
        if (WaitForSingleObject(event, kPortLetGoMs) != WAIT_OBJECT_0) {
          (void)pending.release();  // the driver's now, event and all
          return 0;
        }
        // Whatever arrived before the cancel took effect makes no whole
        // transfer; what matters is that it has ended.
      }
    }
  }
  CloseHandle(event);
  return moved;
}

// A transfer record holding `count` bytes.
std::unique_ptr<PendingTransfer> NewTransfer(const uint8_t* data, size_t count) {
  auto pending = std::make_unique<PendingTransfer>();
  if (data != nullptr) pending->bytes.assign(data, data + count);
  else pending->bytes.resize(count);
  return pending;
}

// How often the drain looks at the driver's output queue.
constexpr DWORD kDrainPollMs = 2;

// Waits until `count` bytes whose write began at `startMs` have left, or
// fails at `deadline`. They have left when their time on the line at the
// port's rate has passed since the write began and the driver's output queue
// is empty: a USB-serial driver's queue is empty once the adapter has the
// bytes, before they are on the line.
bool DrainUntil(HANDLE port, ULONGLONG startMs, size_t count, ULONGLONG deadline,
                const WaitHook* hook) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return false;
  ULONGLONG leftAt = startMs;
  // Start bit, eight data bits, stop bit.
  if (dcb.BaudRate > 0) leftAt += (count * 10 * 1000 + dcb.BaudRate - 1) / dcb.BaudRate;
  ULONGLONG lastHook = GetTickCount64();
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= leftAt) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(port, &errors, &status)) return false;  // the device is gone
      if (status.cbOutQue == 0) return true;
    }
    if (now >= deadline) return false;
    if (hook != nullptr && now - lastHook >= kWaitHookPeriodMs) {
      (*hook)();
      lastHook = now;
    }
    ULONGLONG until = now < leftAt ? leftAt : now + kDrainPollMs;
    if (until > deadline) until = deadline;
    if (hook != nullptr && until > lastHook + kWaitHookPeriodMs) until = lastHook + kWaitHookPeriodMs;
    Sleep(until > now ? static_cast<DWORD>(until - now) : 1);
  }
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

class Win32Port final : public Port {
 public:
  PortHandle Open(const std::string& devicePath, uint32_t baudRate, PortError* error) override;
  void Close(PortHandle port) override;
  bool Purge(PortHandle port) override { return PurgeComm(AsHandle(port), kPurgeAll) != 0; }
  bool DiscardInput(PortHandle port) override {
    return PurgeComm(AsHandle(port), PURGE_RXCLEAR) != 0;
  }
  bool WriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                const WaitHook* whileWaiting) override;
  size_t ReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                 const WaitHook* whileWaiting) override;
};

class Win32Clock final : public MonotonicClock {
 public:
  uint64_t NowMs() override { return GetTickCount64(); }
  void Sleep(uint32_t ms) override;
};

}  // namespace

Port& SystemPort() {
  static Win32Port port;
  return port;
}

MonotonicClock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

PortHandle Win32Port::Open(const std::string& devicePath, uint32_t baudRate, PortError* error) {
  if (error != nullptr) *error = PortError{};
  if (devicePath.empty()) return Failed(error, devicePath, PortStep::Name, ERROR_FILE_NOT_FOUND);
  if (baudRate == 0) return Failed(error, devicePath, PortStep::Rate, ERROR_INVALID_PARAMETER);
  // No sharing: a port that another program holds cannot be opened, and no
  // other program can open ours while we hold it.
  HANDLE port = CreateFileW(WideFromUtf8(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
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

void Win32Port::Close(PortHandle port) {
  if (port == kInvalidPort) return;
  // Output still pending is discarded, so that the close does not wait for
  // a stalled adapter to send it; a driver that holds the close all the same
  // is left to finish it alone.
  HANDLE h = AsHandle(port);
  PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
  CloseWithinBound([h] { CloseHandle(h); }, kPortLetGoMs);
}

bool Win32Port::WriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                         const WaitHook* whileWaiting) {
  if (count == 0) return true;
  HANDLE h = AsHandle(port);
  const auto size = static_cast<DWORD>(count);
  const ULONGLONG start = GetTickCount64();
  // Bounded by the caller's time for the bytes on the line: a stalled
  // adapter that neither takes nor sends them fails the write (cancelled)
  // instead of holding the program.
  const DWORD waitMs = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
  auto pending = NewTransfer(data, count);
  const DWORD taken = Transfer(
      h, waitMs, pending,
      [&](OVERLAPPED* ov, uint8_t* bytes, DWORD* moved) { return WriteFile(h, bytes, size, moved, ov) != 0; },
      whileWaiting);
  if (taken != size) return false;
  // The write is complete when its bytes have left, not when the driver has
  // taken them: the echo wait that follows counts from here, and at 1200
  // baud a long record takes longer on the line than that wait.
  return DrainUntil(h, start, count, start + waitMs, whileWaiting);
}

size_t Win32Port::ReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                          const WaitHook* whileWaiting) {
  if (count == 0) return 0;
  HANDLE h = AsHandle(port);
  const auto size = static_cast<DWORD>(count);
  // INFINITE is 0xFFFFFFFF: the largest wait asked for stays a bounded one.
  const DWORD waitMs = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
  auto pending = NewTransfer(nullptr, count);
  const DWORD moved = Transfer(
      h, waitMs, pending,
      [&](OVERLAPPED* ov, uint8_t* into, DWORD* n) { return ReadFile(h, into, size, n, ov) != 0; },
      whileWaiting);
  // The bytes are the caller's only once the driver has let go of them.
  if (moved > 0 && pending) std::memcpy(buffer, pending->bytes.data(), moved);
  return moved;
}

void Win32Clock::Sleep(uint32_t ms) {
  // Sleep may wake a little early on a coarse timer; wait out the rest so a
  // pause is never shorter than asked.
  const uint64_t until = GetTickCount64() + ms;
  for (uint64_t now = GetTickCount64(); now < until; now = GetTickCount64()) {
    ::Sleep(static_cast<DWORD>(until - now));
  }
}

}  // namespace quorvel
