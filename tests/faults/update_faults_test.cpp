// Update jobs under faults: the adapter pulled at every step of a job of
// either model (each handshake phase, in the middle of a record, between a
// record's echo and its verdict, during the pause after the last record,
// while the file dialog is open) and a device or line that answers wrongly,
// too late or with noise. Every row checks how long the job ran, the message,
// the port, the timer, the lamps, that nothing but the file's records went
// out, and that the program recovers and updates successfully afterwards.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "support/EnglishTexts.h"
#include "faults/fault_bench.h"

namespace quorvel {
namespace {

using namespace test;
using protocol::kModel1;
using protocol::kModel2;
using Answer = sim::SimulatedDevice::Answer;

constexpr long long kSlackMs = 3000;
// Waits the protocol allows, in milliseconds.
constexpr uint32_t kCommandMs = 500 + 1000;  // one handshake attempt: echo and reply
constexpr uint32_t kRecordMs = 2000 + 6 * 2000;  // a record's echo and six verdict reads

const Text kPurgeFailed = u"串口缓存清空失败!";
const Text kNoAdapter = u"USB Connection Error!";

// Records of different sizes and contents, so that every byte sent can be
// told apart: 12, 22, 7 and 32 bytes.
const std::vector<Bytes> kRecords = {MakeRecord(10, 0xA1), MakeRecord(20, 0xA2),
                                     MakeRecord(5, 0xA3), MakeRecord(30, 0xA4)};

enum class End {
  Completed,     // success text, port open, monitor restarted after the pause
  FailureExit,   // message without icon, port closed, monitor restarted
  Refused,       // message with the stop icon, nothing sent, monitor running
};

struct UpdateCell {
  const char* name;
  int32_t model;
  std::function<void(FaultBench&)> arm;  // breaks something before Update is pressed
  End end;
  Text message;    // the box's text (none on completion)
  uint32_t minMs;  // waits the job must sit out
  uint32_t maxMs;  // the longest the protocol lets it run
  bool pulled;     // the adapter is gone when the job ends
  uint8_t stateAfter = 2;  // the link state the job leaves (it never sets one)
};

void PrintTo(const UpdateCell& c, std::ostream* os) { *os << c.name; }

// Pulls the adapter after `count` more bytes from the program.
std::function<void(FaultBench&)> PullAfter(size_t count) {
  return [count](FaultBench& b) { b.line->HangUpAfterBytes(count); };
}

// Runs `action` at the first message pump, after the first record.
void AtFirstPump(FaultBench& b, std::function<void(FaultBench&)> action) {
  auto done = std::make_shared<bool>(false);
  b.h->ws.onPump = [&b, done, action] {
    if (*done) return;
    *done = true;
    action(b);
  };
}

const UpdateCell kCells[] = {
    // --- adapter pulled in the handshake
    {"Model2HandshakePulledBeforeEcho", kModel2, PullAfter(1), End::FailureExit, test::english::kTimeoutD7, 0,
     kCommandMs, true},
    {"Model2HandshakePulledAfterEcho", kModel2,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(1, Answer::HangUp(300)); }, End::FailureExit,
     test::english::kTimeoutD7, 0, 2 * kCommandMs, true},
    {"Model1Phase1Pulled", kModel1, PullAfter(1), End::FailureExit, test::english::kTimeoutD6, 0, kCommandMs,
     true},
    {"Model1Phase2Pulled", kModel1, PullAfter(5), End::FailureExit, test::english::kTimeoutD7, 0, 5 * kCommandMs,
     true},
    {"Model1Phase3Pulled", kModel1, PullAfter(6), End::FailureExit, test::english::kTimeoutD6, 0, 6 * kCommandMs,
     true},
    {"Model1Phase4Pulled", kModel1, PullAfter(10), End::FailureExit, test::english::kTimeoutD7, 0, 10 * kCommandMs,
     true},
    // The line goes while the device is still to reply: the reply wait
    // ends at once, and the next command cannot be sent.
    {"Model1Phase1PulledAwaitingReply", kModel1,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(1, Answer::HangUp(300)); }, End::FailureExit,
     test::english::kTimeoutD6, 0, 2 * kCommandMs, true},
    {"Model1Phase2PulledAwaitingReply", kModel1,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(2, Answer::HangUp(300)); }, End::FailureExit,
     test::english::kTimeoutD7, 0, 6 * kCommandMs, true},
    {"Model1Phase3PulledAwaitingReply", kModel1,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(3, Answer::HangUp(300)); }, End::FailureExit,
     test::english::kTimeoutD6, 0, 7 * kCommandMs, true},
    {"Model1Phase4PulledAwaitingReply", kModel1,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(4, Answer::HangUp(300)); }, End::FailureExit,
     test::english::kTimeoutD7, 0, 11 * kCommandMs, true},
    // --- adapter pulled during the transfer and after it
    {"Model2PulledMidRecord", kModel2, PullAfter(1 + 12 + 10), End::FailureExit, test::english::kTransferError, 0,
     kCommandMs + 2 * kRecordMs, true},
    {"Model1PulledMidRecord", kModel1, PullAfter(10 + 12 + 22 + 3), End::FailureExit,
     test::english::kTransferError, 0, 10 * kCommandMs + 3 * kRecordMs, true},
    {"Model2PulledBetweenEchoAndVerdict", kModel2,
     [](FaultBench& b) {
       b.device->SetVerdicts({Answer::Accept(), Answer::HangUp(300)});
     },
     End::FailureExit, test::english::kNoVerdict, 0, kCommandMs + 2 * kRecordMs, true},
    {"Model1PulledBetweenEchoAndVerdict", kModel1,
     [](FaultBench& b) {
       b.device->SetVerdicts({Answer::Accept(), Answer::Accept(), Answer::HangUp(300)});
     },
     End::FailureExit, test::english::kNoVerdict, 0, 10 * kCommandMs + 3 * kRecordMs, true},
    {"Model2PulledDuringFinalPause", kModel2,
     [](FaultBench& b) {
       test::Peer(*b.dlg).m_env.pauseMs = [&b](uint32_t ms) {
         b.h->env.pauses.push_back(ms);
         b.line->HangUp();
       };
     },
     End::Completed, u"", 0, kCommandMs + 4 * kRecordMs, true},
    {"Model1PulledDuringFinalPause", kModel1,
     [](FaultBench& b) {
       test::Peer(*b.dlg).m_env.pauseMs = [&b](uint32_t ms) {
         b.h->env.pauses.push_back(ms);
         b.line->HangUp();
       };
     },
     End::Completed, u"", 0, 10 * kCommandMs + 4 * kRecordMs, true},
    // The monitor ticks while the file dialog is open and finds the adapter
    // gone; the job then ends as at a click without the adapter.
    {"PulledWhileFileDialogOpen", kModel2,
     [](FaultBench& b) {
       b.h->ws.onChooseFile = [&b] {
         b.line->HangUp();
         b.w->Tick();
         b.line->ClearReceived();
       };
     },
     End::Refused, kNoAdapter, 0, kCommandMs, true, 0},
    // No tick comes before the job goes on: the port is still open, on a
    // line that is gone, and cannot be purged either. The monitor restarts
    // and its next tick closes the port.
    {"PulledJustBeforeTheJobTouchesThePort", kModel1,
     [](FaultBench& b) { b.h->ws.onChooseFile = [&b] { b.line->HangUp(); }; }, End::Refused,
     kPurgeFailed, 0, kCommandMs, true},
    // --- the device answers wrongly, too late, or the line is noisy
    // A reply other than the one named is another device's: nothing more
    // is sent to it.
    {"Model2HandshakeReplyGarbageFails", kModel2,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(1, Answer::Of({0x3C})); }, End::FailureExit,
     test::english::kTimeoutD7, 0, kCommandMs, false},
    {"Model2HandshakeReplyTooLate", kModel2,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(1, Answer::Of({0xD7}, 4600)); },
     End::FailureExit, test::english::kTimeoutD7, 4 * 1000, 4 * kCommandMs, false},
    {"Model1Phase2ReplyGarbageFails", kModel1,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(2, Answer::Of({0x00})); }, End::FailureExit,
     test::english::kTimeoutD7, 0, 5 * kCommandMs, false},
    {"Model1Phase4ReplyTooLate", kModel1,
     [](FaultBench& b) { b.device->SetHandshakeAnswer(4, Answer::Of({0xD7}, 4600)); },
     End::FailureExit, test::english::kTimeoutD7, 4 * 1000, 13 * kCommandMs, false},
    {"VerdictGarbageFourTimes", kModel2,
     [](FaultBench& b) {
       b.device->SetVerdicts({Answer::Accept(), Answer::Reject(0x3C), Answer::Reject(0xFF),
                              Answer::Reject(0x00), Answer::Reject(0xD7)});
     },
     End::FailureExit, test::english::kTooManyResends, 0, kCommandMs + 5 * kRecordMs, false},
    {"VerdictGarbageThreeTimesThenAccepted", kModel1,
     [](FaultBench& b) {
       b.device->SetVerdicts({Answer::Reject(0x13), Answer::Reject(0x11 ^ 0xFF),
                              Answer::Reject(0x26), Answer::Accept()});
     },
     End::Completed, u"", 0, 10 * kCommandMs + 7 * kRecordMs, false},
    {"VerdictTooLate", kModel2,
     [](FaultBench& b) {
       b.device->SetVerdicts({Answer::Accept(), Answer::Accept(12500)});
     },
     End::FailureExit, test::english::kNoVerdict, 6 * 2000, kCommandMs + 2 * kRecordMs, false},
    {"RecordEchoTooLate", kModel2,
     [](FaultBench& b) { AtFirstPump(b, [](FaultBench& b) { b.line->SetEchoDelayMs(2300); }); },
     End::FailureExit, test::english::kTransferError, 2000, kCommandMs + 2 * kRecordMs, false},
    {"EchoGarbled", kModel2, [](FaultBench& b) { b.line->SetEchoMask(0xFF); }, End::Completed, u"",
     0, kCommandMs + 4 * kRecordMs, false},
    // A burst of noise between two records, enough to fill every later
    // echo and verdict were it read: it is dropped before the next record.
    {"NoiseBurstBetweenRecords", kModel2,
     [](FaultBench& b) {
       AtFirstPump(b, [](FaultBench& b) {
         b.line->SendGarbage(1024, 7);
         ASSERT_TRUE(
             sim::SimulatedLine::WaitForInput(test::Peer(*b.dlg).m_link.hPort, 1024, 10000));
       });
     },
     End::Completed, u"", 0, kCommandMs + 4 * kRecordMs, false},
    // A stray byte after a verdict (line noise, a chatty device), there
    // before the next record goes out, is not read as that record's echo:
    // the device's refusal of the record is reported as the device gave it.
    {"StrayByteAfterVerdict", kModel2,
     [](FaultBench& b) {
       b.device->SetVerdicts({Answer::Of({0x11, 0x3C}), Answer::CrcError()});
       AtFirstPump(b, [](FaultBench& b) {
         ASSERT_TRUE(sim::SimulatedLine::WaitForInput(test::Peer(*b.dlg).m_link.hPort, 1));
       });
     },
     End::FailureExit, test::english::kCrcError, 0, kCommandMs + 2 * kRecordMs, false},
    {"LeftoverGarbageBeforeTheJob", kModel1,
     [](FaultBench& b) {
       b.line->SendGarbage(100, 3);
       ASSERT_TRUE(sim::SimulatedLine::WaitForInput(test::Peer(*b.dlg).m_link.hPort, 100));
     },
     End::Completed, u"", 0, 10 * kCommandMs + 4 * kRecordMs, false},
};

// Whether another holder could take the file now.
bool FileIsFree(const Text& path) {
  const int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

class UpdateFault : public testing::TestWithParam<UpdateCell> {};

TEST_P(UpdateFault, StaysBoundedEndsRightAndRecovers) {
  const UpdateCell& c = GetParam();
  FaultBench b;
  b.PlugNewAdapter(c.model);
  const int descriptors = OpenDescriptors();
  b.SelectModel(c.model);
  ASSERT_TRUE(b.TickUntil(2, 2));

  const Text path = b.QueueImage(c.model, kRecords);
  c.arm(b);
  if (HasFatalFailure()) return;
  b.line->ClearReceived();
  b.ClearWindowLogs();
  const long long ms = b.RunUpdate();
  if (HasFatalFailure()) return;
  b.h->ws.onPump = nullptr;
  b.h->ws.onChooseFile = nullptr;

  EXPECT_GE(ms, c.minMs);
  EXPECT_LT(ms, c.maxMs + kSlackMs);
  EXPECT_TRUE(SentOnlyTheFile(b.line->Received(), c.model, kRecords));
  // Whatever the device took in full is a record of the file.
  for (const Bytes& r : b.device->ReceivedRecords()) {
    EXPECT_NE(std::find(kRecords.begin(), kRecords.end(), r), kRecords.end());
  }
  EXPECT_TRUE(b.w->IsEnabled(IDC_UPDATE));
  EXPECT_FALSE(test::Peer(*b.dlg).m_jobRunning);
  EXPECT_TRUE(FileIsFree(path));
  // The job leaves the link state alone; the lamps show it until a tick.
  EXPECT_EQ(test::Peer(*b.dlg).m_linkState, c.stateAfter);
  EXPECT_EQ(b.Lamps(), FaultBench::LampsFor(c.stateAfter));

  switch (c.end) {
    case End::Completed:
      EXPECT_TRUE(b.w->messageBoxes.empty()) << ToUtf8(b.w->messageBoxes.front().text);
      EXPECT_EQ(b.w->TextOf(IDC_STATUS_EDIT), test::english::kSuccessful);
      EXPECT_EQ(b.h->env.pauses, std::vector<uint32_t>{1000});
      EXPECT_EQ(test::Peer(*b.dlg).m_refreshVersion, 1);
      EXPECT_NE(test::Peer(*b.dlg).m_link.hPort, kInvalidPort);
      EXPECT_EQ(b.w->timers.count(1), 1u);
      EXPECT_EQ(b.device->AcceptedImage(), JoinRecords(kRecords));
      break;
    case End::FailureExit:
      ASSERT_EQ(b.w->messageBoxes.size(), 1u);
      EXPECT_EQ(ToUtf8(b.w->messageBoxes[0].text), ToUtf8(c.message));
      EXPECT_EQ(b.w->messageBoxes[0].icon, MbIcon::None);
      EXPECT_EQ(test::Peer(*b.dlg).m_link.hPort, kInvalidPort);
      EXPECT_EQ(b.w->timers.count(1), 1u);
      EXPECT_EQ(test::Peer(*b.dlg).m_refreshVersion, 0);
      EXPECT_TRUE(b.h->env.pauses.empty());
      break;
    case End::Refused:
      ASSERT_EQ(b.w->messageBoxes.size(), 1u);
      EXPECT_EQ(ToUtf8(b.w->messageBoxes[0].text), ToUtf8(c.message));
      EXPECT_EQ(b.w->messageBoxes[0].icon, MbIcon::Stop);
      // Open unless the monitor closed it while the file dialog was open.
      EXPECT_EQ(test::Peer(*b.dlg).m_link.hPort != kInvalidPort, c.stateAfter != 0);
      EXPECT_EQ(b.w->timers.count(1), 1u);  // the monitor restarts
      EXPECT_TRUE(b.line->Received().empty());
      break;
  }
  if (b.w->timers.count(1) != 0) {
    EXPECT_EQ(b.w->timers[1], 500u);
  }

  if (c.end == End::FailureExit || c.pulled) {
    // The port is closed or its line gone: the next tick drops to state 0.
    const long long next = b.Tick();
    EXPECT_LT(next, 500 + 150 + kSlackMs);
    EXPECT_EQ(test::Peer(*b.dlg).m_linkState, 0);
    EXPECT_EQ(test::Peer(*b.dlg).m_link.hPort, kInvalidPort);
    EXPECT_EQ(b.Lamps(), FaultBench::LampsFor(0));
  }

  // The fault goes away; a fresh device behind the adapter.
  if (!b.line->Plugged()) b.line->Replug();
  b.line->SetFlood(false);
  b.line->SetEchoDelayMs(0);
  b.line->SetEchoMask(0);
  b.NewDevice(c.model);
  ASSERT_TRUE(b.TickUntil(2, 6)) << "link state " << int(test::Peer(*b.dlg).m_linkState);
  EXPECT_EQ(b.Lamps(), FaultBench::LampsFor(2));

  test::Peer(*b.dlg).m_env.pauseMs = [&b](uint32_t ms) { b.h->env.pauses.push_back(ms); };
  b.ClearWindowLogs();
  b.ExpectUpdateSucceeds(c.model, kRecords);
  EXPECT_NE(test::Peer(*b.dlg).m_link.hPort, kInvalidPort);
  // Nothing left open but the port and the adapter's own.
  EXPECT_EQ(OpenDescriptors(), descriptors + 1);
}

INSTANTIATE_TEST_SUITE_P(Cells, UpdateFault, testing::ValuesIn(kCells),
                         [](const testing::TestParamInfo<UpdateCell>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace quorvel
