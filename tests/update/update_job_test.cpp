// The update jobs in the window against a simulated adapter and device:
// what the window shows and locks while a job runs, the file it holds, and
// the state every end leaves behind. The transfer itself (handshakes,
// resends, failures) is tested on its own in tests/parts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "support/EnglishTexts.h"
#include "support/DialogHarness.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "support/UpdateRecords.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

namespace quorvel {
namespace {

using test::HeadlessWindow;
using test::HeadlessWindowSystem;
using sim::SimulatedDevice;
using sim::SimulatedLine;
using Answer = sim::SimulatedDevice::Answer;
using test::Bytes;
using test::HexText;
using test::JoinRecords;
using test::MakeRecord;


// Another holder of a file, through a lock of its own.
bool CanLockElsewhere(const Text& path) {
  // Without blocking: the file may have been replaced by a FIFO.
  const int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

class UpdateJobTest : public testing::Test {
 protected:
  UpdateJobTest() {
    // Everything the job shows at the moment of each pump.
    ws.onPump = [this] {
      PumpView v;
      v.status = w.TextOf(IDC_STATUS_EDIT);
      v.controlsEnabled = w.IsEnabled(IDC_UPDATE) || w.IsEnabled(IDC_MODEL1_RADIO) ||
                          w.IsEnabled(IDC_MODEL2_RADIO);
      v.jobRunning = test::Peer(*dlg).m_jobRunning;
      v.systemMenuEnabled = w.systemMenuEnabled;
      v.sessionEndHeld = !w.sessionEndHeldFor.empty();
      v.fileHeld = !heldPath.empty() && !CanLockElsewhere(heldPath);
      pumps.push_back(v);
    };
    // And at every moment the job keeps the window answering while it waits.
    ws.onKeepResponsive = [this] {
      PumpView v;
      v.controlsEnabled = w.IsEnabled(IDC_UPDATE) || w.IsEnabled(IDC_MODEL1_RADIO) ||
                          w.IsEnabled(IDC_MODEL2_RADIO);
      v.jobRunning = test::Peer(*dlg).m_jobRunning;
      v.systemMenuEnabled = w.systemMenuEnabled;
      v.sessionEndHeld = !w.sessionEndHeldFor.empty();
      responsive.push_back(v);
    };
  }

  // The selected model's device answered and its port is open, as the link
  // monitor leaves it.
  void Connect(int32_t model) {
    device.reset();
    device = std::make_unique<sim::SimulatedDevice>(line, model);
    test::Peer(*dlg).m_model = static_cast<protocol::DeviceModel>(model);
    test::Peer(*dlg).m_baudRate = model == 1 ? 1200 : 19200;
    test::Peer(*dlg).m_link.deviceDir = line.DeviceDir();
    ASSERT_TRUE(test::Peer(*dlg).m_link.OpenPort(line.PortName(), test::Peer(*dlg).m_baudRate));
    test::Peer(*dlg).m_linkState = kDeviceReady;
  }

  // Writes the image as an update file of the selected model and queues it
  // for the file dialog.
  void PickImage(const Bytes& image) {
    const char* name = test::Peer(*dlg).m_model == 1 ? "image.kyc" : "image.pkc";
    heldPath = FromUtf8(dir.WriteFile(name, HexText(image)).string());
    ws.filesToPick.push_back(heldPath);
  }

  void RunJob() { w.Click(IDC_UPDATE); }

  std::vector<Text> ProgressTexts() const {
    std::vector<Text> shown;
    for (const auto& [id, text] : w.textLog) {
      if (id == IDC_STATUS_EDIT && text.starts_with(u"Transferring")) shown.push_back(text);
    }
    return shown;
  }
  std::vector<Text> StatusTexts() const {
    std::vector<Text> shown;
    for (const auto& [id, text] : w.textLog) {
      if (id == IDC_STATUS_EDIT) shown.push_back(text);
    }
    return shown;
  }

  void ExpectControlsFree() {
    EXPECT_TRUE(w.IsEnabled(IDC_UPDATE));
    EXPECT_TRUE(w.IsEnabled(IDC_MODEL1_RADIO));
    EXPECT_TRUE(w.IsEnabled(IDC_MODEL2_RADIO));
    EXPECT_FALSE(test::Peer(*dlg).m_jobRunning);
    EXPECT_FALSE(test::Peer(*dlg).m_link.whileWaiting) << "the wait hook outlives the job";
    EXPECT_TRUE(w.sessionEndHeldFor.empty()) << "the session end is still refused";
    for (const auto& box : w.messageBoxes) EXPECT_FALSE(box.sessionEndHeld) << ToUtf8(box.text);
    if (!heldPath.empty()) {
      EXPECT_TRUE(CanLockElsewhere(heldPath)) << "the file is still held";
    }
  }

  // The refusal of a file changed since its read: the stop box, nothing
  // sent, the port open.
  void ExpectChangedFileRefused() {
    ASSERT_EQ(w.messageBoxes.size(), 1u);
    EXPECT_EQ(w.messageBoxes[0].text, test::english::kFileChanging);
    EXPECT_EQ(w.messageBoxes[0].icon, MbIcon::Stop);
    EXPECT_EQ(w.timers.count(1), 1u);  // the monitor restarts
    EXPECT_NE(test::Peer(*dlg).m_link.hPort, kInvalidPort);
    EXPECT_EQ(w.TextOf(IDC_STATUS_EDIT), u" ");
    EXPECT_TRUE(line.Received().empty());
    ExpectControlsFree();
  }

  // A failure exit: the message without an icon, port closed, monitor
  // restarted, no version refresh asked for.
  void ExpectFailureExit(const Text& message) {
    ASSERT_EQ(w.messageBoxes.size(), 1u);
    EXPECT_EQ(ToUtf8(w.messageBoxes[0].text), ToUtf8(message));
    EXPECT_EQ(w.messageBoxes[0].icon, MbIcon::None);
    EXPECT_EQ(test::Peer(*dlg).m_link.hPort, kInvalidPort);
    ASSERT_EQ(w.timers.count(1), 1u);
    EXPECT_EQ(w.timers[1], 500u);
    EXPECT_TRUE(w.timerLog.back().set);
    EXPECT_EQ(test::Peer(*dlg).m_refreshVersion, 0);
    EXPECT_EQ(test::Peer(*dlg).m_linkState, 2);
    EXPECT_TRUE(env.pauses.empty());
    ExpectControlsFree();
  }

  void ExpectCompletion() {
    EXPECT_TRUE(w.messageBoxes.empty()) << ToUtf8(w.messageBoxes.front().text);
    EXPECT_EQ(w.TextOf(IDC_STATUS_EDIT), test::english::kSuccessful);
    EXPECT_NE(test::Peer(*dlg).m_link.hPort, kInvalidPort);
    ASSERT_EQ(w.timers.count(1), 1u);
    EXPECT_EQ(w.timers[1], 500u);
    EXPECT_EQ(test::Peer(*dlg).m_refreshVersion, 1);
    EXPECT_EQ(env.pauses, std::vector<uint32_t>{1000});
    ExpectControlsFree();
  }

  struct PumpView {
    Text status;
    bool controlsEnabled = false;
    bool jobRunning = false;
    bool fileHeld = false;
    bool systemMenuEnabled = false;
    bool sessionEndHeld = false;
  };

  sim::SimulatedLine line;
  std::unique_ptr<sim::SimulatedDevice> device;
  test::DialogHarness h;
  const sim::TempDir& dir = h.dir;
  test::TestEnvironment& env = h.env;
  HeadlessWindowSystem& ws = h.ws;
  std::unique_ptr<CQuorvelDlg>& dlg = h.dlg;
  HeadlessWindow& w = *h.w;
  Text heldPath;
  std::vector<PumpView> pumps;
  std::vector<PumpView> responsive;
};

// ---- completion

TEST_F(UpdateJobTest, Model2SendsTheFileByteForByte) {
  Connect(2);
  // Bodies of flow-control, line-end and end-of-file bytes must cross as data.
  const std::vector<Bytes> records = {MakeRecord(253, 0x11), MakeRecord(100, 0x13),
                                      MakeRecord(7, 0x0D),    MakeRecord(0, 0),
                                      MakeRecord(253, 0x1A),  MakeRecord(30, 0xFF)};
  PickImage(JoinRecords(records));

  // The pause comes after the success text and before the monitor restarts.
  bool pausedInOrder = false;
  test::Peer(*dlg).m_env.pauseMs = [&](uint32_t ms) {
    env.pauses.push_back(ms);
    pausedInOrder = w.TextOf(IDC_STATUS_EDIT) == test::english::kSuccessful && w.timers.count(1) == 0 &&
                    test::Peer(*dlg).m_refreshVersion == 0;
  };
  RunJob();

  ExpectCompletion();
  EXPECT_TRUE(pausedInOrder);
  EXPECT_EQ(device->ReceivedRecords(), records);
  EXPECT_EQ(device->AcceptedImage(), JoinRecords(records));
  const Bytes sent = line.Received();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0], 0xD6);
  EXPECT_EQ(Bytes(sent.begin() + 1, sent.end()), JoinRecords(records));
  EXPECT_EQ(w.fileFilters, std::vector<Text>{u"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||"});
  // The monitor was stopped for the job and started again at its end.
  ASSERT_EQ(w.timerLog.size(), 3u);
  EXPECT_FALSE(w.timerLog[1].set);
  EXPECT_TRUE(w.timerLog[2].set);
  // One pump per record, each with the controls locked and the file held.
  ASSERT_EQ(pumps.size(), records.size());
  for (const PumpView& p : pumps) {
    EXPECT_FALSE(p.controlsEnabled);
    EXPECT_TRUE(p.jobRunning);
    EXPECT_TRUE(p.fileHeld);
    EXPECT_FALSE(p.systemMenuEnabled);
    EXPECT_TRUE(p.sessionEndHeld);
  }
  EXPECT_TRUE(w.systemMenuEnabled);
}

TEST_F(UpdateJobTest, OneRecordShowsHundredPercentOnceThenSuccess) {
  Connect(2);
  PickImage({0x00, 0x03, 0xC0, 0xFF, 0xEE});
  RunJob();
  ExpectCompletion();
  EXPECT_EQ(StatusTexts(), (std::vector<Text>{u" ", u"Transferring.. 100%", test::english::kSuccessful}));
  EXPECT_GE(w.updateWindowCount, 2);
}

// The window's side of a transfer with resends: each verdict traced as it
// came (--verbose), and the progress text after every verdict.
TEST_F(UpdateJobTest, ResendsAreTracedAndShownAsProgress) {
  Connect(2);
  const std::vector<Bytes> records = {MakeRecord(40, 0xA1), MakeRecord(40, 0xA2),
                                      MakeRecord(40, 0xA3)};
  PickImage(JoinRecords(records));
  device->SetVerdicts({Answer::Reject(0x55), Answer::Reject(0x00), Answer::Reject(0x13),
                       Answer::Accept(),  //
                       Answer::Reject(), Answer::Reject(), Answer::Reject(), Answer::Accept(),
                       Answer::Accept()});
  std::vector<std::string> traced;
  test::Peer(*dlg).m_env.trace = [&](const std::string& line) { traced.push_back(line); };
  RunJob();

  ExpectCompletion();
  ASSERT_GE(traced.size(), 11u);
  EXPECT_EQ(traced[traced.size() - 10], "record at byte 0 (42 bytes): verdict 0x55, send again");
  EXPECT_EQ(traced[traced.size() - 2], "record at byte 84 (42 bytes): verdict 0x11, accepted");
  EXPECT_EQ(traced.back(), "update completed");
  EXPECT_EQ(ProgressTexts(),
            (std::vector<Text>{u"Transferring.. 0%", u"Transferring.. 0%", u"Transferring.. 0%",
                               u"Transferring.. 33%", u"Transferring.. 33%",
                               u"Transferring.. 33%", u"Transferring.. 33%",
                               u"Transferring.. 66%", u"Transferring.. 100%"}));
}

// ---- failures: the message without an icon, the port closed

// The status field keeps the last progress text.
TEST_F(UpdateJobTest, TransferFailureKeepsTheLastProgress) {
  Connect(2);
  PickImage(JoinRecords({MakeRecord(10, 0x01), MakeRecord(10, 0x02)}));
  device->SetVerdicts({Answer::Accept(), Answer::CrcError()});
  RunJob();

  ExpectFailureExit(test::english::kCrcError);
  EXPECT_EQ(ProgressTexts(), std::vector<Text>{u"Transferring.. 50%"});
  EXPECT_EQ(w.TextOf(IDC_STATUS_EDIT), u"Transferring.. 50%");
}

// Nothing comes back at all: no progress is shown.
TEST_F(UpdateJobTest, HandshakeFailureShowsNoProgress) {
  Connect(2);
  PickImage(MakeRecord(3, 0x00));
  line.SetEcho(false);
  device->SetSilent(true);
  RunJob();
  ExpectFailureExit(test::english::kTimeoutD7);
  EXPECT_EQ(StatusTexts(), std::vector<Text>{u" "});
}

// A slow reply: the window is kept answering while the job waits for it,
// with the job's controls locked and no input taken.
TEST_F(UpdateJobTest, SlowHandshakeReplyKeepsTheWindowAnswering) {
  Connect(2);
  PickImage(MakeRecord(3, 0x77));
  device->SetHandshakeAnswer(1, Answer::Of({0xD7}, 900));
  RunJob();
  ExpectCompletion();
  EXPECT_FALSE(responsive.empty());
  for (const PumpView& v : responsive) {
    EXPECT_TRUE(v.jobRunning);
    EXPECT_FALSE(v.controlsEnabled);
    EXPECT_FALSE(v.systemMenuEnabled);
    EXPECT_TRUE(v.sessionEndHeld);
  }
  EXPECT_EQ(w.pumpCount, 1);  // the one record's pump only
}

// ---- refusals on the way to the handshake

// The file is held from its read: another program cannot take it for
// writing while the job runs.
TEST_F(UpdateJobTest, FileCannotBeTakenOnceRead) {
  Connect(2);
  PickImage(MakeRecord(3, 0x00));
  int otherHolder = -1;
  ws.onKillTimer = [&] {
    otherHolder = ::open(ToUtf8(heldPath).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_NE(::flock(otherHolder, LOCK_EX | LOCK_NB), 0);
  };
  RunJob();
  ::close(otherHolder);
  ExpectCompletion();
}

// Replaced by a FIFO after its read: refused before the port is touched,
// and the FIFO is never opened.
TEST_F(UpdateJobTest, FileReplacedByAFifoBeforeTheJobStarts) {
  Connect(2);
  PickImage(MakeRecord(3, 0x00));
  ws.onKillTimer = [&] {
    ::unlink(ToUtf8(heldPath).c_str());
    ASSERT_EQ(::mkfifo(ToUtf8(heldPath).c_str(), 0600), 0);
  };
  RunJob();
  ExpectChangedFileRefused();
}

// ---- input while a job runs

TEST_F(UpdateJobTest, InputDuringTheJobIsHeldOff) {
  Connect(2);
  PickImage(JoinRecords({MakeRecord(10, 0x01), MakeRecord(10, 0x02), MakeRecord(10, 0x03)}));
  ws.filesToPick.push_back(heldPath);  // for a nested job, should one start
  // The user clicks Update and the other model while records are sent;
  // messages already queued reach the handlers whatever the buttons show.
  w.Post([&] {
    w.Click(IDC_UPDATE);
    dlg->OnCommand(IDC_UPDATE);
    dlg->OnCommand(IDC_MODEL1_RADIO);
    dlg->OnCommand(IDC_MODEL2_RADIO);
    w.SysCommand(IDM_ABOUTBOX);  // the About box would hold the job up
  });
  RunJob();

  ExpectCompletion();
  EXPECT_EQ(w.fileFilters.size(), 1u);
  EXPECT_EQ(test::Peer(*dlg).m_model, 2);
  EXPECT_EQ(device->ReceivedRecords().size(), 3u);
  EXPECT_EQ(ws.filesToPick.size(), 1u);
  EXPECT_TRUE(ws.modalRuns.empty());
  // After the job the About box opens again.
  w.SysCommand(IDM_ABOUTBOX);
  EXPECT_EQ(ws.modalRuns, std::vector<int>{IDD_ABOUTBOX});
}

TEST_F(UpdateJobTest, CloseRequestEndsTheDialogAfterTheJob) {
  struct Case {
    const char* what;
    std::vector<Answer> verdicts;
    size_t boxes;
  };
  const Case cases[] = {
      {"completion", {}, 0},
      {"failure", {Answer::Accept(), Answer::CrcError()}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (line.Plugged()) line.HangUp();
    line.Replug();
    Connect(2);
    PickImage(JoinRecords({MakeRecord(10, 0x01), MakeRecord(10, 0x02)}));
    device->SetVerdicts(c.verdicts);
    w.endResult.reset();
    w.messageBoxes.clear();
    bool endedBeforeBox = false;
    ws.onMessageBox = [&](const test::MessageBoxRecord&) { endedBeforeBox = w.endResult.has_value(); };
    w.Post([&] { w.PressEscape(); });
    RunJob();

    EXPECT_EQ(w.messageBoxes.size(), c.boxes);
    EXPECT_FALSE(endedBeforeBox);
    ASSERT_TRUE(w.endResult.has_value());
    EXPECT_EQ(*w.endResult, IDCANCEL);
    EXPECT_EQ(device->ReceivedRecords().size(), 2u);
    EXPECT_FALSE(test::Peer(*dlg).m_closePending);
    ExpectControlsFree();
  }
}

}  // namespace
}  // namespace quorvel
