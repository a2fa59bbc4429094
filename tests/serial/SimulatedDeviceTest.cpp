// The simulated device that the link and update tests rely on: its mode and
// phase tracking, record framing and verdict script, and line timing.

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "link/Protocol.h"
#include "serial/SerialLink.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"

namespace quorvel {
namespace {

using sim::SimulatedDevice;
using sim::SimulatedLine;
using Answer = sim::SimulatedDevice::Answer;
using Mode = sim::SimulatedDevice::Mode;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The program's side of the line, doing exchanges the way the link monitor
// and the update jobs do.
class DeviceOnPty : public ::testing::Test {
 protected:
  void Connect(sim::SimulatedDevice& device) {
    link.deviceDir = line.DeviceDir();
    const uint32_t baud = device.Model() == protocol::kModel1 ? 1200 : 19200;
    ASSERT_TRUE(link.OpenPort(line.PortName(), baud));
  }
  // Command with echo, then an answer of `length` bytes; empty if none came.
  Bytes Exchange(uint8_t command, uint8_t length, uint32_t waitMs = 500) {
    if (!link.SendCommand(command)) return {};
    Bytes answer(length);
    if (!link.ReadBytes(length, answer.data(), waitMs)) return {};
    return answer;
  }
  // A record with its echo, then its verdict; empty if none came.
  Bytes SendRecord(Bytes record, uint32_t waitMs = 1000) {
    const auto count = static_cast<uint8_t>(record.size());
    if (!link.WriteBytes(count, record.data())) return {};
    if (!link.ReadBytes(count, record.data(), 2000)) return {};
    uint8_t verdict = 0;
    if (!link.ReadBytes(1, &verdict, waitMs)) return {};
    return {verdict};
  }

  sim::SimulatedLine line;
  SerialLink link;
};

TEST_F(DeviceOnPty, Model1HandshakeIsTrackedPhaseByPhase) {
  sim::SimulatedDevice device(line, protocol::kModel1);
  device.SetHandshakeAnswer(1, Answer::Silent());
  Connect(device);

  for (int i = 0; i < 4; ++i) EXPECT_EQ(Exchange(0xD6, 1, 50), Bytes{}) << "phase 1, attempt " << i;
  EXPECT_EQ(Exchange(0xD7, 1), Bytes{0xD8});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Exchange(0xD6, 1), Bytes{0x00}) << "phase 3, attempt " << i;
  EXPECT_EQ(Exchange(0xD6, 1), Bytes{0xD7});
  EXPECT_EQ(Exchange(0xD6, 1), Bytes{0xD7}) << "a repeated phase 4 gets the same answer";
  EXPECT_EQ(device.CurrentMode(), Mode::Records);
  EXPECT_EQ(SendRecord({0x00, 0x02, 0xD6, 0xD7}), Bytes{0x11});

  EXPECT_EQ(device.HandshakeCount(1), 4u);
  EXPECT_EQ(device.HandshakeCount(2), 1u);
  EXPECT_EQ(device.HandshakeCount(3), 4u);
  EXPECT_EQ(device.HandshakeCount(4), 2u);
  EXPECT_EQ(device.AcceptedImage(), (Bytes{0x00, 0x02, 0xD6, 0xD7}));

  // The probe ends the update; 0xD7 is a version query again.
  EXPECT_EQ(Exchange(0xD5, 1, 100), Bytes{0x26});
  EXPECT_EQ(device.CurrentMode(), Mode::Monitoring);
  EXPECT_EQ(Exchange(0xD7, 7, 1000), (Bytes{0x00, 0x00, 0x01, 0x2A, 0x00, 0x07, 0x00}));
}

TEST_F(DeviceOnPty, Model2RecordsGetTheirScriptedVerdictsByArrival) {
  sim::SimulatedDevice device(line, protocol::kModel2);
  device.SetVerdicts({Answer::Reject(), Answer::Accept(), Answer::CrcError(), Answer::Accept(300)});
  Connect(device);
  EXPECT_EQ(Exchange(0xD4, 2, 150), (Bytes{0xD6, 0x00}));
  EXPECT_EQ(Exchange(0xD6, 1, 1000), Bytes{0xD7});

  const Bytes first = {0x00, 0x03, 0x11, 0x12, 0x13};
  const Bytes empty = {0x00, 0x00};
  const Bytes last = {0x00, 0x01, 0xFF};
  EXPECT_EQ(SendRecord(first), Bytes{0x55});
  EXPECT_EQ(SendRecord(first), Bytes{0x11});
  EXPECT_EQ(SendRecord(empty), Bytes{0x12});
  EXPECT_EQ(SendRecord(last, 100), Bytes{}) << "late verdict";
  uint8_t verdict = 0;
  EXPECT_TRUE(link.ReadBytes(1, &verdict, 2000));
  EXPECT_EQ(verdict, 0x11);
  EXPECT_EQ(SendRecord(last), Bytes{0x11}) << "past the script: accept";

  EXPECT_EQ(device.ReceivedRecords(), (std::vector<Bytes>{first, first, empty, last, last}));
  EXPECT_EQ(device.AcceptedRecords(), (std::vector<Bytes>{first, last, last}));
}

TEST_F(DeviceOnPty, AnswersCanBeCutShortWrongOrLate) {
  sim::SimulatedDevice device(line, protocol::kModel2);
  Connect(device);
  device.SetVersionAnswer(Answer::Of({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Exchange(0xD7, 7, 1000), Bytes{});
  device.SetProbeAnswer(Answer::Of({0xBD, 0x42}, 300));
  EXPECT_EQ(Exchange(0xD4, 2, 150), Bytes{});
  std::this_thread::sleep_for(300ms);  // let the late answer land before the next purge
  device.SetProbeAnswer(Answer::Of({0xBD, 0x42}));
  EXPECT_EQ(Exchange(0xD4, 2, 150), (Bytes{0xBD, 0x42}));
  EXPECT_EQ(Exchange(protocol::kProbeModel1, 1, 100), Bytes{}) << "the other model's probe";
  EXPECT_EQ(device.ProbeCount(), 2u);
  EXPECT_EQ(device.VersionQueryCount(), 1u);
}

// A full-size record at 1200 baud is 2.1 s on the wire, longer than the echo
// wait. On a real adapter that wait starts when the write has returned, the
// bytes gone; here the write returns at once, so the echo must not wait for
// the wire: the device's answer does.
TEST_F(DeviceOnPty, LineRatePacesTheDeviceNotTheEchoByTenBitTimesPerByte) {
  sim::SimulatedDevice device(line, protocol::kModel1);
  line.SetLineRate(1200);  // 8.33 ms a byte
  Connect(device);
  EXPECT_EQ(Exchange(0xD6, 1, 1000), Bytes{0x00});
  EXPECT_EQ(Exchange(0xD7, 1, 1000), Bytes{0xD8});
  for (int i = 0; i < 4; ++i) Exchange(0xD6, 1, 1000);
  EXPECT_EQ(Exchange(0xD6, 1, 1000), Bytes{0xD7});

  Bytes record(255, 0xA5);
  record[0] = 0x00;
  record[1] = 253;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(link.WriteBytes(255, record.data()));
  Bytes echo(255);
  ASSERT_TRUE(link.ReadBytes(255, echo.data(), protocol::kRecordEchoWaitMs));
  EXPECT_EQ(echo, record);
  uint8_t verdict = 0;
  EXPECT_TRUE(link.ReadBytes(1, &verdict, 5000));
  EXPECT_EQ(verdict, 0x11);
  EXPECT_GE(MsSince(start), 2133) << "the record and the verdict take 256 byte times";
}

TEST_F(DeviceOnPty, VerdictCanHangUpTheLineAndTheDeviceAnswersAfterReplug) {
  sim::SimulatedDevice device(line, protocol::kModel2);
  device.SetVerdicts({Answer::Accept(), Answer::HangUp()});
  Connect(device);
  EXPECT_EQ(Exchange(0xD6, 1, 1000), Bytes{0xD7});
  EXPECT_EQ(SendRecord({0x00, 0x01, 0x01}), Bytes{0x11});

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendRecord({0x00, 0x01, 0x02}, 2000), Bytes{});
  EXPECT_LT(MsSince(start), 1500) << "a hang-up ends the wait for the verdict";
  EXPECT_FALSE(line.Plugged());

  link.ClosePort();
  line.Replug();
  Connect(device);
  EXPECT_EQ(Exchange(0xD4, 2, 150), (Bytes{0xD6, 0x00}));
  EXPECT_EQ(device.CurrentMode(), Mode::Monitoring);
}

TEST_F(DeviceOnPty, QuietTimesEndAnIncompleteRecordAndTheUpdate) {
  sim::SimulatedDevice device(line, protocol::kModel2);
  device.SetPartialRecordTimeoutMs(100);
  device.SetUpdateIdleMs(400);
  Connect(device);
  EXPECT_EQ(Exchange(0xD6, 1, 1000), Bytes{0xD7});

  Bytes truncated = {0x00, 0x0A, 1, 2, 3};
  ASSERT_TRUE(link.WriteBytes(5, truncated.data()));
  ASSERT_TRUE(link.ReadBytes(5, truncated.data(), 2000));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(SendRecord({0x00, 0x01, 0x07}), Bytes{0x11});
  EXPECT_EQ(device.ReceivedRecords(), (std::vector<Bytes>{{0x00, 0x01, 0x07}}));

  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(Exchange(0xD7, 7, 1000).size(), 7u) << "back to monitoring: a version query";
}

TEST_F(DeviceOnPty, LineMisbehavesAsScripted) {
  sim::SimulatedDevice device(line, protocol::kModel2);
  Connect(device);

  line.SetSilent(true);
  EXPECT_FALSE(link.SendCommand(0xD4)) << "a silent adapter echoes nothing";
  line.SetSilent(false);

  line.SendGarbage(100, 7);
  Bytes garbage(100);
  ASSERT_TRUE(link.ReadBytes(100, garbage.data(), 1000));
  const Bytes sent = line.SentToProgram();
  EXPECT_EQ(garbage, Bytes(sent.end() - 100, sent.end()));

  line.SetFlood(true, 0x33);
  Bytes flood(255);
  ASSERT_TRUE(link.ReadBytes(255, flood.data(), 1000));
  EXPECT_EQ(flood, Bytes(255, 0x33));
  line.SetFlood(false);
  ASSERT_TRUE(link.PurgePort());
  uint8_t byte = 0;
  EXPECT_FALSE(link.ReadBytes(1, &byte, 100)) << "the flood has stopped";

  // Pulled in the middle of a record: three of its bytes got through.
  line.ClearReceived();
  line.HangUpAfterBytes(3);
  Bytes record = {0x00, 0x03, 1, 2, 3};
  link.WriteBytes(5, record.data());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.ReadBytes(5, record.data(), 2000));
  EXPECT_LT(MsSince(start), 1500);
  EXPECT_EQ(line.Received(), (Bytes{0x00, 0x03, 1}));
}

}  // namespace
}  // namespace quorvel
