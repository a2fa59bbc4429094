// The Win32 serial port layer against the simulated adapter and demo device
// served by tests/wine/line_server on a pseudo-terminal that the Wine prefix
// maps as the COM port named in QUORVEL_TEST_COM_PORT (tools/windows.sh).

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "serial/SerialLink.h"

namespace quorvel {
namespace {

// Wine maps a COM port onto a Unix terminal without the sharing rules of a
// Windows serial driver: there a second open succeeds.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class MappedPortTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* name = std::getenv("QUORVEL_TEST_COM_PORT");
    if (name == nullptr || *name == '\0') GTEST_SKIP() << "no COM port mapped to the simulated line";
    port = FromUtf8(name);
    link.deviceDir = "\\\\.\\";
  }

  // Probes as model 2 and reads the version, as the link monitor does.
  void ExpectDeviceAnswers() {
    ASSERT_TRUE(link.SendCommand(protocol::kProbeModel2));
    EXPECT_EQ(link.rxBuf[0], protocol::kProbeModel2) << "the echo";
    uint8_t answer[protocol::kProbeAnswerLenModel2] = {};
    ASSERT_TRUE(link.ReadBytes(sizeof answer, answer, 2000));
    EXPECT_EQ(answer[0], protocol::kModel2Present);
    ASSERT_TRUE(link.SendCommand(protocol::kVersionQuery));
    uint8_t version[protocol::kVersionReplyLen] = {};
    ASSERT_TRUE(link.ReadBytes(sizeof version, version, 2000));
    // P1.05.12, or what an update run before this test installed.
    EXPECT_TRUE(protocol::FormatVersion(protocol::kModel2, version).starts_with(u"P1."));
  }

  Text port;
  SerialLink link;
};

TEST_F(MappedPortTest, ExchangesWithTheDeviceThroughEchoesAndPurges) {
  EXPECT_FALSE(link.OpenPort(u"COM99", protocol::kBaudModel2));
  ASSERT_TRUE(link.OpenPort(port, protocol::kBaudModel2));
  ExpectDeviceAnswers();
  // Nothing is pending now: a read waits out its time-out, measured on the
  // monotonic clock from the start of the call, and no longer than it must.
  uint8_t byte = 0x5A;
  const uint64_t start = MonotonicMs();
  EXPECT_FALSE(link.ReadBytes(1, &byte, 300));
  const uint64_t waited = MonotonicMs() - start;
  EXPECT_GE(waited, 290u);
  EXPECT_LT(waited, 10000u);
  EXPECT_EQ(byte, 0x5A) << "a failed one-byte read leaves the buffer alone";
  // The cancelled read left the port usable.
  ExpectDeviceAnswers();
  EXPECT_TRUE(link.PurgePort());
  link.ClosePort();
  link.ClosePort();
  EXPECT_EQ(link.hPort, kInvalidPort);
  EXPECT_FALSE(link.PurgePort());
  EXPECT_FALSE(link.SendCommand(protocol::kProbeModel2));
}

TEST_F(MappedPortTest, IsHeldExclusivelyAndFreedOnClose) {
  ASSERT_TRUE(link.OpenPort(port, protocol::kBaudModel2));
  SerialLink other;
  other.deviceDir = link.deviceDir;
  if (!UnderWine()) {
    EXPECT_FALSE(other.OpenPort(port, protocol::kBaudModel2));
    EXPECT_EQ(other.hPort, kInvalidPort);
  }
  link.ClosePort();
  ASSERT_TRUE(other.OpenPort(port, protocol::kBaudModel2));
  other.ClosePort();
}

// The adapter without a device only echoes: every byte value must come back
// as sent, whatever flow control or character handling the port had before.
// Its echo comes when the bytes have crossed the wire, so the record's echo
// wait is met only by a write that returns once its bytes have left: a full
// record at 1200 baud is 2125 ms on the line, longer than that wait.
TEST(MappedSilentPortTest, CarriesEveryByteValueAndWaitsForItToLeave) {
  const char* name = std::getenv("QUORVEL_TEST_SILENT_COM_PORT");
  if (name == nullptr || *name == '\0') GTEST_SKIP() << "no COM port mapped to an echoing line";
  uint8_t sent[256];
  for (int i = 0; i < 256; ++i) sent[i] = static_cast<uint8_t>(i);
  for (const uint32_t baud : {protocol::kBaudModel2, protocol::kBaudModel1}) {
    SCOPED_TRACE(baud);
    SerialLink link;
    link.deviceDir = "\\\\.\\";
    ASSERT_TRUE(link.OpenPort(FromUtf8(name), baud));
    uint8_t echo[256] = {};
    const uint64_t start = MonotonicMs();
    ASSERT_TRUE(link.WriteBytes(255, sent));
    const uint64_t onLineMs = 255 * 10 * 1000 / baud;
    EXPECT_GE(MonotonicMs() - start, onLineMs) << "the write returned before its bytes had left";
    ASSERT_TRUE(link.ReadBytes(255, echo, protocol::kRecordEchoWaitMs));
    ASSERT_TRUE(link.WriteBytes(1, sent + 255));
    ASSERT_TRUE(link.ReadBytes(1, echo + 255, protocol::kRecordEchoWaitMs));
    EXPECT_EQ(std::vector<uint8_t>(echo, echo + 256), std::vector<uint8_t>(sent, sent + 256));
  }
}

}  // namespace
}  // namespace quorvel
