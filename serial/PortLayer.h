#pragma once
// The platform's serial port calls, as the serial channel needs them. One
// implementation per platform, chosen by the build (serial/posix/ on Linux,
// serial/win32/ on Windows).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/PortError.h"

namespace quorvel {

// A file descriptor on Linux, a HANDLE on Windows.
using PortHandle = intptr_t;
constexpr PortHandle kInvalidPort = -1;

// Opens the device file for exclusive read/write use, applies raw 8N1 at the
// given baud rate with no driver time-outs and purges both directions.
// kInvalidPort on any failure (nothing is left open), with its errno and
// step in `error` when one is given.
PortHandle PortOpen(const std::string& devicePath, uint32_t baudRate, PortError* error = nullptr);
// How long closing a port, or the end of a cancelled transfer, may hold the
// caller: a driver wedged for longer goes on alone.
constexpr uint32_t kPortLetGoMs = 1000;
// Discards output still pending, so that the close does not wait for a
// stalled adapter to send it, and closes; returns within kPortLetGoMs even
// when the driver still holds the close.
void PortClose(PortHandle port);
// Discards pending input and output.
bool PortPurge(PortHandle port);
// Discards input that has arrived and not been read; output is untouched.
bool PortDiscardInput(PortHandle port);
// Called again and again while a read or a write waits, when given, so that
// a window can repaint and answer its desktop. It must not use the port. The
// wait's deadline and what moves on the line stay as they are.
using WaitHook = std::function<void()>;
// How often a wait hook is called at the most.
constexpr uint32_t kWaitHookPeriodMs = 50;
// Writes all `count` bytes and waits until they have left, or fails once
// timeoutMs have passed since the call began (monotonic): a stalled adapter
// neither takes nor sends them. False also on an error or a hang-up.
bool PortWriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                  const WaitHook* whileWaiting = nullptr);

// Reads exactly `count` bytes or fails once timeoutMs have passed since the
// call began (monotonic). Returns the number of bytes read; on failure the
// bytes already read are in `buffer`. A hang-up ends the wait at once.
size_t PortReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                   const WaitHook* whileWaiting = nullptr);

// Monotonic milliseconds, for every wait in the program.
uint64_t MonotonicMs();
void SleepMs(uint32_t ms);

}  // namespace quorvel
