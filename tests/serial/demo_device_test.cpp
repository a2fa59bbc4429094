// The demo's far end: the device that answers as either model and checks each
// record, and the port list that shows its adapter beside the machine's.

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/AdapterDiscovery.h"
#include "link/Protocol.h"
#include "serial/PortList.h"
#include "serial/SerialLink.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/SimulatedPortPlatform.h"
#include "support/FakeSysfs.h"

namespace quorvel {
namespace {

using sim::DemoDevice;
using Bytes = std::vector<uint8_t>;
using Version = std::array<uint8_t, 7>;
namespace p = protocol;

int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

// A record of `body` followed by its check value, optionally spoilt.
Bytes CheckedRecord(Bytes body, bool spoil = false) {
  const size_t length = body.size() + 2;
  Bytes record(2 + length);
  record[0] = static_cast<uint8_t>(length >> 8);
  record[1] = static_cast<uint8_t>(length);
  std::copy(body.begin(), body.end(), record.begin() + 2);
  uint16_t check = DemoDevice::Crc16CcittFalse(record.data(), 2 + body.size());
  if (spoil) check ^= 0x0100;
  record[record.size() - 2] = static_cast<uint8_t>(check >> 8);
  record[record.size() - 1] = static_cast<uint8_t>(check);
  return record;
}

TEST(DemoRecordCheck, IsCrc16CcittFalse) {
  const std::string standard = "123456789";
  EXPECT_EQ(DemoDevice::Crc16CcittFalse(reinterpret_cast<const uint8_t*>(standard.data()), standard.size()),
            0x29B1);
  EXPECT_EQ(DemoDevice::Crc16CcittFalse(nullptr, 0), 0xFFFF);
}

TEST(DemoRecordCheck, CoversHeaderAndBodyAndSitsBigEndianAtTheEnd) {
  const Bytes good = CheckedRecord({0x10, 0x20, 0x30});
  ASSERT_EQ(good.size(), 7u);
  struct Case {
    const char* what;
    Bytes record;
    bool passes;
  };
  Bytes bodyFlipped = good;
  bodyFlipped[3] ^= 0x01;
  Bytes headerChanged = good;
  headerChanged[1] = 0x06;
  headerChanged.push_back(0x00);  // framed again, but the check no longer matches
  Bytes swapped = good;
  std::swap(swapped[5], swapped[6]);
  const Case cases[] = {
      {"intact", good, true},
      {"only a check value", CheckedRecord({}), true},
      {"check spoilt", CheckedRecord({0x10, 0x20, 0x30}, true), false},
      {"body byte flipped", bodyFlipped, false},
      {"header changed", headerChanged, false},
      {"check little-endian", swapped, false},
      {"body too short for a check", Bytes{0x00, 0x01, 0xFF}, false},
      {"length disagrees with size", Bytes{0x00, 0x09, 0x00, 0x00}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(DemoDevice::RecordCheckPasses(c.record), c.passes) << c.what;
}

// The program's side of the line, talking to the demo device.
class DemoOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    link.deviceDir = line.DeviceDir();
    ASSERT_TRUE(link.OpenPort(line.PortName(), 19200));
  }

  Bytes Exchange(uint8_t command, uint8_t length, uint32_t waitMs = 1000) {
    if (!link.SendCommand(command)) return {};
    Bytes answer(length);
    if (!link.ReadBytes(length, answer.data(), waitMs)) return {};
    return answer;
  }
  uint8_t SendRecord(Bytes record) {
    const auto count = static_cast<uint8_t>(record.size());
    if (!link.WriteBytes(count, record.data())) return 0;
    if (!link.ReadBytes(count, record.data(), 2000)) return 0;
    uint8_t verdict = 0;
    if (!link.ReadBytes(1, &verdict, 2000)) return 0;
    return verdict;
  }
  void Handshake(int32_t model) {
    if (model == p::kModel2) {
      EXPECT_EQ(Exchange(p::kUpdateStart, 1), Bytes{p::kReadyForRecords});
      return;
    }
    for (int i = 0; i < 4; ++i) Exchange(p::kUpdateStart, 1);
    EXPECT_EQ(Exchange(p::kUpdateStep2, 1), Bytes{p::kStep2Answer});
    for (int i = 0; i < 4; ++i) Exchange(p::kUpdateStart, 1);
    EXPECT_EQ(Exchange(p::kUpdateStart, 1), Bytes{p::kReadyForRecords});
  }
  Bytes Probe(int32_t model) {
    return model == p::kModel1 ? Exchange(p::kProbeModel1, 1) : Exchange(p::kProbeModel2, 2);
  }
  Bytes VersionReply() { return Exchange(p::kVersionQuery, 7); }

  sim::SimulatedLine line;
  DemoDevice device{line, {.lineRate = false}};
  SerialLink link;
};

TEST_F(DemoOnPty, AnswersAsTheModelWhoseProbeItHeardLast) {
  EXPECT_EQ(device.CurrentModel(), p::kModel2);
  const Version v1 = device.Version(p::kModel1);
  const Version v2 = device.Version(p::kModel2);
  EXPECT_EQ(p::FormatVersion(1, v1.data()), u"01.2A.07");
  EXPECT_EQ(p::FormatVersion(2, v2.data()), u"P1.05.12");
  struct Step {
    int32_t probe;
    Bytes answer;
  };
  const Step steps[] = {
      {p::kModel1, {p::kModel1Present}},
      {p::kModel1, {p::kModel1Present}},
      {p::kModel2, {p::kModel2Present, 0x00}},
      {p::kModel1, {p::kModel1Present}},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(Probe(s.probe), s.answer) << s.probe;
    EXPECT_EQ(device.CurrentModel(), s.probe);
    const Version& expected = s.probe == p::kModel1 ? v1 : v2;
    EXPECT_EQ(VersionReply(), Bytes(expected.begin(), expected.end())) << s.probe;
  }
}

// Each model: an update whose records all pass installs the version its first
// record carries; one with a failed record, or stopped before the last of
// the records the first one counts, keeps the old version.
TEST_F(DemoOnPty, InstallsTheCarriedVersionOnlyWhenTheWholeImagePassed) {
  const Version carried = {0x00, 0x00, 0xC2, 0x03, 0x00, 0x0E, 0x00};
  struct Case {
    int32_t model;
    int badRecord;  // -1: none
    int sent;       // records sent of the image's 3
  };
  for (const Case c : {Case{p::kModel1, 2, 3}, Case{p::kModel1, -1, 3}, Case{p::kModel2, 0, 3},
                       Case{p::kModel2, -1, 3}, Case{p::kModel1, -1, 2}, Case{p::kModel2, -1, 1}}) {
    const Version before = device.Version(c.model);
    ASSERT_FALSE(Probe(c.model).empty());
    Handshake(c.model);
    for (int i = 0; i < c.sent; ++i) {
      Bytes body(20, static_cast<uint8_t>(0x40 + i));
      if (i == 0) {
        std::copy(carried.begin(), carried.end(), body.begin());
        body[7] = 0x00;  // the image's record count, high byte first
        body[8] = 0x03;
      }
      const bool bad = i == c.badRecord;
      EXPECT_EQ(SendRecord(CheckedRecord(body, bad)), bad ? p::kRecordCrcError : p::kRecordAccepted)
          << c.model << " record " << i;
      if (bad) break;
    }
    EXPECT_FALSE(Probe(c.model).empty()) << "the probe ends the update";
    const Version expected = c.badRecord < 0 && c.sent == 3 ? carried : before;
    EXPECT_EQ(VersionReply(), Bytes(expected.begin(), expected.end()))
        << c.model << " " << c.badRecord << " " << c.sent;
    EXPECT_EQ(device.Version(c.model), expected);
  }
}

TEST_F(DemoOnPty, TheOtherModelsProbeEndsAnUnfinishedUpdate) {
  ASSERT_FALSE(Probe(p::kModel2).empty());
  Handshake(p::kModel2);
  EXPECT_EQ(SendRecord(CheckedRecord(Bytes(9, 0x00))), p::kRecordAccepted);
  // Left in the middle of the update, the program switches to model 1.
  EXPECT_EQ(Probe(p::kModel1), Bytes{p::kModel1Present});
  EXPECT_EQ(device.Device(p::kModel2).CurrentMode(), sim::SimulatedDevice::Mode::Monitoring);
  // The unfinished update installed nothing.
  const Version factory2 = {0x00, 0x00, 0xC1, 0x05, 0x00, 0x0C, 0x00};
  EXPECT_EQ(device.Version(p::kModel2), factory2);
}

TEST_F(DemoOnPty, ProbeBytesInsideARecordAreData) {
  ASSERT_FALSE(Probe(p::kModel2).empty());
  Handshake(p::kModel2);
  const Bytes body{p::kProbeModel1, p::kProbeModel2, p::kProbeModel1, 0x00};
  EXPECT_EQ(SendRecord(CheckedRecord(body)), p::kRecordAccepted);
  EXPECT_EQ(device.CurrentModel(), p::kModel2);
  ASSERT_EQ(device.Device(p::kModel2).AcceptedRecords().size(), 1u);
}

TEST(DemoLineRate, FollowsTheModel) {
  sim::SimulatedLine line;
  DemoDevice device(line);
  SerialLink link;
  link.deviceDir = line.DeviceDir();
  ASSERT_TRUE(link.OpenPort(line.PortName(), 1200));
  uint8_t buffer[255] = {};

  // Model 1 at 1200 baud: the probe and its echo, then the query, its echo
  // and the 7 reply bytes, ten bit times each.
  ASSERT_TRUE(link.SendCommand(p::kProbeModel1));
  ASSERT_TRUE(link.ReadBytes(1, buffer, 1000));
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(link.SendCommand(p::kVersionQuery));
  ASSERT_TRUE(link.ReadBytes(7, buffer, 2000));
  EXPECT_GE(MsSince(start), 60);  // 8 bytes of 8.3 ms

  // Model 2 at 19200 baud: a 255-byte record and its verdict take about
  // 134 ms, far from the 2.1 s they would take at 1200 baud.
  ASSERT_TRUE(link.SendCommand(p::kProbeModel2));
  ASSERT_TRUE(link.ReadBytes(2, buffer, 1000));
  ASSERT_TRUE(link.SendCommand(p::kUpdateStart));
  ASSERT_TRUE(link.ReadBytes(1, buffer, 1000));
  Bytes record = CheckedRecord(Bytes(251, 0x5A));
  start = std::chrono::steady_clock::now();
  ASSERT_TRUE(link.WriteBytes(255, record.data()));
  ASSERT_TRUE(link.ReadBytes(255, buffer, 2000));
  ASSERT_TRUE(link.ReadBytes(1, buffer, 2000));
  const int64_t elapsed = MsSince(start);
  EXPECT_EQ(buffer[0], p::kRecordAccepted);
  EXPECT_GE(elapsed, 125);
  EXPECT_LT(elapsed, 1500);
}

// ---- the port list of the demo

class SimulatedPortListTest : public ::testing::Test {
 protected:
  std::vector<SSerInfo> List() {
    std::vector<SSerInfo> ports;
    EXPECT_FALSE(ListSerialPorts(ports, platform).Failed());
    return ports;
  }
  static Text Tty(const std::string& slavePath) { return FromUtf8(slavePath.substr(5)); }  // "/dev/"

  test::FakeSysfs sysfs;
  std::unique_ptr<PortPlatform> machine = MakeSysfsPortPlatform(sysfs.RootString());
  sim::SimulatedLine line;
  sim::SimulatedPortPlatform platform{*machine, line};
};

TEST_F(SimulatedPortListTest, ListsTheSimulatedAdapterFirstThenTheMachinesPorts) {
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "CP2102 USB to UART", "0001");
  sysfs.AddLegacyUart("ttyS0", 4);
  std::vector<SSerInfo> own;
  ASSERT_FALSE(ListSerialPorts(own, *machine).Failed());
  ASSERT_EQ(own.size(), 2u);

  const std::vector<SSerInfo> ports = List();
  ASSERT_EQ(ports.size(), 3u);
  const Text tty = Tty(line.SlavePath());
  EXPECT_EQ(ports[0].name, tty);
  EXPECT_EQ(ports[0].friendlyName, u"Simulated adapter (" + tty + u")");
  EXPECT_TRUE(IsAdapter(ports[0]));
  EXPECT_EQ(ports[0].serialNumber, u"DEMO");
  for (size_t i = 0; i < own.size(); ++i) {
    EXPECT_EQ(ports[i + 1].devicePath, own[i].devicePath);
    EXPECT_EQ(ports[i + 1].friendlyName, own[i].friendlyName);
  }
}

TEST_F(SimulatedPortListTest, ItsNameOpensTheLineWithTheUsualDeviceDirectory) {
  DemoDevice device(line, {.lineRate = false});
  const std::vector<SSerInfo> ports = List();
  ASSERT_EQ(ports.size(), 1u);
  SerialLink link;  // deviceDir "/dev/"
  ASSERT_TRUE(link.OpenPort(ports[0].name, 19200));
  ASSERT_TRUE(link.SendCommand(p::kProbeModel2));
  uint8_t answer[2] = {};
  ASSERT_TRUE(link.ReadBytes(2, answer, 1000));
  EXPECT_EQ(answer[0], p::kModel2Present);
}

TEST_F(SimulatedPortListTest, FollowsTheLineAcrossReplugs) {
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "CP2102 USB to UART", "0001");
  line.HangUp();
  std::vector<SSerInfo> ports = List();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].name, u"ttyUSB0");

  line.Replug();
  ports = List();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].name, Tty(line.SlavePath()));
}

TEST(SimulatedPortList, LeavesOutALineOutsideTheDeviceDirectory) {
  sim::SimulatedLine line;
  test::FakeSysfs sysfs;
  const auto machine = MakeSysfsPortPlatform(sysfs.RootString());
  sim::SimulatedPortPlatform platform(*machine, line, "/somewhere/else/");
  EXPECT_FALSE(platform.SimulatedEntry().has_value());
  std::vector<SSerInfo> ports;
  EXPECT_FALSE(ListSerialPorts(ports, platform).Failed());
  EXPECT_TRUE(ports.empty());
}

}  // namespace
}  // namespace quorvel
