// One in-memory port whose input is a script of device bytes
// (serial/memory/MemoryPort.h). Every call on a handle that is not the open
// port is a fault of the caller and stops the run.

#include "serial/memory/MemoryPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quorvel::memport {
namespace {

// Stops the run the way a fuzz target's broken invariant does.
[[noreturn]] void Misuse(const char* what) {
  std::fprintf(stderr, "INVARIANT FAILED: %s\n", what);
  std::abort();
}

struct MemoryPortState {
  const uint8_t* script = nullptr;
  size_t size = 0;
  size_t pos = 0;
  uint64_t clockMs = 0;
  PortHandle open = kInvalidPort;
  PortHandle nextHandle = 100;
  int failedOpens = 0;
  bool hungUp = false;
  bool failNextPurge = false;
  bool failNextOpen = false;
  bool failNextWrite = false;
  // Late bytes (code 0x06): when they arrive; 0 when none are waiting.
  uint64_t lateArrivalMs = 0;
  std::vector<PortEvent> events;
};

MemoryPortState g_port;

void CheckOpen(PortHandle port) {
  if (port == kInvalidPort || port != g_port.open) Misuse("port call on a handle that is not open");
}

PortEvent& Record(PortOp op, bool ok) {
  PortEvent& event = g_port.events.emplace_back();
  event.op = op;
  event.ok = ok;
  event.atMs = g_port.clockMs;
  return event;
}

// Takes the effect of a code other than a pause; false for a pause.
bool TakeCode(uint8_t code) {
  switch (code) {
    case 0x01: return false;
    case 0x02: g_port.hungUp = true; break;
    case 0x03: g_port.failNextPurge = true; break;
    case 0x04: g_port.failNextOpen = true; break;
    case 0x05: g_port.failNextWrite = true; break;
    default: break;
  }
  return true;
}

// Codes that stand right after the bytes a read took.
void TakeTrailingCodes() {
  while (g_port.pos + 1 < g_port.size && g_port.script[g_port.pos] == kEscape) {
    const uint8_t code = g_port.script[g_port.pos + 1];
    if (code < 0x02 || code > 0x05) return;
    g_port.pos += 2;
    TakeCode(code);
  }
}

// A purge discards late bytes that have arrived by now: those up to the next
// code.
void DropArrivedLateBytes() {
  if (g_port.lateArrivalMs == 0 || g_port.lateArrivalMs > g_port.clockMs) return;
  g_port.lateArrivalMs = 0;
  while (g_port.pos < g_port.size) {
    if (g_port.script[g_port.pos] == kEscape) {
      if (g_port.pos + 1 < g_port.size && g_port.script[g_port.pos + 1] != 0x00) return;
      g_port.pos += 2;
    } else {
      ++g_port.pos;
    }
  }
}

class MemoryPort final : public Port, public MonotonicClock {
 public:
  PortHandle Open(const std::string& devicePath, uint32_t baudRate, PortError* error) override;
  void Close(PortHandle port) override;
  bool Purge(PortHandle port) override;
  bool DiscardInput(PortHandle port) override;
  bool WriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                const WaitHook* whileWaiting) override;
  size_t ReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                 const WaitHook* whileWaiting) override;
  // Moves by 1 ms per look, so that a busy wait always ends.
  uint64_t NowMs() override { return ++g_port.clockMs; }
  void Sleep(uint32_t ms) override { g_port.clockMs += ms; }
};

MemoryPort g_memoryPort;

}  // namespace

PortHandle MemoryPort::Open(const std::string& devicePath, uint32_t baudRate, PortError* error) {
  if (g_port.open != kInvalidPort) Misuse("a second port opened while one is open");
  bool ok = !g_port.hungUp && !g_port.failNextOpen && g_port.failedOpens == 0;
  g_port.failNextOpen = false;
  if (g_port.failedOpens > 0) --g_port.failedOpens;
  if (ok) g_port.open = g_port.nextHandle++;
  PortEvent& event = Record(PortOp::Open, ok);
  event.path = devicePath;
  event.arg = baudRate;
  if (error != nullptr) *error = ok ? PortError{} : PortError{devicePath, ENODEV, PortStep::Open};
  return ok ? g_port.open : kInvalidPort;
}

void MemoryPort::Close(PortHandle port) {
  CheckOpen(port);
  g_port.open = kInvalidPort;
  Record(PortOp::Close, true);
}

bool MemoryPort::Purge(PortHandle port) {
  CheckOpen(port);
  const bool ok = !g_port.hungUp && !g_port.failNextPurge;
  g_port.failNextPurge = false;
  if (ok) DropArrivedLateBytes();
  Record(PortOp::Purge, ok);
  return ok;
}

bool MemoryPort::DiscardInput(PortHandle port) {
  CheckOpen(port);
  const bool ok = !g_port.hungUp;
  if (ok) DropArrivedLateBytes();
  Record(PortOp::Discard, ok);
  return ok;
}

bool MemoryPort::WriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                          const WaitHook* whileWaiting) {
  (void)whileWaiting;
  (void)timeoutMs;
  CheckOpen(port);
  const bool ok = !g_port.hungUp && !g_port.failNextWrite;
  g_port.failNextWrite = false;
  Record(PortOp::Write, ok).bytes.assign(data, data + count);
  return ok;
}

size_t MemoryPort::ReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                           const WaitHook* whileWaiting) {
  CheckOpen(port);
  const uint64_t startMs = g_port.clockMs;
  const uint64_t deadlineMs = startMs + timeoutMs;
  size_t got = 0;
  bool timedOut = false;
  while (got < count && !g_port.hungUp) {
    if (g_port.pos >= g_port.size) {
      timedOut = true;
      break;
    }
    if (g_port.lateArrivalMs != 0) {
      if (whileWaiting != nullptr) (*whileWaiting)();
      if (g_port.lateArrivalMs > deadlineMs) {
        timedOut = true;
        break;
      }
      g_port.clockMs = std::max(g_port.clockMs, g_port.lateArrivalMs);
      g_port.lateArrivalMs = 0;
    }
    const uint8_t b = g_port.script[g_port.pos];
    if (b != kEscape) {
      buffer[got++] = b;
      ++g_port.pos;
      continue;
    }
    if (g_port.pos + 1 >= g_port.size) {  // a lone escape ends the script
      g_port.pos = g_port.size;
      continue;
    }
    const uint8_t code = g_port.script[g_port.pos + 1];
    g_port.pos += 2;
    if (code == 0x00) {
      buffer[got++] = kEscape;
    } else if (code == 0x06) {
      const uint8_t tens = g_port.pos < g_port.size ? g_port.script[g_port.pos++] : 0;
      g_port.lateArrivalMs = startMs + 10u * tens;
      if (g_port.lateArrivalMs == 0) g_port.lateArrivalMs = 1;  // 0 means none
    } else if (!TakeCode(code)) {
      timedOut = true;
      break;
    }
  }
  // A hang-up ends the wait at once; a pause, the end of the script or bytes
  // that come too late let the whole time-out pass.
  if (timedOut) {
    if (whileWaiting != nullptr) (*whileWaiting)();
    g_port.clockMs = std::max(g_port.clockMs, deadlineMs);
  }
  if (got == count) TakeTrailingCodes();
  PortEvent& event = Record(PortOp::Read, got == count);
  event.bytes.assign(buffer, buffer + got);
  event.count = count;
  event.arg = timeoutMs;
  return got;
}

Port& InMemoryPort() { return g_memoryPort; }

void ResetMemoryPort(const uint8_t* script, size_t size, int failedOpens) {
  std::vector<PortEvent> events = std::move(g_port.events);
  events.clear();
  g_port = MemoryPortState{};
  g_port.events = std::move(events);  // keeps its capacity
  g_port.script = script;
  g_port.size = size;
  g_port.failedOpens = failedOpens;
  UseClock(&g_memoryPort);
}

const std::vector<PortEvent>& MemoryPortEvents() { return g_port.events; }

bool MemoryPortIsOpen() { return g_port.open != kInvalidPort; }

uint64_t VirtualNowMs() { return g_port.clockMs; }

}  // namespace quorvel::memport
