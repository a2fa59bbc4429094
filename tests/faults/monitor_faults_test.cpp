// The link monitor under faults: the adapter pulled at each step of a tick
// (discovery, probe, version read) and a device that answers wrongly, too
// little, too late, or drowns in noise. Every row checks how long the tick
// blocked, where the link state and the lamps end, whether the port is
// closed, that only monitor commands went out, and that the program comes
// back to a working link and a successful update once the fault is gone.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/EnglishTexts.h"
#include "faults/fault_bench.h"

namespace quorvel {
namespace {

using namespace test;
using protocol::kModel1;
using protocol::kModel2;
using Answer = sim::SimulatedDevice::Answer;

const Text kHints[] = {test::english::kHintNoAdapter,
                       test::english::kHintNoDevice,
                       test::english::kHintReady};

// Allowance on top of the protocol's own waits for a loaded machine.
constexpr long long kSlackMs = 3000;
// The longest tick the protocol allows: echo and answer of the probe, then
// echo and reply of the version query.
constexpr uint32_t kProbeMs = 500 + 150;
constexpr uint32_t kVersionMs = 500 + 1000;

// Either 1 or 2: which one depends on whether noise or the device's answer
// comes first.
constexpr uint8_t kOneOrTwo = 0xFF;

struct MonitorCell {
  const char* name;
  int32_t model;
  uint8_t from;  // link state before the faulty tick: 0 (model just chosen), 1 or 2
  std::function<void(FaultBench&)> arm;  // breaks something just before that tick
  uint8_t to;                            // link state after it
  bool portOpen;                         // after it
  bool pulled;     // the adapter is gone: the next tick must drop to state 0
  uint32_t minMs;  // waits the tick must sit out
  uint32_t maxMs;  // the longest the protocol lets it block
};

void PrintTo(const MonitorCell& c, std::ostream* os) { *os << c.name; }

// The bytes `delayMs` after the command, then the line goes. (A hang-up
// throws away what the program has not read yet, so the delay leaves it time
// to take the command's echo first.)
Answer ThenHangUp(std::vector<uint8_t> bytes, uint32_t delayMs) {
  return Answer{std::move(bytes), delayMs, true};
}

void PutAtPortPath(FaultBench& b, bool symlinkToNowhere) {
  b.line->HangUp();
  const std::string path = b.line->DevicePath();
  if (symlinkToNowhere) {
    std::filesystem::create_symlink("/nonexistent-quorvel-pts/77", path);
  } else {
    std::ofstream(path) << "not a terminal";
  }
}

// Waits until bytes sent towards the program are waiting at its port.
void SendGarbageAndWait(FaultBench& b, size_t count) {
  b.line->SendGarbage(count, 7);
  ASSERT_TRUE(sim::SimulatedLine::WaitForInput(test::Peer(*b.dlg).m_link.hPort, count));
}

const MonitorCell kCells[] = {
    // --- adapter pulled
    {"DiscoveryPortListedButGone", kModel2, 0, [](FaultBench& b) { b.line->HangUp(); }, 0, false,
     true, 0, 0},
    {"DiscoveryNodeLeftPointingNowhere", kModel1, 0, [](FaultBench& b) { PutAtPortPath(b, true); },
     0, false, true, 0, 0},
    {"DiscoveryNodeNotATerminal", kModel2, 0, [](FaultBench& b) { PutAtPortPath(b, false); }, 0,
     false, true, 0, 0},
    {"ProbePulledBeforeEchoInStateOne", kModel1, 1,
     [](FaultBench& b) { b.line->HangUpAfterBytes(1); }, 0, false, true, 0, kProbeMs},
    {"ProbePulledBeforeEchoInStateTwo", kModel2, 2,
     [](FaultBench& b) { b.line->HangUpAfterBytes(1); }, 0, false, true, 0, kProbeMs},
    {"ProbePulledAfterEcho", kModel2, 2,
     [](FaultBench& b) { b.device->SetProbeAnswer(Answer::HangUp(60)); }, 1, true, true, 0,
     kProbeMs},
    {"ProbeAnswerCutByPull", kModel2, 2,
     [](FaultBench& b) { b.device->SetProbeAnswer(ThenHangUp({0xD6}, 40)); }, 1, true, true, 0,
     kProbeMs},
    {"VersionPulledBeforeEcho", kModel1, 1, [](FaultBench& b) { b.line->HangUpAfterBytes(2); }, 1,
     true, true, 0, kProbeMs + kVersionMs},
    {"VersionReplyCutByPull", kModel2, 1,
     [](FaultBench& b) {
       b.device->SetVersionAnswer(ThenHangUp({1, 2, 3}, 300));
     },
     1, true, true, 0, kProbeMs + kVersionMs},
    {"VersionRefreshPulled", kModel2, 2,
     [](FaultBench& b) {
       test::Peer(*b.dlg).m_refreshVersion = 1;
       b.line->HangUpAfterBytes(2);
     },
     2, true, true, 0, kProbeMs + kVersionMs},
    {"PulledAndReplugged", kModel1, 2,
     [](FaultBench& b) {
       b.line->HangUp();
       b.line->Replug();
     },
     0, false, false, 0, kProbeMs},
    // --- the device answers wrongly, too little or too late
    {"ProbeAnswerWrongModel1", kModel1, 2,
     [](FaultBench& b) { b.device->SetProbeAnswer(Answer::Of({0x27})); }, 1, true, false, 0,
     kProbeMs},
    {"ProbeAnswerGarbageModel2", kModel2, 2,
     [](FaultBench& b) {
       b.device->SetProbeAnswer(Answer::Of({0x3C, 0xD6, 0xBD, 0x26}));
     },
     1, true, false, 0, kProbeMs},
    {"ProbeAnswerTooFew", kModel2, 2,
     [](FaultBench& b) { b.device->SetProbeAnswer(Answer::Of({0xD6})); }, 1, true, false, 150,
     kProbeMs},
    {"ProbeAnswerTooLateModel1", kModel1, 2,
     [](FaultBench& b) { b.device->SetProbeAnswer(Answer::Of({0x26}, 400)); }, 1, true, false, 100,
     kProbeMs},
    {"ProbeAnswerTooLateModel2", kModel2, 2,
     [](FaultBench& b) {
       b.device->SetProbeAnswer(Answer::Of({0xD6, 0x00}, 400));
     },
     1, true, false, 150, kProbeMs},
    {"VersionReplyTooFew", kModel1, 1,
     [](FaultBench& b) {
       b.device->SetVersionAnswer(Answer::Of({1, 2, 3, 4, 5, 6}));
     },
     1, true, false, 1000, kProbeMs + kVersionMs},
    {"VersionReplyTooLate", kModel2, 1,
     [](FaultBench& b) {
       b.device->SetVersionAnswer(Answer::Of({1, 2, 3, 4, 5, 6, 7}, 1400));
     },
     1, true, false, 1000, kProbeMs + kVersionMs},
    {"VersionReplyGarbageIsShown", kModel1, 1,
     [](FaultBench& b) {
       b.device->SetVersionAnswer(Answer::Of({0xFF, 0, 0xFF, 0xFF, 0, 0xFF, 0}));
     },
     2, true, false, 0, kProbeMs + kVersionMs},
    {"NoiseWithoutDevice", kModel2, 1,
     [](FaultBench& b) {
       b.device->SetSilent(true);
       b.line->SetFlood(true, 0x55);
     },
     1, true, false, 0, kProbeMs},
    {"NoiseOverAnsweringDevice", kModel1, 2, [](FaultBench& b) { b.line->SetFlood(true, 0x55); },
     kOneOrTwo, true, false, 0, kProbeMs + kVersionMs},
    {"LeftoverGarbageIsPurged", kModel2, 2, [](FaultBench& b) { SendGarbageAndWait(b, 64); }, 2,
     true, false, 0, kProbeMs},
    // --- the adapter misbehaves
    {"EchoMissing", kModel2, 2,
     [](FaultBench& b) {
       b.line->SetEcho(false);
       b.device->SetSilent(true);
     },
     0, false, false, 500, kProbeMs},
    {"EchoGarbled", kModel1, 2, [](FaultBench& b) { b.line->SetEchoMask(0xFF); }, 2, true, false, 0,
     kProbeMs},
};

class MonitorFault : public testing::TestWithParam<MonitorCell> {};

void ExpectShows(FaultBench& b, uint8_t state) {
  EXPECT_EQ(b.Lamps(), FaultBench::LampsFor(state));
  EXPECT_EQ(ToUtf8(b.w->TextOf(IDC_HINT_TEXT)), ToUtf8(kHints[state]));
  if (state != 2) {
    EXPECT_EQ(b.w->TextOf(IDC_VERSION_TEXT), u"");
  }
}

// Only the model's probe and the version query may go out while monitoring.
testing::AssertionResult OnlyMonitorCommands(const Bytes& sent, int32_t model) {
  const uint8_t probe = model == kModel1 ? protocol::kProbeModel1 : protocol::kProbeModel2;
  for (size_t i = 0; i < sent.size(); ++i) {
    if (sent[i] != probe && sent[i] != protocol::kVersionQuery) {
      return testing::AssertionFailure() << "byte " << i << " is " << int(sent[i]);
    }
  }
  return testing::AssertionSuccess();
}

TEST_P(MonitorFault, StaysBoundedEndsRightAndRecovers) {
  const MonitorCell& c = GetParam();
  FaultBench b;
  b.PlugNewAdapter(c.model);
  const int descriptors = OpenDescriptors();
  b.SelectModel(c.model);
  for (uint8_t s = 0; s < c.from; ++s) b.Tick();
  ASSERT_EQ(test::Peer(*b.dlg).m_linkState, c.from);

  c.arm(b);
  if (HasFatalFailure()) return;
  b.line->ClearReceived();
  const long long ms = b.Tick();
  const uint8_t state = test::Peer(*b.dlg).m_linkState;
  EXPECT_GE(ms, c.minMs);
  EXPECT_LT(ms, c.maxMs + kSlackMs);
  if (c.to == kOneOrTwo) {
    EXPECT_TRUE(state == 1 || state == 2) << int(state);
  } else {
    EXPECT_EQ(state, c.to);
  }
  EXPECT_EQ(test::Peer(*b.dlg).m_link.hPort != kInvalidPort, c.portOpen);
  ExpectShows(b, state);
  EXPECT_TRUE(OnlyMonitorCommands(b.line->Received(), c.model));
  EXPECT_TRUE(b.w->messageBoxes.empty());
  ASSERT_EQ(b.w->timers.count(1), 1u);
  EXPECT_EQ(b.w->timers[1], 500u);

  if (c.pulled) {
    // The next tick finds the line gone: port closed, state 0, red lamps.
    const long long next = b.Tick();
    EXPECT_LT(next, kProbeMs + kSlackMs);
    EXPECT_EQ(test::Peer(*b.dlg).m_linkState, 0);
    EXPECT_EQ(test::Peer(*b.dlg).m_link.hPort, kInvalidPort);
    ExpectShows(b, 0);
    // Nothing to find while the adapter is out.
    const size_t invalidations = b.w->invalidations.size();
    b.Tick();
    EXPECT_EQ(test::Peer(*b.dlg).m_linkState, 0);
    EXPECT_EQ(b.w->invalidations.size(), invalidations);
    EXPECT_TRUE(OnlyMonitorCommands(b.line->Received(), c.model));
  }

  // The fault goes away: the adapter comes back (or is repaired) with a
  // device that answers as it should.
  if (!b.line->Plugged()) b.line->Replug();
  b.line->SetFlood(false);
  b.line->SetEcho(true);
  b.line->SetEchoMask(0);
  b.NewDevice(c.model);
  // Late answers still on their way may cost a tick or two.
  ASSERT_TRUE(b.TickUntil(2, 6)) << "link state " << int(test::Peer(*b.dlg).m_linkState);
  ExpectShows(b, 2);

  const std::vector<Bytes> records = {MakeRecord(10, 0xA1), MakeRecord(20, 0xA2)};
  b.ExpectUpdateSucceeds(c.model, records);
  // Nothing left open but the port and the adapter's own.
  EXPECT_EQ(OpenDescriptors(), descriptors + 1);
}

INSTANTIATE_TEST_SUITE_P(Cells, MonitorFault, testing::ValuesIn(kCells),
                         [](const testing::TestParamInfo<MonitorCell>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace quorvel
