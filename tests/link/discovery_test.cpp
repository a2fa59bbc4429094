#include <gtest/gtest.h>
#include <termios.h>

#include <filesystem>

#include "link/AdapterRotation.h"
#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "support/DialogHarness.h"
#include "support/FakePortPlatform.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "ui/QuorvelDlg.h"

namespace quorvel {
namespace {

using test::FakePortPlatform;
using test::UsbPort;
using sim::SimulatedLine;

// Two simulated adapters reachable under one device directory as ttyA and
// ttyB, and a port list the test writes itself.
class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() {
    std::filesystem::create_symlink(lineA.SlavePath(), devices.Path() / "ttyA");
    std::filesystem::create_symlink(lineB.SlavePath(), devices.Path() / "ttyB");
    h = std::make_unique<test::DialogHarness>(
        &ports, devices.Path().string() + "/");
    dlg = h->dlg.get();
    w = h->w;
    w->Click(IDC_MODEL2_RADIO);
  }

  void List(std::vector<SSerInfo> entries) { ports.ports = std::move(entries); }

  static SimulatedLine::Options Named(const char* name) {
    SimulatedLine::Options options;
    options.linkName = name;
    return options;
  }

  SimulatedLine lineA{Named("a")};
  SimulatedLine lineB{Named("b")};
  sim::TempDir devices;
  FakePortPlatform ports;
  std::unique_ptr<test::DialogHarness> h;
  CQuorvelDlg* dlg = nullptr;
  test::HeadlessWindow* w = nullptr;
};

TEST_F(DiscoveryTest, WhatCountsAsAnAdapter) {
  SSerInfo notUsb = UsbPort(u"ttyA");
  notUsb.usb = false;
  const struct {
    const char* what;
    SSerInfo port;
    bool opens;
  } cases[] = {
      {"first identifiers", UsbPort(u"ttyA"), true},
      {"second identifiers", UsbPort(u"ttyA", 0x10c8, 0xea61), true},
      {"mixed pair", UsbPort(u"ttyA", 0x10c4, 0xea61), false},
      {"other identifiers", UsbPort(u"ttyA", 0x0403, 0x6001), false},
      {"not on USB", notUsb, false},
      {"no name", UsbPort(u""), false},
      {"no such device", UsbPort(u"ttyZ"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::Peer(*dlg).SelectModel2();
    List({c.port});
    w->Tick();
    EXPECT_EQ(test::Peer(*dlg).m_linkState, c.opens ? 1 : 0);
    EXPECT_EQ(test::Peer(*dlg).m_link.hPort != kInvalidPort, c.opens);
  }
}

TEST_F(DiscoveryTest, FirstAdapterThatOpensWins) {
  SSerInfo uart;
  uart.name = u"ttyS0";
  List({uart, UsbPort(u"ttyA"), UsbPort(u"ttyB", 0x10c8, 0xea61)});
  // Another program holds the first adapter.
  SerialLink other;
  other.deviceDir = devices.Path().string() + "/";
  ASSERT_TRUE(other.OpenPort(u"ttyA", 19200));
  w->Tick();
  EXPECT_EQ(test::Peer(*dlg).m_linkState, 1);
  ASSERT_NE(test::Peer(*dlg).m_link.hPort, kInvalidPort);
  // The port opened is the second adapter's: a byte sent arrives on line B.
  ASSERT_TRUE(test::Peer(*dlg).m_link.WriteBytes(1, std::vector<uint8_t>{0x42}.data()));
  EXPECT_TRUE(lineB.WaitForReceived(1, 2000));
  EXPECT_EQ(lineA.ReceivedCount(), 0u);
}

TEST_F(DiscoveryTest, AnAdapterReachedWhileAPortIsOpenOnlyResetsSkipEcho) {
  List({UsbPort(u"ttyA")});
  w->Tick();
  ASSERT_EQ(test::Peer(*dlg).m_linkState, 1);
  const PortHandle open = test::Peer(*dlg).m_link.hPort;
  const size_t invalidations = w->invalidations.size();
  test::Peer(*dlg).m_link.skipEcho = 7;
  test::Peer(*dlg).m_linkState = kNoAdapterPort;  // as if the monitor were to look again
  test::Peer(*dlg).FindAdapterPort();
  EXPECT_EQ(test::Peer(*dlg).m_link.skipEcho, 0);
  EXPECT_EQ(test::Peer(*dlg).m_link.hPort, open);
  EXPECT_EQ(test::Peer(*dlg).m_linkState, 0);
  EXPECT_EQ(w->invalidations.size(), invalidations);
}

TEST_F(DiscoveryTest, AnEnumerationErrorEndsTheAttemptQuietly) {
  List({UsbPort(u"ttyA")});
  ports.failure = u"Could not read /sys/class/tty: Permission denied";
  w->Tick();
  w->Tick();
  EXPECT_EQ(test::Peer(*dlg).m_linkState, 0);
  EXPECT_TRUE(w->messageBoxes.empty());
  ports.failure.clear();
  w->Tick();
  EXPECT_EQ(test::Peer(*dlg).m_linkState, 1);
}

TEST_F(DiscoveryTest, OpensAtTheSelectedModelsRate) {
  List({UsbPort(u"ttyA")});
  w->Click(IDC_MODEL1_RADIO);
  w->Tick();
  ASSERT_EQ(test::Peer(*dlg).m_linkState, 1);
  termios tio{};
  ASSERT_EQ(tcgetattr(test::Peer(*dlg).m_link.hPort, &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B1200));
}

// Two adapters with the same identifiers, the device behind the second: the
// first opens and the link stays short of state 2 on it (the device silent,
// or no echo at all, so that the port drops back to discovery at every other
// tick) for the named number of ticks, counted from its opening; then the
// monitor moves on. With one adapter it stays where it is and lists no ports
// again.
TEST_F(DiscoveryTest, NoDeviceReachedOnOneAdapterMovesOnToTheNext) {
  const struct {
    const char* name;
    bool two;
    bool echoA;
  } cases[] = {
      {"two adapters, device silent on the first", true, true},
      {"two adapters, no echo on the first", true, false},
      {"one adapter", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimulatedDevice device(lineB, protocol::kModel2);
    lineA.SetEcho(c.echoA);
    if (c.two) {
      List({UsbPort(u"ttyA"), UsbPort(u"ttyB")});
    } else {
      List({UsbPort(u"ttyA")});
    }
    w->Click(IDC_MODEL2_RADIO);
    lineA.ClearReceived();
    w->Tick();
    ASSERT_EQ(test::Peer(*dlg).m_linkState, 1);
    const int listings = ports.listings;
    for (int i = 0; i < kSilentTicksBeforeNextAdapter - 2; ++i) w->Tick();
    EXPECT_NE(test::Peer(*dlg).m_linkState, 2);
    EXPECT_EQ(device.ProbeCount(), 0u) << "moved on too early";
    w->Tick();  // the last tick of the first adapter's turn
    w->Tick();
    if (c.two) {
      EXPECT_EQ(test::Peer(*dlg).m_linkState, 2);
      EXPECT_EQ(device.VersionQueryCount(), 1u);
    } else {
      EXPECT_EQ(test::Peer(*dlg).m_linkState, 1);
      EXPECT_EQ(ports.listings, listings);
      EXPECT_EQ(lineA.Received(),
                std::vector<uint8_t>(kSilentTicksBeforeNextAdapter, protocol::kProbeModel2));
    }
  }
}

// A front end without a monitor (the flasher) takes the first adapter whose
// device answers, by the same turns.
TEST_F(DiscoveryTest, TheFirstAdapterWhoseDeviceAnswersIsFound) {
  sim::SimulatedDevice device(lineB, protocol::kModel2);
  lineA.SetEcho(false);
  List({UsbPort(u"ttyA"), UsbPort(u"ttyB")});
  SerialLink link;
  link.deviceDir = devices.Path().string() + "/";
  const AnsweringAdapter found =
      FindAnsweringAdapter(link, ports, protocol::kModel2, 0, [] { return false; });
  EXPECT_TRUE(found.found);
  EXPECT_EQ(ToUtf8(found.portName), "ttyB");
  EXPECT_EQ(found.adapters, 2u);
  EXPECT_NE(link.hPort, kInvalidPort);
  EXPECT_EQ(device.VersionQueryCount(), 1u);
}

}  // namespace
}  // namespace quorvel
