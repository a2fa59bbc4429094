// The update jobs' refusals before anything is sent: no model, no link, no
// file, a bad file, a port that cannot be purged, a file that cannot be held.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "sim/TempDir.h"
#include "support/DialogHarness.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

namespace quorvel {
namespace {

using test::HeadlessWindow;
using test::HeadlessWindowSystem;

class UpdateRefusalTest : public testing::Test {
 protected:
  // A model chosen and, unless a test says otherwise, the device seen.
  void Ready(int32_t model, uint8_t linkState = 2) {
    test::Peer(*dlg).m_model = static_cast<protocol::DeviceModel>(model);
    test::Peer(*dlg).m_linkState = static_cast<LinkState>(linkState);
  }
  Text File(const std::string& name, const std::string& text) {
    return FromUtf8(dir.WriteFile(name, text).string());
  }
  // Everything after the choice of a file is untouched.
  void ExpectNothingBeyondTheLoad() {
    EXPECT_EQ(w.timers.count(1), 1u);
    EXPECT_EQ(w.timerLog.size(), 1u);  // the start's SetTimer only
    EXPECT_EQ(w.TextOf(IDC_STATUS_EDIT), u"");
    EXPECT_TRUE(w.IsEnabled(IDC_UPDATE));
    EXPECT_FALSE(test::Peer(*dlg).m_jobRunning);
  }

  test::DialogHarness h;
  const sim::TempDir& dir = h.dir;
  HeadlessWindowSystem& ws = h.ws;
  std::unique_ptr<CQuorvelDlg>& dlg = h.dlg;
  HeadlessWindow& w = *h.w;
};

TEST_F(UpdateRefusalTest, NoModelDoesNothing) {
  test::Peer(*dlg).m_linkState = kDeviceReady;
  ws.filesToPick.push_back(File("a.pkc", "0003C0FFEE"));
  w.Click(IDC_UPDATE);
  EXPECT_TRUE(w.messageBoxes.empty());
  EXPECT_TRUE(w.fileFilters.empty());
  ExpectNothingBeyondTheLoad();
}

TEST_F(UpdateRefusalTest, LinkStateMessages) {
  struct Case {
    int32_t model;
    uint8_t linkState;
    Text message;
  };
  const Case cases[] = {
      {1, 0, u"USB Connection Error!"},
      {1, 1, u"DEVICE Connection Error!"},
      {2, 0, u"USB Connection Error!"},
      {2, 1, u"DEVICE Connection Error!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.message));
    Ready(c.model, c.linkState);
    w.messageBoxes.clear();
    w.Click(IDC_UPDATE);
    ASSERT_EQ(w.messageBoxes.size(), 1u);
    EXPECT_EQ(w.messageBoxes[0].text, c.message);
    EXPECT_EQ(w.messageBoxes[0].icon, MbIcon::Stop);
    EXPECT_TRUE(w.fileFilters.empty());
    ExpectNothingBeyondTheLoad();
  }
}

// The monitor runs behind the file dialog: when it closes, the job goes on
// only with the model it was started for and the device still answering.
TEST_F(UpdateRefusalTest, ModelAndLinkAreCheckedAgainAfterTheFileDialog) {
  const struct {
    const char* what;
    int32_t model;
    std::function<void(CQuorvelDlg&, HeadlessWindow&)> meanwhile;
    Text message;
  } cases[] = {
      {"the other model clicked", 2,
       [](CQuorvelDlg&, HeadlessWindow& w) { w.Click(IDC_MODEL1_RADIO); },
       u"This file is for OLMAR I, not for BRENIX!"},
      {"the other model's device found", 1,
       [](CQuorvelDlg& d, HeadlessWindow&) {
         test::Peer(d).m_model = protocol::kModel2;
         test::Peer(d).m_linkState = kDeviceReady;
       },
       u"This file is for BRENIX, not for OLMAR I!"},
      {"the device silent", 1,
       [](CQuorvelDlg& d, HeadlessWindow&) { test::Peer(d).m_linkState = kDeviceSilent; },
       u"DEVICE Connection Error!"},
      {"the adapter gone", 2,
       [](CQuorvelDlg& d, HeadlessWindow&) { test::Peer(d).m_linkState = kNoAdapterPort; },
       u"USB Connection Error!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Ready(c.model);
    ws.filesToPick.push_back(File(c.model == 1 ? "a.kyc" : "a.pkc", "0003C0FFEE"));
    ws.onChooseFile = [&] { c.meanwhile(*dlg, w); };
    w.messageBoxes.clear();
    w.Click(IDC_UPDATE);
    ASSERT_EQ(w.messageBoxes.size(), 1u);
    EXPECT_EQ(w.messageBoxes[0].text, c.message);
    EXPECT_EQ(w.messageBoxes[0].icon, MbIcon::Stop);
    // The job never started: the status field untouched, nothing locked.
    EXPECT_EQ(w.TextOf(IDC_STATUS_EDIT), u"");
    EXPECT_TRUE(w.IsEnabled(IDC_UPDATE));
    EXPECT_FALSE(test::Peer(*dlg).m_jobRunning);
  }
}

TEST_F(UpdateRefusalTest, FileDialogFilterPerModel) {
  Ready(1);
  w.Click(IDC_UPDATE);
  Ready(2);
  w.Click(IDC_UPDATE);
  ASSERT_EQ(w.fileFilters.size(), 2u);
  EXPECT_EQ(w.fileFilters[0], u"Config Files (*.kyc)|*.kyc|All Files (*.*)|*.*||");
  EXPECT_EQ(w.fileFilters[1], u"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||");
}

TEST_F(UpdateRefusalTest, LoadFailuresShowTheirMessageAndChangeNothing) {
  struct Case {
    const char* what;
    Text path;  // empty: the file dialog is cancelled
    Text message;
  };
  const Case cases[] = {
      {"cancelled", u"", u"Fail to open the file!"},
      {"missing", FromUtf8((dir.Path() / "gone.img").string()), u"Fail to open the file!"},
      {"lower case", File("lower.img", "0003c0ffee"), u"Not a valid upgrade file!"},
      {"broken chain", File("chain.img", "0009C0FFEE"), u"Not a valid upgrade file!"},
      {"empty", File("empty.img", "\r\n"), u"The file is empty!"},
  };
  for (int32_t model : {1, 2}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "model " << model << ", " << c.what);
      Ready(model);
      if (!c.path.empty()) ws.filesToPick.push_back(c.path);
      w.messageBoxes.clear();
      w.Click(IDC_UPDATE);
      ASSERT_EQ(w.messageBoxes.size(), 1u);
      EXPECT_EQ(w.messageBoxes[0].text, c.message);
      EXPECT_EQ(w.messageBoxes[0].icon, MbIcon::Stop);
      ExpectNothingBeyondTheLoad();
    }
  }
}

// "All Files" lets a file of the other model through the file dialog: its
// name refuses it before it is read, whatever its case; other names load.
TEST_F(UpdateRefusalTest, FileOfTheOtherModelIsRefusedByItsName) {
  struct Case {
    int32_t model;
    const char* name;
    const char16_t* message;  // null: the file loads and the job goes on
  };
  const Case cases[] = {
      {2, "a.kyc", u"This file is for BRENIX, not for OLMAR I!"},
      {2, "b.KyC", u"This file is for BRENIX, not for OLMAR I!"},
      {1, "c.PKC", u"This file is for OLMAR I, not for BRENIX!"},
      // As Windows takes them: trailing dots and blanks dropped, the data stream.
      {2, "f.kyc. .", u"This file is for BRENIX, not for OLMAR I!"},
      {1, "g.pkc::$data", u"This file is for OLMAR I, not for BRENIX!"},
      {1, "d.kyc", nullptr},
      {1, "e.kyc.bak", nullptr},
      {2, "kyc", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ready(c.model);
    ws.filesToPick.push_back(File(c.name, "0003C0FFEE"));
    w.messageBoxes.clear();
    w.Click(IDC_UPDATE);
    ASSERT_EQ(w.messageBoxes.size(), 1u);
    if (c.message != nullptr) {
      EXPECT_EQ(w.messageBoxes[0].text, c.message);
      EXPECT_EQ(w.messageBoxes[0].icon, MbIcon::Stop);
      ExpectNothingBeyondTheLoad();
    } else {
      // Loaded; the job then finds no port to purge.
      EXPECT_EQ(w.messageBoxes[0].text, u"串口缓存清空失败!");
    }
  }
}

// With no port open (the monitor closed it while the file dialog was up) the
// purge fails: the monitor restarts, the status field is cleared.
TEST_F(UpdateRefusalTest, PurgeFailureRestartsTheMonitor) {
  for (int32_t model : {1, 2}) {
    SCOPED_TRACE(model);
    Ready(model);
    w.messageBoxes.clear();
    w.SetTimer(1, 500);
    w.texts[IDC_STATUS_EDIT] = u"old";
    ws.filesToPick.push_back(File("ok.img", "0003C0FFEE"));
    w.Click(IDC_UPDATE);
    ASSERT_EQ(w.messageBoxes.size(), 1u);
    EXPECT_EQ(w.messageBoxes[0].text, u"串口缓存清空失败!");
    EXPECT_EQ(w.messageBoxes[0].icon, MbIcon::Stop);
    ASSERT_EQ(w.timers.count(1), 1u);
    EXPECT_EQ(w.timers[1], 500u);
    EXPECT_TRUE(w.timerLog.back().set);
    EXPECT_EQ(w.TextOf(IDC_STATUS_EDIT), u" ");
    EXPECT_EQ(test::Peer(*dlg).m_refreshVersion, 0);
    // The controls were locked for the job and are free again.
    EXPECT_EQ(w.enabled[IDC_UPDATE], true);
    EXPECT_EQ(w.enabled[IDC_MODEL1_RADIO], true);
    EXPECT_EQ(w.enabled[IDC_MODEL2_RADIO], true);
    EXPECT_FALSE(test::Peer(*dlg).m_jobRunning);
  }
}

}  // namespace
}  // namespace quorvel
