#pragma once
// The serial port calls the serial channel makes, as an interface: the
// platform's port (serial/posix/ on Linux, serial/win32/ on Windows) and the
// tests' in-memory one (serial/memory/) implement it, and a SerialLink holds
// the one it uses. The clock every wait in the program reads is here too, so
// that a port on a virtual clock can take the waits around it along.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/PortError.h"

namespace quorvel {

// A file descriptor on Linux, a HANDLE on Windows.
using PortHandle = intptr_t;
constexpr PortHandle kInvalidPort = -1;

// How long closing a port, or the end of a cancelled transfer, may hold the
// caller: a driver wedged for longer goes on alone.
constexpr uint32_t kPortLetGoMs = 1000;
// Called again and again while a read or a write waits, when given, so that
// a window can repaint and answer its desktop. It must not use the port. The
// wait's deadline and what moves on the line stay as they are.
using WaitHook = std::function<void()>;
// How often a wait hook is called at the most.
constexpr uint32_t kWaitHookPeriodMs = 50;

// One kind of serial port: opens ports of its kind and moves their bytes.
// Every call but Open takes a handle that Open returned and Close has not
// yet let go.
class Port {
 public:
  virtual ~Port() = default;

  // Opens the device file for exclusive read/write use, applies raw 8N1 at
  // the given baud rate with no driver time-outs and purges both directions.
  // kInvalidPort on any failure (nothing is left open), with its errno and
  // step in `error` when one is given.
  virtual PortHandle Open(const std::string& devicePath, uint32_t baudRate, PortError* error) = 0;
  // Discards output still pending, so that the close does not wait for a
  // stalled adapter to send it, and closes; returns within kPortLetGoMs even
  // when the driver still holds the close.
  virtual void Close(PortHandle port) = 0;
  // Discards pending input and output.
  virtual bool Purge(PortHandle port) = 0;
  // Discards input that has arrived and not been read; output is untouched.
  virtual bool DiscardInput(PortHandle port) = 0;
  // Writes all `count` bytes and waits until they have left, or fails once
  // timeoutMs have passed since the call began (monotonic): a stalled
  // adapter neither takes nor sends them. False also on an error or a
  // hang-up.
  virtual bool WriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                        const WaitHook* whileWaiting) = 0;
  // Reads exactly `count` bytes or fails once timeoutMs have passed since
  // the call began (monotonic). Returns the number of bytes read; on failure
  // the bytes already read are in `buffer`. A hang-up ends the wait at once.
  virtual size_t ReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                         const WaitHook* whileWaiting) = 0;
};

// The running machine's serial ports.
Port& SystemPort();

// The running machine's port calls, for code that holds no SerialLink.
inline PortHandle PortOpen(const std::string& devicePath, uint32_t baudRate,
                           PortError* error = nullptr) {
  return SystemPort().Open(devicePath, baudRate, error);
}
inline void PortClose(PortHandle port) { SystemPort().Close(port); }
inline bool PortPurge(PortHandle port) { return SystemPort().Purge(port); }
inline bool PortDiscardInput(PortHandle port) { return SystemPort().DiscardInput(port); }
inline bool PortWriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                         const WaitHook* whileWaiting = nullptr) {
  return SystemPort().WriteAll(port, data, count, timeoutMs, whileWaiting);
}
inline size_t PortReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                          const WaitHook* whileWaiting = nullptr) {
  return SystemPort().ReadAll(port, buffer, count, timeoutMs, whileWaiting);
}

// Monotonic milliseconds and a pause on them.
class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  virtual uint64_t NowMs() = 0;
  // Returns no sooner than `ms` after the call.
  virtual void Sleep(uint32_t ms) = 0;
};

// The running machine's monotonic clock.
MonotonicClock& SystemClock();
// Makes `clock` the one MonotonicMs and SleepMs read, for a run on a
// virtual clock; null goes back to the running machine's. Set it before the
// waits it is to drive begin.
void UseClock(MonotonicClock* clock);

// Monotonic milliseconds, for every wait in the program.
uint64_t MonotonicMs();
void SleepMs(uint32_t ms);

}  // namespace quorvel
