#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/EnglishTexts.h"
#include "link/link_fixture.h"

namespace quorvel {
namespace {

using protocol::kModel1;
using protocol::kModel2;
using test::LinkFixture;
using Answer = sim::SimulatedDevice::Answer;


struct ModelCase {
  int32_t model;
  std::array<uint8_t, 7> version;
  const char16_t* versionText;
};

const ModelCase kModels[] = {
    {kModel1, {0, 0, 0x01, 0x2A, 0, 0x07, 0}, u"01.2A.07"},
    {kModel2, {0, 0, 0xC1, 0x05, 0, 0x0C, 0}, u"P1.05.12"},
};

TEST(LinkMonitor, ReachesStateTwoInTwoTicksForBothModels) {
  for (const auto& c : kModels) {
    SCOPED_TRACE(c.model);
    LinkFixture f(c.model);
    f.device.SetVersion(c.version);
    f.SelectModel(c.model);
    EXPECT_EQ(test::Peer(*f.dlg).m_baudRate, c.model == kModel1 ? 1200 : 19200);

    f.w->Tick();
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 1);
    EXPECT_NE(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
    EXPECT_EQ(f.Invalidations(), 1u);
    EXPECT_EQ(f.w->invalidations.back(), test::Peer(*f.dlg).m_rcLamps);
    // Texts follow at once after discovery, before any paint.
    EXPECT_EQ(f.w->TextOf(IDC_HINT_TEXT), test::english::kHintNoDevice);
    EXPECT_EQ(f.line.ReceivedCount(), 0u);  // not probed in the same tick

    f.TickAndPaint();
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 2);
    EXPECT_EQ(f.Invalidations(), 2u);
    EXPECT_EQ(f.w->TextOf(IDC_VERSION_TEXT), c.versionText);
    EXPECT_EQ(f.w->TextOf(IDC_HINT_TEXT), test::english::kHintReady);
    EXPECT_EQ(f.w->paintOps[0].colour, 0x00FF00u);
    EXPECT_EQ(f.w->paintOps[1].colour, 0x00FF00u);
    const uint8_t probe = f.device.ProbeCommand();
    EXPECT_EQ(f.line.Received(), (std::vector<uint8_t>{probe, protocol::kVersionQuery}));
  }
}

// An adapter that another program holds: the hint names its port and the
// reason, the line outside the window comes once; freed, the link comes up.
// --verbose tells each step.
TEST(LinkMonitor, AHeldAdapterIsToldOnceThenTheLinkComesUp) {
  LinkFixture f(kModel2);
  std::vector<std::string> reported;
  std::vector<std::string> traced;
  test::Peer(*f.dlg).m_env.reportLine = [&](const std::string& line) { reported.push_back(line); };
  test::Peer(*f.dlg).m_env.trace = [&](const std::string& line) { traced.push_back(line); };
  const int holder = ::open(f.line.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

  f.SelectModel(kModel2);
  for (int i = 0; i < 3; ++i) f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 0);
  const std::string hint = ToUtf8(f.w->TextOf(IDC_HINT_TEXT));
  EXPECT_NE(hint.find(f.line.DevicePath() + " is held by another program"), std::string::npos) << hint;
  EXPECT_EQ(reported, std::vector<std::string>{hint});

  ::close(holder);
  f.TickAndPaint();
  EXPECT_EQ(f.w->TextOf(IDC_HINT_TEXT), test::english::kHintNoDevice);
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  EXPECT_EQ(reported.size(), 1u);
  const std::vector<std::string> expected = {
      "model OLMAR I selected, 19200 baud", "port not opened: " + hint,
      "port ttySIM0 opened at 19200 baud", "link state 0 -> 1: adapter found, device silent",
      "link state 1 -> 2: device ready, version P1.05.12"};
  EXPECT_EQ(traced, expected);
}

TEST(LinkMonitor, NoModelMeansNoPortAndNothingSent) {
  LinkFixture f(kModel2);
  for (int i = 0; i < 3; ++i) f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 0);
  EXPECT_EQ(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
  EXPECT_EQ(f.line.ReceivedCount(), 0u);
  EXPECT_TRUE(f.w->invalidations.empty());
}

TEST(LinkMonitor, NoAdapterStaysAtZeroWithoutRepainting) {
  LinkFixture f(kModel2, "10c4", "ea61");  // other identifiers: not our adapter
  f.SelectModel(kModel2);
  for (int i = 0; i < 3; ++i) f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 0);
  EXPECT_EQ(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
  EXPECT_TRUE(f.w->invalidations.empty());
}

// Answers that do not count as the device being there keep state 1 and
// repaint the lamps on every tick.
TEST(LinkMonitor, AcceptedAnswersWithinTheWait) {
  const struct {
    const char* what;
    int32_t model;
    Answer answer;
  } cases[] = {
      {"model 2 with 0xBD and any second byte", kModel2, Answer::Of({0xBD, 0xFF})},
      {"model 2 a little late", kModel2, Answer::Of({0xD6, 0x42}, 40)},
      {"model 1 a little late", kModel1, Answer::Of({0x26}, 30)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LinkFixture f(c.model);
    f.device.SetProbeAnswer(c.answer);
    f.SelectModel(c.model);
    f.TickAndPaint();
    f.TickAndPaint();
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  }
}

TEST(LinkMonitor, DeviceGoingSilentDropsToOneAndEmptiesTheVersion) {
  LinkFixture f(kModel2);
  f.SelectModel(kModel2);
  f.TickAndPaint();
  f.TickAndPaint();
  ASSERT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  f.device.SetSilent(true);
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 1);
  EXPECT_EQ(f.w->TextOf(IDC_VERSION_TEXT), u"");
  EXPECT_EQ(f.w->TextOf(IDC_HINT_TEXT), test::english::kHintNoDevice);
  f.device.SetSilent(false);
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  EXPECT_EQ(f.device.VersionQueryCount(), 2u);  // read again after the silence
}

TEST(LinkMonitor, UnplugDropsToZeroClosesThePortAndReplugRecovers) {
  for (const uint8_t from : {1, 2}) {
    SCOPED_TRACE(int(from));
    LinkFixture f(kModel1);
    if (from == 1) f.device.SetSilent(true);
    f.SelectModel(kModel1);
    f.TickAndPaint();
    f.TickAndPaint();
    ASSERT_EQ(test::Peer(*f.dlg).m_linkState, from);
    f.line.HangUp();
    const auto start = std::chrono::steady_clock::now();
    f.TickAndPaint();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 0);
    EXPECT_EQ(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
    EXPECT_EQ(f.w->TextOf(IDC_HINT_TEXT), test::english::kHintNoAdapter);
    EXPECT_EQ(f.w->TextOf(IDC_VERSION_TEXT), u"");
    f.TickAndPaint();  // the adapter is gone: discovery finds nothing to open
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 0);

    f.line.Replug();
    f.device.SetSilent(false);
    f.TickAndPaint();
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 1);
    f.TickAndPaint();
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  }
}

TEST(LinkMonitor, FailedVersionReadChangesNothing) {
  const struct {
    const char* what;
    Answer answer;
  } cases[] = {
      {"no reply", Answer::Silent()},
      {"six bytes", Answer::Of({1, 2, 3, 4, 5, 6})},
      {"too late", Answer::Of({1, 2, 3, 4, 5, 6, 7}, 1300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LinkFixture f(kModel1);
    f.device.SetVersionAnswer(c.answer);
    f.SelectModel(kModel1);
    f.TickAndPaint();
    const size_t before = f.Invalidations();
    f.TickAndPaint();
    EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 1);
    EXPECT_EQ(f.Invalidations(), before);  // nothing repainted
    EXPECT_NE(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
    f.TickAndPaint();  // asked again at the next tick
    EXPECT_EQ(f.device.VersionQueryCount(), 2u);
  }
}

TEST(LinkMonitor, StableLinkSendsOnlyTheProbe) {
  LinkFixture f(kModel2);
  f.SelectModel(kModel2);
  f.TickAndPaint();
  f.TickAndPaint();
  ASSERT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  const size_t invalidations = f.Invalidations();
  f.line.ClearReceived();
  for (int i = 0; i < 3; ++i) f.TickAndPaint();
  EXPECT_EQ(f.line.Received(), std::vector<uint8_t>(3, protocol::kProbeModel2));
  EXPECT_EQ(f.device.VersionQueryCount(), 1u);
  EXPECT_EQ(f.Invalidations(), invalidations);
}

TEST(LinkMonitor, TextsAreWrittenOncePerChangeOfState) {
  LinkFixture f(kModel2);
  f.SelectModel(kModel2);
  f.TickAndPaint();
  f.TickAndPaint();
  const auto writesOf = [&](int id) {
    size_t n = 0;
    for (const auto& [control, text] : f.w->textLog) n += control == id;
    return n;
  };
  const size_t version = writesOf(IDC_VERSION_TEXT), hint = writesOf(IDC_HINT_TEXT);
  for (int i = 0; i < 5; ++i) f.w->Paint(true);
  f.TickAndPaint();
  EXPECT_EQ(writesOf(IDC_VERSION_TEXT), version);
  EXPECT_EQ(writesOf(IDC_HINT_TEXT), hint);
}

TEST(LinkMonitor, ModelSwitchClosesThePortWithoutRepainting) {
  LinkFixture f(kModel2);
  f.SelectModel(kModel2);
  f.TickAndPaint();
  f.TickAndPaint();
  ASSERT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  const size_t invalidations = f.Invalidations();
  const size_t timerEvents = f.w->timerLog.size();
  f.SelectModel(kModel1);
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 0);
  EXPECT_EQ(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
  EXPECT_EQ(test::Peer(*f.dlg).m_model, kModel1);
  EXPECT_EQ(test::Peer(*f.dlg).m_baudRate, 1200);
  EXPECT_EQ(f.Invalidations(), invalidations);
  // The lamps and texts keep showing the old state until the next tick.
  EXPECT_EQ(f.w->TextOf(IDC_HINT_TEXT), test::english::kHintReady);
  ASSERT_EQ(f.w->timerLog.size(), timerEvents + 2);
  EXPECT_FALSE(f.w->timerLog[timerEvents].set);
  EXPECT_TRUE(f.w->timerLog[timerEvents + 1].set);
  EXPECT_EQ(f.w->timerLog[timerEvents + 1].periodMs, 500u);
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 1);
  EXPECT_EQ(f.w->TextOf(IDC_HINT_TEXT), test::english::kHintNoDevice);
}

TEST(LinkMonitor, ClickingTheSelectedModelAgainReopensThePort) {
  LinkFixture f(kModel2);
  f.SelectModel(kModel2);
  f.TickAndPaint();
  ASSERT_EQ(test::Peer(*f.dlg).m_linkState, 1);
  f.SelectModel(kModel2);
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 0);
  EXPECT_EQ(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 1);
}

// After an update the version is read again and the new one is shown.
TEST(LinkMonitor, RefreshAfterUpdateShowsTheNewVersion) {
  LinkFixture f(kModel2);
  f.device.SetVersion({0, 0, 0xC1, 0x05, 0, 0x0C, 0});
  f.SelectModel(kModel2);
  f.TickAndPaint();
  f.TickAndPaint();
  ASSERT_EQ(f.w->TextOf(IDC_VERSION_TEXT), u"P1.05.12");
  f.device.SetVersion({0, 0, 0xC2, 0x00, 0, 0x07, 0});
  test::Peer(*f.dlg).m_refreshVersion = 1;
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  EXPECT_EQ(test::Peer(*f.dlg).m_refreshVersion, 0);
  EXPECT_EQ(f.w->TextOf(IDC_VERSION_TEXT), u"P2.00.07");
  EXPECT_EQ(f.device.VersionQueryCount(), 2u);
}

TEST(LinkMonitor, FailedRefreshIsTriedAgain) {
  LinkFixture f(kModel1);
  f.SelectModel(kModel1);
  f.TickAndPaint();
  f.TickAndPaint();
  f.device.SetVersionAnswer(Answer::Silent());
  test::Peer(*f.dlg).m_refreshVersion = 1;
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_linkState, 2);
  EXPECT_EQ(test::Peer(*f.dlg).m_refreshVersion, 1);
  f.device.SetVersion({0, 0, 0x02, 0x00, 0, 0x01, 0});
  f.TickAndPaint();
  EXPECT_EQ(test::Peer(*f.dlg).m_refreshVersion, 0);
  EXPECT_EQ(f.w->TextOf(IDC_VERSION_TEXT), u"02.00.01");
}

TEST(LinkMonitor, ClosingTheDialogClosesThePort) {
  LinkFixture f(kModel2);
  f.SelectModel(kModel2);
  f.TickAndPaint();
  ASSERT_NE(test::Peer(*f.dlg).m_link.hPort, kInvalidPort);
  f.h->dlg.reset();
  // The port is free again: another program can take it.
  SerialLink other;
  other.deviceDir = f.line.DeviceDir();
  EXPECT_TRUE(other.OpenPort(f.line.PortName(), 19200));
}

}  // namespace
}  // namespace quorvel
