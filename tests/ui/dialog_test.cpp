#include <gtest/gtest.h>

#include "sim/TempDir.h"
#include "support/EnglishTexts.h"
#include "support/DialogHarness.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "ui/AboutDlg.h"
#include "ui/QuorvelDlg.h"

namespace quorvel {
namespace {

using test::HeadlessWindow;
using test::HeadlessWindowSystem;
using test::PaintOp;

constexpr ColorRef kRed = 0x0000FF;
constexpr ColorRef kGreen = 0x00FF00;

class DialogTest : public ::testing::Test {
 protected:
  test::DialogHarness h;
  HeadlessWindowSystem& ws = h.ws;
  std::unique_ptr<CQuorvelDlg>& dlg = h.dlg;
  HeadlessWindow& w = *h.w;
};

TEST_F(DialogTest, StartState) {
  EXPECT_EQ(w.caption, test::english::kCaption);
  EXPECT_FALSE(w.checkedRadio.has_value());
  EXPECT_EQ(test::Peer(*dlg).m_model, 0);
  EXPECT_EQ(test::Peer(*dlg).m_baudRate, 19200);
  EXPECT_EQ(test::Peer(*dlg).m_linkState, 0);
  EXPECT_EQ(test::Peer(*dlg).m_link.hPort, kInvalidPort);
  EXPECT_EQ(w.TextOf(IDC_VERSION_TEXT), u"");
  EXPECT_EQ(w.TextOf(IDC_HINT_TEXT),
            test::english::kHintNoAdapter);
  EXPECT_EQ(w.TextOf(IDC_SWVER_GROUP), test::english::kSwVersionLabel);
  EXPECT_EQ(w.TextOf(IDC_CONN_GROUP), u"Connection Status");
  EXPECT_EQ(w.TextOf(IDC_LINK_GROUP), u"Device link");
  EXPECT_EQ(w.TextOf(IDC_UPDATE), u"Update");
  EXPECT_EQ(w.TextOf(IDC_USB_LABEL), u"USB Adapter State");
  EXPECT_EQ(w.TextOf(IDC_DEVICE_LABEL), u"Device State");
  EXPECT_EQ(w.TextOf(IDC_SELECT_GROUP), u"Device Selection");
  EXPECT_EQ(w.TextOf(IDC_MODEL1_RADIO), u"BRENIX");
  EXPECT_EQ(w.TextOf(IDC_MODEL2_RADIO), u"OLMAR I");
  ASSERT_EQ(w.timers.count(1), 1u);
  EXPECT_EQ(w.timers[1], 500u);
  ASSERT_EQ(w.systemMenu.size(), 1u);
  EXPECT_EQ(w.systemMenu[0].first, 16u);
  EXPECT_EQ(w.systemMenu[0].second, u"About Update Routine(&A)...");

  w.Paint();
  ASSERT_EQ(w.paintOps.size(), 4u);
  EXPECT_EQ(w.paintOps[0].colour, kRed);
  EXPECT_EQ(w.paintOps[1].colour, kRed);
}

TEST_F(DialogTest, LampRectanglesComeFromThePlaceholders) {
  EXPECT_EQ(test::Peer(*dlg).m_rcUsbLamp, w.ControlRect(IDC_USB_LAMP));
  EXPECT_EQ(test::Peer(*dlg).m_rcDeviceLamp, w.ControlRect(IDC_DEVICE_LAMP));
  EXPECT_EQ(test::Peer(*dlg).m_rcLamps,
            (Rect{test::Peer(*dlg).m_rcUsbLamp.left, test::Peer(*dlg).m_rcUsbLamp.top,
                  test::Peer(*dlg).m_rcDeviceLamp.right, test::Peer(*dlg).m_rcDeviceLamp.bottom}));
}

TEST_F(DialogTest, TicksAndUpdateDoNothingWithoutAModel) {
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(w.Tick());
  w.Click(IDC_UPDATE);
  EXPECT_TRUE(w.messageBoxes.empty());
  EXPECT_TRUE(w.fileFilters.empty());
  EXPECT_TRUE(w.invalidations.empty());
  EXPECT_EQ(test::Peer(*dlg).m_linkState, 0);
  EXPECT_EQ(test::Peer(*dlg).m_link.hPort, kInvalidPort);
}

TEST_F(DialogTest, SystemCommandsOpenTheAboutBoxOnlyForItsIdentifier) {
  const struct {
    unsigned id;
    bool opensAbout;
  } cases[] = {{16, true}, {31, true}, {15, false}, {32, false},
               {0x10010, true}, {0xF020, false}};
  for (const auto& c : cases) {
    ws.modalRuns.clear();
    w.defaultSysCommands.clear();
    w.SysCommand(c.id);
    EXPECT_EQ(ws.modalRuns.size(), c.opensAbout ? 1u : 0u) << c.id;
    EXPECT_EQ(w.defaultSysCommands.size(), c.opensAbout ? 0u : 1u) << c.id;
    if (c.opensAbout) {
      EXPECT_EQ(ws.modalRuns[0], IDD_ABOUTBOX);
    }
  }
}

TEST_F(DialogTest, AboutBoxOpensAnyNumberOfTimes) {
  int opened = 0;
  ws.onModal = [&](CDialogEx& about, HeadlessWindow& aw) {
    ++opened;
    EXPECT_EQ(aw.TextOf(IDOK), u"确定");
    about.OnCommand(IDCANCEL);  // Escape closes it
    EXPECT_EQ(aw.endResult, IDCANCEL);
  };
  w.SysCommand(16);
  w.SysCommand(16);
  EXPECT_EQ(opened, 2);
  EXPECT_FALSE(w.endResult.has_value());
}

TEST_F(DialogTest, CloseCommandsEndTheDialog) {
  w.SysCommand(SC_CLOSE);
  EXPECT_EQ(w.endResult, IDCANCEL);
  w.endResult.reset();
  w.PressEscape();
  EXPECT_EQ(w.endResult, IDCANCEL);
  w.endResult.reset();
  dlg->OnCommand(IDOK);  // Enter outside a push button
  EXPECT_EQ(w.endResult, IDOK);
}

TEST_F(DialogTest, CloseDuringAJobWaitsForItsEnd) {
  test::Peer(*dlg).m_jobRunning = true;
  w.PressEscape();
  w.SysCommand(SC_CLOSE);
  EXPECT_FALSE(w.endResult.has_value());
  EXPECT_TRUE(test::Peer(*dlg).m_closePending);
}

TEST_F(DialogTest, LampColoursFollowTheLinkState) {
  const struct {
    uint8_t state;
    ColorRef usb, device;
  } cases[] = {{0, kRed, kRed}, {1, kGreen, kRed}, {2, kGreen, kGreen},
               {3, kRed, kRed}, {255, kRed, kRed}};
  for (const auto& c : cases) {
    test::Peer(*dlg).m_linkState = static_cast<LinkState>(c.state);
    w.Paint(true);
    ASSERT_EQ(w.paintOps.size(), 4u);
    EXPECT_EQ(w.paintOps[0].kind, PaintOp::Rectangle);
    EXPECT_EQ(w.paintOps[0].rect, test::Peer(*dlg).m_rcUsbLamp);
    EXPECT_EQ(w.paintOps[0].colour, c.usb) << int(c.state);
    EXPECT_EQ(w.paintOps[1].rect, test::Peer(*dlg).m_rcDeviceLamp);
    EXPECT_EQ(w.paintOps[1].colour, c.device) << int(c.state);
    for (int i : {2, 3}) {
      EXPECT_EQ(w.paintOps[i].kind, PaintOp::Edge);
      EXPECT_EQ(w.paintOps[i].edge, EDGE_SUNKEN);
      EXPECT_EQ(w.paintOps[i].flags, BF_RECT);
    }
    EXPECT_EQ(w.paintOps[2].rect, test::Peer(*dlg).m_rcUsbLamp);
    EXPECT_EQ(w.paintOps[3].rect, test::Peer(*dlg).m_rcDeviceLamp);
  }
}

TEST_F(DialogTest, MinimisedPaintCentresTheIconAndLeavesTextsAlone) {
  const struct {
    int width, height, x, y;
  } cases[] = {{30, 30, 0, 0}, {29, 29, -1, -1}, {100, 64, 34, 16}, {0, 0, -15, -15}};
  test::Peer(*dlg).m_linkState = kDeviceSilent;  // a change that a normal paint would show
  for (const auto& c : cases) {
    w.iconic = true;
    w.clientRect = Rect{0, 0, c.width, c.height};
    const size_t textsBefore = w.textLog.size();
    w.Paint(true);
    ASSERT_EQ(w.paintOps.size(), 2u);
    EXPECT_EQ(w.paintOps[0].kind, PaintOp::IconErase);
    EXPECT_EQ(w.paintOps[1].kind, PaintOp::Icon);
    EXPECT_EQ(w.paintOps[1].x, c.x) << c.width;
    EXPECT_EQ(w.paintOps[1].y, c.y) << c.height;
    EXPECT_EQ(w.textLog.size(), textsBefore);
  }
  w.iconic = false;  // restored: lamps and texts
  w.Paint(true);
  EXPECT_EQ(w.paintOps.size(), 4u);
  EXPECT_EQ(w.TextOf(IDC_HINT_TEXT),
            test::english::kHintNoDevice);
}

TEST_F(DialogTest, NoAboutItemWhenTheStringIsEmpty) {
  HeadlessWindowSystem ws2;
  ws2.aboutItemText.clear();
  CQuorvelDlg dlg2(ws2, h.env.Make(h.dir.Path().string()));
  HeadlessWindow& w2 = ws2.Open(dlg2);
  EXPECT_TRUE(w2.systemMenu.empty());
  EXPECT_EQ(w2.timers.count(1), 1u);
}

TEST_F(DialogTest, QueryDragIconGivesTheProgramIcon) {
  EXPECT_EQ(dlg->OnQueryDragIcon(), IDR_MAINFRAME);
}

}  // namespace
}  // namespace quorvel
