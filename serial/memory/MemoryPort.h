#pragma once
// An in-memory serial port for the device-protocol fuzz target and the
// tests of the link probe and the record transfer: a Port (serial/PortLayer.h)
// for a SerialLink to hold. What the program writes is recorded; what it
// reads comes from a script of device bytes; time is a virtual clock, so a
// wait that runs out costs nothing. There is one such port in a process.
//
// The script is the device's byte stream, echoes included. The byte kEscape
// starts a two-byte code:
//   kEscape 0x00   the byte kEscape itself
//   kEscape 0x01   a pause: the read that reaches it times out
//   kEscape 0x02   hang-up: every later operation fails (open included)
//   kEscape 0x03   the next purge fails
//   kEscape 0x04   the next open fails
//   kEscape 0x05   the next write fails
//   kEscape 0x06 d the bytes up to the next code arrive d * 10 ms after the
//                  read that reaches this code began; a read that cannot wait
//                  that long times out and leaves them to arrive later, when
//                  a purge or a discard of input drops them
// Any other code is skipped. Codes 0x02 to 0x05 right after the bytes a read
// took take effect as that read ends, before the next operation. A read
// that runs out of script times out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/PortLayer.h"

namespace quorvel::memport {

constexpr uint8_t kEscape = 0xE0;

enum class PortOp { Open, Close, Purge, Discard, Write, Read };

struct PortEvent {
  PortOp op;
  bool ok = false;
  std::vector<uint8_t> bytes;  // Write: what was to be sent; Read: what arrived
  size_t count = 0;            // Read: bytes asked for
  uint32_t arg = 0;            // Read: time-out in ms; Open: baud rate
  std::string path;            // Open
  uint64_t atMs = 0;           // virtual time when the call returned
};

// The in-memory port, for SerialLink::port or Environment::port.
Port& InMemoryPort();

// Starts a new run: no port open, clock at 0, no events. The first
// `failedOpens` opens fail. From here on MonotonicMs and SleepMs read the
// virtual clock.
void ResetMemoryPort(const uint8_t* script, size_t size, int failedOpens);

const std::vector<PortEvent>& MemoryPortEvents();
bool MemoryPortIsOpen();
// The virtual clock, without moving it (MonotonicMs moves it by 1 ms per
// look, so that a busy wait always ends).
uint64_t VirtualNowMs();

}  // namespace quorvel::memport
