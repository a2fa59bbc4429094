#include "sim/DemoDevice.h"

#include <algorithm>

#include "link/Protocol.h"

namespace quorvel::sim {

namespace p = quorvel::protocol;
using Answer = SimulatedDevice::Answer;
using Mode = SimulatedDevice::Mode;

namespace {

// Shown as 01.2A.07 and P1.05.12.
constexpr std::array<uint8_t, 7> kFactoryVersion1 = {0x00, 0x00, 0x01, 0x2A, 0x00, 0x07, 0x00};
constexpr std::array<uint8_t, 7> kFactoryVersion2 = {0x00, 0x00, 0xC1, 0x05, 0x00, 0x0C, 0x00};

constexpr size_t kHeaderSize = 2;
constexpr size_t kCheckSize = 2;
// What the first record carries before the rest: the version reply and the
// image's record count.
constexpr size_t kCarriedSize = 7 + 2;

}  // namespace

DemoDevice::DemoDevice(SimulatedLine& line) : DemoDevice(line, Options{}) {}

DemoDevice::DemoDevice(SimulatedLine& line, Options options)
    : m_line(line),
      m_options(options),
      m_model1(line, p::kModel1),
      m_model2(line, p::kModel2),
      m_current(p::kModel2) {
  SetVersion(p::kModel1, kFactoryVersion1);
  SetVersion(p::kModel2, kFactoryVersion2);
  if (m_options.silentWarmUp) {
    m_model1.SetHandshakeAnswer(1, Answer::Silent());
    m_model1.SetHandshakeAnswer(3, Answer::Silent());
  }
  for (const int32_t model : {p::kModel1, p::kModel2}) {
    DeviceOf(model).SetVerdictFunction(
        [this, model](size_t, const SimulatedDevice::Record& record) { return Verdict(model, record); });
  }
  ApplyLineRate();
  // Both devices installed their handlers on the line; this one replaces them.
  m_line.SetByteHandler([this](uint8_t byte) { OnByte(byte); });
}

DemoDevice::~DemoDevice() { m_line.SetByteHandler(nullptr); }

int32_t DemoDevice::CurrentModel() const {
  std::lock_guard lock(m_mutex);
  return m_current;
}

SimulatedDevice& DemoDevice::Device(int32_t model) { return DeviceOf(model); }

std::array<uint8_t, 7> DemoDevice::Version(int32_t model) const {
  std::lock_guard lock(m_mutex);
  return StateOf(model).version;
}

void DemoDevice::SetVersion(int32_t model, const std::array<uint8_t, 7>& version) {
  std::lock_guard lock(m_mutex);
  StateOf(model).version = version;
  DeviceOf(model).SetVersion(version);
}

uint16_t DemoDevice::Crc16CcittFalse(const uint8_t* data, size_t size) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(data[i]) << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

bool DemoDevice::RecordCheckPasses(const std::vector<uint8_t>& record) {
  if (record.size() < kHeaderSize + kCheckSize) return false;
  const size_t length = (static_cast<size_t>(record[0]) << 8) | record[1];
  if (record.size() != kHeaderSize + length) return false;
  const size_t checked = record.size() - kCheckSize;
  const uint16_t stored = static_cast<uint16_t>((record[checked] << 8) | record[checked + 1]);
  return Crc16CcittFalse(record.data(), checked) == stored;
}

void DemoDevice::OnByte(uint8_t byte) {
  std::lock_guard lock(m_mutex);
  const int32_t heard = byte == p::kProbeModel1 ? p::kModel1 : byte == p::kProbeModel2 ? p::kModel2 : 0;
  // A probe of the other model, outside a record, means the program now
  // speaks to that model: an update the current one was in is abandoned.
  if (heard != 0 && heard != m_current && !DeviceOf(m_current).RecordInProgress()) {
    SimulatedDevice& previous = DeviceOf(m_current);
    if (previous.CurrentMode() != Mode::Monitoring) {
      ClearUpdate(m_current);
      previous.Reset();
    }
    m_current = heard;
    ApplyLineRate();
  }
  SimulatedDevice& device = DeviceOf(m_current);
  const Mode before = device.CurrentMode();
  device.HandleByte(byte);
  const Mode after = device.CurrentMode();
  if (before == Mode::Monitoring && after != Mode::Monitoring) ClearUpdate(m_current);
  if (before != Mode::Monitoring && after == Mode::Monitoring) UpdateEnded(m_current);
}

// Runs on the line's thread inside OnByte, which holds the mutex already.
Answer DemoDevice::Verdict(int32_t model, const SimulatedDevice::Record& record) {
  std::lock_guard lock(m_mutex);
  ModelState& state = StateOf(model);
  const bool passes = RecordCheckPasses(record);
  if (!state.anyRecord) {
    state.anyRecord = true;
    if (passes && record.size() >= kHeaderSize + kCarriedSize + kCheckSize) {
      std::array<uint8_t, 7> version{};
      std::copy_n(record.begin() + kHeaderSize, version.size(), version.begin());
      state.carried = version;
      const size_t count = kHeaderSize + version.size();
      state.carriedCount = (static_cast<size_t>(record[count]) << 8) | record[count + 1];
    }
  }
  if (passes) ++state.passed;
  else state.allPassed = false;
  return passes ? Answer::Accept() : Answer::CrcError();
}

void DemoDevice::ClearUpdate(int32_t model) {
  ModelState& state = StateOf(model);
  state.carried.reset();
  state.carriedCount = 0;
  state.anyRecord = false;
  state.allPassed = true;
  state.passed = 0;
}

// The probe after an update: the firmware just sent takes over when all of
// it arrived intact, every record the image holds.
void DemoDevice::UpdateEnded(int32_t model) {
  ModelState& state = StateOf(model);
  if (state.anyRecord && state.allPassed && state.carried && state.passed == state.carriedCount) {
    state.version = *state.carried;
    DeviceOf(model).SetVersion(state.version);
  }
  ClearUpdate(model);
}

void DemoDevice::ApplyLineRate() {
  if (!m_options.lineRate) return;
  m_line.SetLineRate(m_current == p::kModel1 ? p::kBaudModel1 : p::kBaudModel2);
}

SimulatedDevice& DemoDevice::DeviceOf(int32_t model) {
  return model == p::kModel1 ? m_model1 : m_model2;
}

DemoDevice::ModelState& DemoDevice::StateOf(int32_t model) {
  return model == p::kModel1 ? m_state1 : m_state2;
}

const DemoDevice::ModelState& DemoDevice::StateOf(int32_t model) const {
  return model == p::kModel1 ? m_state1 : m_state2;
}

}  // namespace quorvel::sim
