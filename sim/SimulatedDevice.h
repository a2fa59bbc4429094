#pragma once
// The device at the far end of a SimulatedLine, model 1 or 2, speaking the
// device protocol; every answer can be scripted per test.
//
// Usage:
//   SimulatedLine line;
//   SimulatedDevice device(line, protocol::kModel2);
//   device.SetVersion({0, 0, 0xC1, 0x05, 0, 0x0C, 0});
//   using Answer = SimulatedDevice::Answer;
//   device.SetVerdicts({Answer::Reject(), Answer::Accept()});  // 1st record sent twice
//   device.SetProbeAnswer(Answer::Of({0xBD, 0x00}, 50));       // late, other first byte
//   ... run the program against line.DeviceDir() / line.PortName() ...
//   EXPECT_EQ(device.AcceptedImage(), image);
//
// An Answer is what the device sends back for one command or record: its
// bytes (none: silent; fewer: cut short; others: wrong), a delay counted from
// the moment the command has reached the device, and optionally a hang-up of
// the line once the bytes are out.
//
// Modes. The device starts out monitoring: it answers its model's probe
// (model 1: 0xD5 -> 0x26; model 2: 0xD4 -> 0xD6 0x00) and the version query
// 0xD7 (7 bytes), and ignores every other byte except 0xD6, which starts an
// update:
// - model 2 answers 0xD6 with 0xD7 (handshake phase 1) and waits for records;
// - model 1 runs four phases: 0xD6s are phase 1 (answered 0x00), a 0xD7 moves
//   to phase 2 (answered 0xD8), the next 0xD6 to phase 3 (answered 0x00); the
//   fifth 0xD6 after phase 2 is phase 4 (answered 0xD7), after which the
//   device waits for records.
// Waiting for records, between records: a 0xD6 is the program repeating the
// last handshake step and gets that phase's answer again; the model's probe
// byte ends the update and is answered as a probe; any other byte begins a
// record: a length L (two bytes, high first), then L bytes. Every complete
// record gets a verdict (default 0x11, accept). The probe byte also ends the
// handshake phases; SetUpdateIdleMs ends the update after a quiet time (off
// by default). Handshake answers can be scripted per attempt within a phase.
//
// Records are counted by arrival, resends included: arrival 0 is the first
// record received. The device keeps every record received and those it
// answered 0x11, byte for byte, header included.
//
// Threading: the device runs on the line's thread; every public method may be
// called from any thread. A verdict function runs on the line's thread.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "sim/SimulatedLine.h"

namespace quorvel::sim {

class SimulatedDevice {
 public:
  struct Answer {
    std::vector<uint8_t> bytes;  // empty: no answer
    uint32_t delayMs = 0;        // from the command's arrival to the first byte
    bool hangUp = false;         // the line hangs up once the bytes are out

    static Answer Of(std::vector<uint8_t> bytes, uint32_t delayMs = 0);
    static Answer Silent();
    static Answer Accept(uint32_t delayMs = 0);                       // 0x11
    static Answer CrcError(uint32_t delayMs = 0);                     // 0x12
    static Answer Reject(uint8_t verdict = 0x55, uint32_t delayMs = 0);  // send again
    static Answer HangUp(uint32_t delayMs = 0);                       // no answer; line gone
  };
  enum class Mode { Monitoring, Handshake, Records };
  using Record = std::vector<uint8_t>;
  using VerdictFunction = std::function<Answer(size_t arrival, const Record& record)>;

  SimulatedDevice(SimulatedLine& line, int32_t model);
  ~SimulatedDevice();
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;

  int32_t Model() const { return m_model; }
  uint8_t ProbeCommand() const;

  // Script. A silent device (unplugged from the adapter) neither hears nor
  // answers anything; the adapter still echoes.
  void SetSilent(bool silent);
  void SetProbeAnswer(Answer answer);
  void SetVersion(const std::array<uint8_t, 7>& version);  // the version reply's bytes
  void SetVersionAnswer(Answer answer);                      // any reply, e.g. cut short
  // Phases 1..4 (model 2 has phase 1 only). Answers by attempt within the
  // phase; the last one holds for all later attempts.
  void SetHandshakeAnswer(int phase, Answer answer);
  void SetHandshakeAnswers(int phase, std::vector<Answer> byAttempt);
  // Verdicts by arrival; arrivals past the list get the default verdict. A
  // verdict function, when set, decides instead.
  void SetVerdicts(std::vector<Answer> byArrival);
  void SetDefaultVerdict(Answer verdict);
  void SetVerdictFunction(VerdictFunction verdictFor);
  // Leaves the update after this long without a byte from the program or an
  // answer of its own; 0 (default): never.
  void SetUpdateIdleMs(uint32_t ms);
  // A record left incomplete for this long is dropped (default 1000 ms).
  void SetPartialRecordTimeoutMs(uint32_t ms);
  // Back to monitoring; records and counts are kept.
  void Reset();

  // Observation.
  Mode CurrentMode() const;
  size_t ProbeCount() const;
  size_t VersionQueryCount() const;
  // Commands heard in a handshake phase during the latest update.
  size_t HandshakeCount(int phase) const;
  std::vector<Record> ReceivedRecords() const;
  std::vector<Record> AcceptedRecords() const;
  std::vector<uint8_t> AcceptedImage() const;  // accepted records end to end
  // True while a record has begun to arrive and is not complete yet.
  bool RecordInProgress() const;

  // For a far end that stands in for several devices on one line (such as
  // DemoDevice): takes one byte as if it had come off the line. Such a
  // far end installs its own byte handler after making this device.
  void HandleByte(uint8_t byte) { OnByte(byte); }

 private:
  using Clock = std::chrono::steady_clock;

  void OnByte(uint8_t byte);
  void OnMonitoringByte(uint8_t byte);
  void OnHandshakeByte(uint8_t byte);
  void OnRecordByte(uint8_t byte);
  void HandshakeStep(int phase);
  void CompleteRecord();
  void EnterMonitoring();
  void Reply(const Answer& answer);
  static void CheckPhase(int phase);

  SimulatedLine& m_line;
  const int32_t m_model;

  mutable std::recursive_mutex m_mutex;  // a verdict function may call back
  bool m_silent = false;
  Answer m_probeAnswer;
  Answer m_versionAnswer;
  std::array<std::vector<Answer>, 5> m_handshakeAnswers;  // by phase 1..4
  std::vector<Answer> m_verdicts;
  Answer m_defaultVerdict = Answer::Accept();
  VerdictFunction m_verdictFor;
  std::chrono::milliseconds m_updateIdle{0};
  std::chrono::milliseconds m_partialTimeout{1000};

  Mode m_mode = Mode::Monitoring;
  int m_phase = 0;
  std::array<size_t, 5> m_handshakeCounts{};
  Record m_partial;
  Clock::time_point m_lastByte{};
  Clock::time_point m_lastActivity{};
  size_t m_probes = 0;
  size_t m_versionQueries = 0;
  std::vector<Record> m_received;
  std::vector<Record> m_accepted;
};

}  // namespace quorvel::sim
