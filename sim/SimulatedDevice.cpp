#include "sim/SimulatedDevice.h"

#include <algorithm>
#include <stdexcept>

#include "link/Protocol.h"

namespace quorvel::sim {

namespace p = quorvel::protocol;

SimulatedDevice::Answer SimulatedDevice::Answer::Of(std::vector<uint8_t> bytes, uint32_t delayMs) {
  return Answer{std::move(bytes), delayMs, false};
}
SimulatedDevice::Answer SimulatedDevice::Answer::Silent() { return Answer{}; }
SimulatedDevice::Answer SimulatedDevice::Answer::Accept(uint32_t delayMs) {
  return Of({p::kRecordAccepted}, delayMs);
}
SimulatedDevice::Answer SimulatedDevice::Answer::CrcError(uint32_t delayMs) {
  return Of({p::kRecordCrcError}, delayMs);
}
SimulatedDevice::Answer SimulatedDevice::Answer::Reject(uint8_t verdict, uint32_t delayMs) {
  return Of({verdict}, delayMs);
}
SimulatedDevice::Answer SimulatedDevice::Answer::HangUp(uint32_t delayMs) {
  return Answer{{}, delayMs, true};
}

SimulatedDevice::SimulatedDevice(SimulatedLine& line, int32_t model) : m_line(line), m_model(model) {
  if (model != p::kModel1 && model != p::kModel2) throw std::invalid_argument("model must be 1 or 2");
  if (model == p::kModel1) {
    m_probeAnswer = Answer::Of({p::kModel1Present});
    SetVersion({0x00, 0x00, 0x01, 0x2A, 0x00, 0x07, 0x00});  // shown as 01.2A.07
    m_handshakeAnswers[1] = {Answer::Of({0x00})};
    m_handshakeAnswers[2] = {Answer::Of({p::kStep2Answer})};
    m_handshakeAnswers[3] = {Answer::Of({0x00})};
    m_handshakeAnswers[4] = {Answer::Of({p::kReadyForRecords})};
  } else {
    m_probeAnswer = Answer::Of({p::kModel2Present, 0x00});
    SetVersion({0x00, 0x00, 0xC1, 0x05, 0x00, 0x0C, 0x00});  // shown as P1.05.12
    m_handshakeAnswers[1] = {Answer::Of({p::kReadyForRecords})};
  }
  m_line.SetByteHandler([this](uint8_t byte) { OnByte(byte); });
}

SimulatedDevice::~SimulatedDevice() { m_line.SetByteHandler(nullptr); }

uint8_t SimulatedDevice::ProbeCommand() const {
  return m_model == p::kModel1 ? p::kProbeModel1 : p::kProbeModel2;
}

void SimulatedDevice::SetSilent(bool silent) {
  std::lock_guard lock(m_mutex);
  m_silent = silent;
}

void SimulatedDevice::SetProbeAnswer(Answer answer) {
  std::lock_guard lock(m_mutex);
  m_probeAnswer = std::move(answer);
}

void SimulatedDevice::SetVersion(const std::array<uint8_t, 7>& version) {
  SetVersionAnswer(Answer::Of({version.begin(), version.end()}));
}

void SimulatedDevice::SetVersionAnswer(Answer answer) {
  std::lock_guard lock(m_mutex);
  m_versionAnswer = std::move(answer);
}

void SimulatedDevice::SetHandshakeAnswer(int phase, Answer answer) {
  SetHandshakeAnswers(phase, {std::move(answer)});
}

void SimulatedDevice::SetHandshakeAnswers(int phase, std::vector<Answer> byAttempt) {
  CheckPhase(phase);
  if (byAttempt.empty()) byAttempt.push_back(Answer::Silent());
  std::lock_guard lock(m_mutex);
  m_handshakeAnswers[static_cast<size_t>(phase)] = std::move(byAttempt);
}

void SimulatedDevice::SetVerdicts(std::vector<Answer> byArrival) {
  std::lock_guard lock(m_mutex);
  m_verdicts = std::move(byArrival);
}

void SimulatedDevice::SetDefaultVerdict(Answer verdict) {
  std::lock_guard lock(m_mutex);
  m_defaultVerdict = std::move(verdict);
}

void SimulatedDevice::SetVerdictFunction(VerdictFunction verdictFor) {
  std::lock_guard lock(m_mutex);
  m_verdictFor = std::move(verdictFor);
}

void SimulatedDevice::SetUpdateIdleMs(uint32_t ms) {
  std::lock_guard lock(m_mutex);
  m_updateIdle = std::chrono::milliseconds(ms);
}

void SimulatedDevice::SetPartialRecordTimeoutMs(uint32_t ms) {
  std::lock_guard lock(m_mutex);
  m_partialTimeout = std::chrono::milliseconds(ms);
}

void SimulatedDevice::Reset() {
  std::lock_guard lock(m_mutex);
  EnterMonitoring();
}

SimulatedDevice::Mode SimulatedDevice::CurrentMode() const {
  std::lock_guard lock(m_mutex);
  return m_mode;
}

size_t SimulatedDevice::ProbeCount() const {
  std::lock_guard lock(m_mutex);
  return m_probes;
}

size_t SimulatedDevice::VersionQueryCount() const {
  std::lock_guard lock(m_mutex);
  return m_versionQueries;
}

size_t SimulatedDevice::HandshakeCount(int phase) const {
  CheckPhase(phase);
  std::lock_guard lock(m_mutex);
  return m_handshakeCounts[static_cast<size_t>(phase)];
}

std::vector<SimulatedDevice::Record> SimulatedDevice::ReceivedRecords() const {
  std::lock_guard lock(m_mutex);
  return m_received;
}

std::vector<SimulatedDevice::Record> SimulatedDevice::AcceptedRecords() const {
  std::lock_guard lock(m_mutex);
  return m_accepted;
}

std::vector<uint8_t> SimulatedDevice::AcceptedImage() const {
  std::lock_guard lock(m_mutex);
  std::vector<uint8_t> image;
  for (const Record& record : m_accepted) image.insert(image.end(), record.begin(), record.end());
  return image;
}

bool SimulatedDevice::RecordInProgress() const {
  std::lock_guard lock(m_mutex);
  return !m_partial.empty();
}

void SimulatedDevice::OnByte(uint8_t byte) {
  std::lock_guard lock(m_mutex);
  if (m_silent) return;
  const auto now = Clock::now();
  if (m_mode != Mode::Monitoring && m_updateIdle.count() > 0 && now - m_lastActivity > m_updateIdle) {
    EnterMonitoring();
  }
  if (!m_partial.empty() && m_partialTimeout.count() > 0 && now - m_lastByte > m_partialTimeout) {
    m_partial.clear();
  }
  m_lastByte = now;
  m_lastActivity = std::max(m_lastActivity, now);

  switch (m_mode) {
    case Mode::Monitoring:
      OnMonitoringByte(byte);
      break;
    case Mode::Handshake:
      OnHandshakeByte(byte);
      break;
    case Mode::Records:
      OnRecordByte(byte);
      break;
  }
}

void SimulatedDevice::OnMonitoringByte(uint8_t byte) {
  if (byte == ProbeCommand()) {
    ++m_probes;
    Reply(m_probeAnswer);
  } else if (byte == p::kVersionQuery) {
    ++m_versionQueries;
    Reply(m_versionAnswer);
  } else if (byte == p::kUpdateStart) {
    m_handshakeCounts = {};
    m_mode = m_model == p::kModel2 ? Mode::Records : Mode::Handshake;
    HandshakeStep(1);
  }
}

// Model 1 only: phases 1 to 3 (phase 4 is answered from the records mode).
void SimulatedDevice::OnHandshakeByte(uint8_t byte) {
  if (byte == ProbeCommand()) {
    EnterMonitoring();
    OnMonitoringByte(byte);
    return;
  }
  switch (m_phase) {
    case 1:
      if (byte == p::kUpdateStart) HandshakeStep(1);
      if (byte == p::kUpdateStep2) HandshakeStep(2);
      break;
    case 2:
      if (byte == p::kUpdateStep2) HandshakeStep(2);
      if (byte == p::kUpdateStart) HandshakeStep(3);
      break;
    case 3:
      if (byte != p::kUpdateStart) break;
      if (m_handshakeCounts[3] < static_cast<size_t>(p::kHandshakeAttempts)) {
        HandshakeStep(3);
      } else {
        m_mode = Mode::Records;
        HandshakeStep(4);
      }
      break;
    default:
      break;
  }
}

void SimulatedDevice::OnRecordByte(uint8_t byte) {
  if (m_partial.empty()) {
    if (byte == ProbeCommand()) {
      EnterMonitoring();
      OnMonitoringByte(byte);
      return;
    }
    // A record's length is at most 253, so its first byte is never 0xD6.
    if (byte == p::kUpdateStart) {
      HandshakeStep(m_phase);
      return;
    }
  }
  m_partial.push_back(byte);
  if (m_partial.size() < 2) return;
  const size_t length = (static_cast<size_t>(m_partial[0]) << 8) | m_partial[1];
  if (m_partial.size() == length + 2) CompleteRecord();
}

void SimulatedDevice::HandshakeStep(int phase) {
  m_phase = phase;
  const size_t attempt = m_handshakeCounts[static_cast<size_t>(phase)]++;
  const std::vector<Answer>& answers = m_handshakeAnswers[static_cast<size_t>(phase)];
  Reply(answers[std::min(attempt, answers.size() - 1)]);
}

void SimulatedDevice::CompleteRecord() {
  Record record;
  record.swap(m_partial);
  const size_t arrival = m_received.size();
  m_received.push_back(record);
  Answer verdict = m_defaultVerdict;
  if (m_verdictFor) {
    verdict = m_verdictFor(arrival, record);
  } else if (arrival < m_verdicts.size()) {
    verdict = m_verdicts[arrival];
  }
  if (!verdict.bytes.empty() && verdict.bytes[0] == p::kRecordAccepted) m_accepted.push_back(record);
  Reply(verdict);
}

void SimulatedDevice::EnterMonitoring() {
  m_mode = Mode::Monitoring;
  m_phase = 0;
  m_partial.clear();
}

void SimulatedDevice::Reply(const Answer& answer) {
  if (!answer.bytes.empty()) m_line.Send(answer.bytes, answer.delayMs);
  if (answer.hangUp) m_line.HangUpAfterPending(answer.delayMs);
  m_lastActivity = std::max(m_lastActivity, Clock::now() + std::chrono::milliseconds(answer.delayMs));
}

void SimulatedDevice::CheckPhase(int phase) {
  if (phase < 1 || phase > 4) throw std::out_of_range("handshake phase must be 1..4");
}

}  // namespace quorvel::sim
