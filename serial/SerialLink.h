#pragma once
// The serial channel: one COM-style port of the USB-to-serial adapter, held
// exclusively, moving raw 8-bit data. Every operation blocks the calling
// (user-interface) thread and reports success as a boolean; callers decide
// what a failure means.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/PortList.h"
#include "serial/PortLayer.h"
#include "base/WideText.h"

namespace quorvel {

// Added to a write's time on the line (10 bits a byte at the port's rate)
// for the adapter's own latency and the scheduling of a busy machine.
constexpr uint32_t kWriteMarginMs = 2000;

// The longest a write of `count` bytes at `baudRate` may take.
uint32_t WriteTimeLimitMs(size_t count, uint32_t baudRate);

// The step of a command exchange (SendCommand) that failed.
enum class CommandStep : uint8_t {
  None,   // nothing failed
  Purge,  // discarding the port's buffers
  Write,  // the byte did not leave within WriteTimeLimitMs
  Echo,   // its echo did not come back
};

struct SerialLink {
  // The kind of port the channel opens: the running machine's serial ports,
  // or a test's in-memory one. Change it only while closed.
  Port* port = &SystemPort();
  // The open port, or kInvalidPort while the channel is closed.
  PortHandle hPort = kInvalidPort;
  // Switches the echo reads off when non-zero. Always 0 in practice:
  // discovery resets it before every open.
  int32_t skipEcho = 0;
  // Serial ports found by the latest ListSerialPorts.
  std::vector<SSerInfo> ports;
  // Receive buffer: command echoes and device replies land at its start.
  uint8_t rxBuf[512] = {};

  // Why the latest OpenPort failed (errno, step, device file); nothing
  // failed after a successful one. PortErrorMessage tells it to the user.
  PortError lastError;

  // The line rate the open port was set to; it bounds how long a write may
  // take.
  uint32_t portBaudRate = 0;

  // Directory prefix that turns a port name into a device file ("/dev/" +
  // "ttyUSB0"). Tests point it at the directory of a pseudo-terminal.
  std::string deviceDir = "/dev/";

  // When set, called while a read waits for its bytes or a write for its
  // bytes to leave (PortLayer.h): lets a window stay responsive during a
  // job. The waits do not change.
  WaitHook whileWaiting;

  SerialLink() = default;
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;
  ~SerialLink();

  // Opens deviceDir + portName exclusively and sets 8N1 at baudRate with raw
  // data; false (channel closed, the reason in lastError) on any failure.
  // Call only while closed.
  bool OpenPort(const Text& portName, uint32_t baudRate);
  // Closes the port if open; harmless when closed.
  void ClosePort();
  // Sends all `count` bytes and waits until they have left; false if not all
  // went out within WriteTimeLimitMs (an adapter that has stopped sending).
  bool WriteBytes(uint8_t count, const uint8_t* data);
  // Receives exactly `count` bytes within timeoutMs, measured from the start
  // of the call on a monotonic clock. A failed one-byte read leaves
  // buffer[0] unchanged.
  bool ReadBytes(uint8_t count, uint8_t* buffer, uint32_t timeoutMs);
  // Purges, sends one byte and reads its echo (not compared) into rxBuf[0]
  // within 500 ms; a failure leaves its step in commandFailed.
  bool SendCommand(uint8_t commandByte);
  // The step at which the latest SendCommand failed; None after one that
  // went through.
  CommandStep commandFailed = CommandStep::None;
  // Discards everything pending in both directions.
  bool PurgePort();
  // Discards what has arrived and not been read; nothing sent is touched.
  bool DiscardInput();
};

}  // namespace quorvel
