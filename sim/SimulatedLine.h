#pragma once
// A pseudo-terminal standing in for the USB-to-serial adapter and the
// half-duplex line behind it. The program under test opens the slave side as
// its serial port; a thread plays the master side: like the adapter it echoes
// every byte the program sends, and it hands each byte to the far end (a
// SimulatedDevice, or any handler a test installs).
//
// Usage:
//   SimulatedLine line;                       // "ttySIM0" in a temp directory
//   // or: SimulatedLine::Options o; o.lineRate = 1200; SimulatedLine line(o);
//   SerialLink link;
//   link.deviceDir = line.DeviceDir();        // or Environment::deviceDir
//   ASSERT_TRUE(link.OpenPort(line.PortName(), 19200));
//   line.SetByteHandler([&](uint8_t b) { if (b == 0x42) line.Send({0x43}); });
//   ...
//   line.Received();     // every byte the program sent, in order
//   line.HangUp();       // adapter pulled: the open port sees a hang-up
//   line.Replug();       // a fresh adapter under the same name
//
// The slave starts with cooked settings (echo, canonical mode, XON/XOFF, CR/LF
// mapping, parity marking, two stop bits...), as another program might have
// left a port, so a port layer that does not make the line raw shows it.
//
// Timing: everything bound for the program is put on one time line. With a
// line rate set, each byte takes ten bit times on the wire in either
// direction, one after another: a byte reaches the far end when it has
// crossed, and replies follow the bytes already queued. The echo comes back
// as soon as the program's bytes are written: on a pseudo-terminal a write
// returns at once, where a real adapter's returns when the bytes have left,
// so waiting for the echo here must not include their time on the wire. A
// whole exchange (write, echo, answer) takes as long as on the real line.
// With no line rate, bytes cross at once. With echoOnTheWire, the echo comes
// when the byte has crossed, as through a driver whose write returns once it
// has taken the bytes: a program must wait for them to leave before its echo
// wait starts.
//
// Threading: the byte handler runs on the line's thread, one byte at a time.
// Every public method may be called from any thread, the handler included
// (HangUp() called from the handler takes effect when the handler returns).
// The echo of a byte reaches the program before the far end has handled the
// byte: to look at the far end's state, wait for its answer, not for an echo
// or WaitForReceived.
// Declare the line before whatever installs a handler on it, so that the
// handler's owner goes first.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/WideText.h"
#include "sim/TempDir.h"

namespace quorvel::sim {

class SimulatedLine {
 public:
  using Bytes = std::vector<uint8_t>;
  using ByteHandler = std::function<void(uint8_t byte)>;

  struct Options {
    std::string linkName = "ttySIM0";  // name of the port in DeviceDir()
    // Where the link is made (several lines may share one); empty: a
    // temporary directory of the line's own.
    std::string directory;
    bool echo = true;
    uint32_t lineRate = 0;  // baud; 0: bytes take no time on the wire
    // Each echo when its byte has crossed the wire; with no line rate set,
    // the wire runs at the rate the program set on its port.
    bool echoOnTheWire = false;
  };

  SimulatedLine();
  explicit SimulatedLine(Options options);
  ~SimulatedLine();
  SimulatedLine(const SimulatedLine&) = delete;
  SimulatedLine& operator=(const SimulatedLine&) = delete;

  // Where the program finds the port: DeviceDir() ends with '/', PortName()
  // is the link name, DevicePath() the two together.
  std::string DeviceDir() const;
  Text PortName() const;
  std::string DevicePath() const;
  // The pseudo-terminal behind the link now; empty while unplugged.
  std::string SlavePath() const;
  bool Plugged() const;

  // The adapter.
  void SetEcho(bool on);
  void SetEchoDelayMs(uint32_t ms);    // each echo comes this much later
  void SetEchoMask(uint8_t xorMask);   // echoes byte ^ xorMask (0: true echo)
  void SetLineRate(uint32_t baud);     // 0: no line timing
  void SetSilent(bool silent);         // nothing reaches the program: echoes, replies, floods dropped
  // A stream of `value` towards the program; stopping it returns once the
  // last chunk is on its way.
  void SetFlood(bool on, uint8_t value = 0x55);

  // The far end. The handler sees every byte the program sends, once it has
  // crossed the wire; null detaches it (waiting for a call in progress).
  void SetByteHandler(ByteHandler handler);
  // Sends bytes to the program, starting delayMs from now (line timing on top).
  void Send(const Bytes& bytes, uint32_t delayMs = 0);
  // `count` pseudo-random bytes, the same for the same seed.
  void SendGarbage(size_t count, uint32_t seed = 1);

  // Plugging. HangUp() closes the master at once: the program's port reads
  // and writes fail (EIO / end of file / POLLHUP) and the link disappears.
  void HangUp();
  // Hangs up after everything already queued for the program has been
  // delivered, and at least delayMs from now.
  void HangUpAfterPending(uint32_t delayMs = 0);
  // Hangs up when `count` more bytes from the program have arrived; the last
  // of them is recorded but neither echoed nor handed on.
  void HangUpAfterBytes(size_t count);
  // A fresh pseudo-terminal under the same link name (hangs up first if
  // plugged). The handler, settings and records are kept.
  void Replug();

  // Observation.
  Bytes Received() const;       // every byte from the program, across replugs
  size_t ReceivedCount() const;
  void ClearReceived();
  bool WaitForReceived(size_t count, uint32_t timeoutMs) const;
  Bytes SentToProgram() const;  // every byte written towards the program

  // Waits until the program's open port `fd` has at least `count` bytes
  // ready to read (bytes sent reach it a moment after Send).
  static bool WaitForInput(int fd, size_t count, uint32_t timeoutMs = 2000);

 private:
  using Clock = std::chrono::steady_clock;
  enum class EventKind { ToProgram, ToFarEnd, HangUp };
  struct Event {
    EventKind kind;
    uint8_t byte;
  };

  void Plug();
  void StopAndUnplug();  // from any thread but the line's
  void Unplug();         // closes the master and removes the link
  bool TakeHangUpRequest();
  void Run();
  void RunLoop();
  bool Deliver(const std::vector<Event>& due);
  void Flood(uint8_t value, std::chrono::nanoseconds byteTime, std::chrono::nanoseconds since,
             Clock::time_point* lastFlood);
  bool ReadFromMaster(bool* noOneConnected);
  void TakeFromProgram(const uint8_t* data, size_t count);
  // Books the next free slot on the wire not before `from`; returns its end.
  Clock::time_point Occupy(Clock::time_point from);
  Clock::time_point Occupy(Clock::time_point from, std::chrono::nanoseconds byteTime);
  void WriteToMaster(const Bytes& bytes);
  void Record(const Bytes& bytes);  // into m_sent, before writing
  void Unrecord(size_t count);      // the tail that was not written
  void Wake() const;
  bool OnLineThread() const;

  const std::string m_linkName;
  TempDir m_ownDir;
  const std::string m_deviceDir;  // ends with '/'
  int m_wakeFd = -1;
  std::mutex m_plugMutex;  // one plug or unplug at a time
  std::atomic<std::thread::id> m_lineThreadId{};

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_receivedChanged;
  int m_master = -1;
  std::string m_slavePath;
  std::thread m_thread;
  bool m_stopRequested = false;
  bool m_hangUpRequested = false;
  bool m_echo;
  const bool m_echoOnTheWire;
  std::chrono::microseconds m_echoDelay{0};
  uint8_t m_echoMask = 0;
  std::chrono::nanoseconds m_byteTime{0};
  bool m_silent = false;
  bool m_flood = false;
  uint8_t m_floodValue = 0x55;
  bool m_floodWriting = false;  // the line's thread is between deciding on a chunk and writing it
  size_t m_hangUpCountdown = 0;  // 0: not armed
  Clock::time_point m_lineFree{};
  std::multimap<Clock::time_point, Event> m_events;  // equal times keep their order
  Bytes m_received;
  Bytes m_sent;

  std::recursive_mutex m_handlerMutex;
  ByteHandler m_handler;
};

}  // namespace quorvel::sim
