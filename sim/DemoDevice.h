#pragma once
// The device of the demo: one simulated device on a SimulatedLine that
// answers as a model 1 ("BRENIX") or a model 2 ("OLMAR I") device, whichever
// the program speaks to. The model is the one whose probe byte was heard
// last (0xD5: model 1, 0xD4: model 2; model 2 until a probe is heard), so
// switching the radio button in the window switches the device. With line
// timing on, the line runs at that model's baud rate (1200 or 19200), so an
// update takes as long as it would on the wire.
//
// Usage:
//   SimulatedLine line;
//   DemoDevice device(line);                  // or DemoDevice(line, {.lineRate = false})
//   ... the program opens line.SlavePath() (SimulatedPortPlatform lists it) ...
//   device.Device(protocol::kModel2).SetVerdicts(...);  // script one model if needed
//
// Record check. Each record ends with a check value: the last two bytes of
// its body are the CRC-16/CCITT-FALSE (polynomial 0x1021, initial value
// 0xFFFF, no reflection, no final XOR) of all the record's bytes before them,
// length header included, high byte first. A record whose check does not
// match, or whose body is too short to hold one, is answered 0x12 (CRC
// error); any other record 0x11. tools/make_samples.py writes the same check.
//
// Firmware version. When the body of the first record of an update holds at
// least nine bytes before its check value, its first seven bytes are the
// version reply of the firmware being sent and the next two the number of
// records of the whole image, high byte first. Once the update has ended (the
// model's next probe arrives) with that many records accepted and none
// refused, the device answers version queries with the new version: after an
// update the window shows it. An update that stopped early (interrupted,
// adapter pulled) or was left for the other model installs nothing.
//
// Threading: as SimulatedDevice; every public method may be called from any
// thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"

namespace quorvel::sim {

class DemoDevice {
 public:
  struct Options {
    // Bytes take their time on the wire at the current model's baud rate.
    bool lineRate = true;
    // Model 1 stays silent in handshake phases 1 and 3, as a real device
    // may (each of those eight attempts then waits out its 1000 ms).
    bool silentWarmUp = false;
  };

  explicit DemoDevice(SimulatedLine& line);
  DemoDevice(SimulatedLine& line, Options options);
  ~DemoDevice();
  DemoDevice(const DemoDevice&) = delete;
  DemoDevice& operator=(const DemoDevice&) = delete;

  // The model the device answers as now.
  int32_t CurrentModel() const;
  // The device behind one model, for scripting and observation.
  SimulatedDevice& Device(int32_t model);
  // The version reply one model gives now.
  std::array<uint8_t, 7> Version(int32_t model) const;
  // Replaces a model's version reply.
  void SetVersion(int32_t model, const std::array<uint8_t, 7>& version);

  // The record check (see above).
  static uint16_t Crc16CcittFalse(const uint8_t* data, size_t size);
  static bool RecordCheckPasses(const std::vector<uint8_t>& record);

 private:
  struct ModelState {
    std::array<uint8_t, 7> version{};
    // Within an update: the version and the record count its first record
    // carries, whether a record has come, whether every record so far
    // passed, and how many did.
    std::optional<std::array<uint8_t, 7>> carried;
    size_t carriedCount = 0;
    bool anyRecord = false;
    bool allPassed = true;
    size_t passed = 0;
  };

  void OnByte(uint8_t byte);
  SimulatedDevice::Answer Verdict(int32_t model, const SimulatedDevice::Record& record);
  void ClearUpdate(int32_t model);
  void UpdateEnded(int32_t model);
  void ApplyLineRate();
  SimulatedDevice& DeviceOf(int32_t model);
  ModelState& StateOf(int32_t model);
  const ModelState& StateOf(int32_t model) const;

  SimulatedLine& m_line;
  const Options m_options;
  SimulatedDevice m_model1;
  SimulatedDevice m_model2;

  // Held across a byte's whole handling; the verdict functions take it again
  // on the same thread.
  mutable std::recursive_mutex m_mutex;
  int32_t m_current;
  ModelState m_state1;
  ModelState m_state2;
};

}  // namespace quorvel::sim
