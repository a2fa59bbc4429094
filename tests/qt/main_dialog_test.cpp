// The program's own dialogs on Qt: the main dialog's texts and lamps, its
// keys and close handling, the About box and the About item.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "QtTestHelpers.h"
#include "sim/TempDir.h"
#include "support/DialogPeer.h"
#include "support/TestEnvironment.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"
#include "ui/qt/QtWindowSystem.h"

namespace quorvel::qt {
namespace {

using test::ChooseFirstMenuItemWhenShown;
using test::kEndedByTest;
using test::RunModalWith;
using test::SendKey;
using test::WhenShown;

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  return QStringLiteral("<no text>");
}

QPoint Centre(const Rect& r) { return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

class MainDialogTest : public ::testing::Test {
 protected:
  quorvel::sim::TempDir dir;
  quorvel::test::TestEnvironment env;
  QtWindowSystem ws;
  std::unique_ptr<CQuorvelDlg> dlg =
      std::make_unique<CQuorvelDlg>(ws, env.Make(dir.Path().string()));

  // Closes every About box that opens over `main` while it runs: Enter
  // (its default button) the first time, Escape after; counts them and
  // checks what they show.
  int aboutBoxes = 0;
  void CloseAboutBoxes(QtDialogWindow& main) {
    test::WheneverShown(&main, [this, &main](QWidget* top) {
      auto* about = qobject_cast<QtDialogWindow*>(top);
      ASSERT_NE(about, nullptr) << top->metaObject()->className();
      if (about->HasEnded()) return;
      ++aboutBoxes;
      EXPECT_EQ(about->windowTitle(), QStringLiteral("About Update Routine"));
      EXPECT_EQ(about->windowType(), Qt::Dialog);
      EXPECT_EQ(about->parentWidget(), &main);
      EXPECT_EQ(about->minimumSize(), about->maximumSize());
      auto* ok = qobject_cast<QPushButton*>(about->Control(IDOK));
      ASSERT_NE(ok, nullptr);
      EXPECT_EQ(ok->text(), QStringLiteral("确定"));
      EXPECT_TRUE(ok->isDefault());
      QStringList texts;
      for (auto* label : about->findChildren<QLabel*>()) texts << label->text();
      EXPECT_TRUE(texts.contains(QStringLiteral("Update Routine，V1.1.1")));
      EXPECT_TRUE(texts.contains(QStringLiteral("Build 2019-03-22")));
      SendKey(about->focusWidget() ? about->focusWidget() : about,
              aboutBoxes == 1 ? Qt::Key_Return : Qt::Key_Escape);
      EXPECT_TRUE(about->HasEnded());
    });
  }
};

TEST_F(MainDialogTest, OpensWithTheEnglishTextsAndNothingSelected) {
  QString caption;
  RunModalWith(*dlg, [&](QtDialogWindow& w) {
    caption = w.windowTitle();
    const std::pair<int, const char*> texts[] = {
        {IDC_SWVER_GROUP, "Device S/W Version"},
        {IDC_CONN_GROUP, "Connection Status"},
        {IDC_LINK_GROUP, "Device link"},
        {IDC_UPDATE, "Update"},
        {IDC_USB_LABEL, "USB Adapter State"},
        {IDC_DEVICE_LABEL, "Device State"},
        {IDC_VERSION_TEXT, ""},
        {IDC_HINT_TEXT, "Connect your USB adaptor to PC, Red signal change to Green."},
        {IDC_SELECT_GROUP, "Device Selection"},
        {IDC_MODEL1_RADIO, "BRENIX"},
        {IDC_MODEL2_RADIO, "OLMAR I"},
        {IDC_STATUS_EDIT, ""},
    };
    for (const auto& [id, text] : texts) EXPECT_EQ(TextOf(w.Control(id)), QString::fromUtf8(text)) << id;
    EXPECT_FALSE(static_cast<QRadioButton*>(w.Control(IDC_MODEL1_RADIO))->isChecked());
    EXPECT_FALSE(static_cast<QRadioButton*>(w.Control(IDC_MODEL2_RADIO))->isChecked());
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(
        QRect(quorvel::test::Peer(*dlg).m_rcUsbLamp.left, quorvel::test::Peer(*dlg).m_rcUsbLamp.top,
              quorvel::test::Peer(*dlg).m_rcUsbLamp.Width(),
              quorvel::test::Peer(*dlg).m_rcUsbLamp.Height()),
        w.Control(IDC_USB_LAMP)->geometry());
    w.EndDialog(kEndedByTest);
  });
  EXPECT_EQ(caption, QStringLiteral("Update Routine V1.1.1"));
}

// Which state shows which colours is the dialog's (tests/ui); here the
// colours reach the screen unmixed, red and green each where its lamp is.
TEST_F(MainDialogTest, LampsShowTheLinkStateInPureColours) {
  RunModalWith(*dlg, [&](QtDialogWindow& w) {
    quorvel::test::DialogPeer peer(*dlg);
    peer.m_linkState = kDeviceSilent;
    const QImage image = w.grab().toImage();
    EXPECT_EQ(image.pixel(Centre(peer.m_rcUsbLamp)) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(image.pixel(Centre(peer.m_rcDeviceLamp)) & 0xFFFFFF, 0xFF0000u);
    peer.m_linkState = kNoAdapterPort;
    w.EndDialog(kEndedByTest);
  });
}

TEST_F(MainDialogTest, MinimisedItPaintsTheIconInsteadOfTheLamps) {
  RunModalWith(*dlg, [&](QtDialogWindow& w) {
    w.DefaultSysCommand(0xF020, 0);
    ASSERT_TRUE(w.IsIconic());
    const QImage image = w.grab().toImage();
    EXPECT_NE(image.pixel(Centre(quorvel::test::Peer(*dlg).m_rcUsbLamp)) & 0xFFFFFF, 0xFF0000u);
    const QRgb background = w.palette().window().color().rgb() & 0xFFFFFF;
    EXPECT_EQ(image.pixel(2, 2) & 0xFFFFFF, background);
    // The middle of the client area shows the icon.
    EXPECT_NE(image.pixel(w.width() / 2, w.height() / 2) & 0xFFFFFF, background);
    w.showNormal();
    w.EndDialog(kEndedByTest);
  });
}

TEST_F(MainDialogTest, EnterOnUpdateWithNoModelKeepsTheDialogOpenAndShowsNothing) {
  bool open = false;
  bool boxShown = false;
  const int result = RunModalWith(*dlg, [&](QtDialogWindow& w) {
    WhenShown(&w, [&](QWidget* top) {
      boxShown = true;
      top->close();
    });
    w.Control(IDC_UPDATE)->setFocus();
    SendKey(w.focusWidget(), Qt::Key_Return);
    QApplication::processEvents();
    open = w.isVisible() && !w.HasEnded();
    EXPECT_EQ(TextOf(w.Control(IDC_STATUS_EDIT)), QString());
    SendKey(w.focusWidget(), Qt::Key_Escape);
  });
  EXPECT_TRUE(open);
  EXPECT_FALSE(boxShown);
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(MainDialogTest, EnterInTheEditEndsTheProgram) {
  const int result = RunModalWith(*dlg, [&](QtDialogWindow& w) {
    w.Control(IDC_STATUS_EDIT)->setFocus();
    SendKey(w.focusWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(result, IDOK);
}

TEST_F(MainDialogTest, CloseDuringAJobIsHeldUntilTheJobEnds) {
  bool visible = false;
  const int result = RunModalWith(*dlg, [&](QtDialogWindow& w) {
    quorvel::test::Peer(*dlg).m_jobRunning = true;
    w.close();
    SendKey(w.focusWidget(), Qt::Key_Escape);
    QApplication::processEvents();
    visible = w.isVisible();
    quorvel::test::Peer(*dlg).m_jobRunning = false;
    w.close();
  });
  EXPECT_TRUE(visible);
  EXPECT_EQ(result, IDCANCEL);
}

// Which commands open it is the dialog's (tests/ui); here the box opens as
// a window of its own and closes again, any number of times.
TEST_F(MainDialogTest, AboutBoxOpensAnyNumberOfTimes) {
  RunModalWith(*dlg, [&](QtDialogWindow& w) {
    CloseAboutBoxes(w);
    for (int i = 0; i < 2; ++i) {
      dlg->OnSysCommand(IDM_ABOUTBOX, 0);
      QApplication::processEvents();
      EXPECT_TRUE(w.isVisible());
    }
    w.EndDialog(kEndedByTest);
  });
  EXPECT_EQ(aboutBoxes, 2);
}

TEST_F(MainDialogTest, ContextMenuCarriesTheAboutItem) {
  QStringList offered;
  RunModalWith(*dlg, [&](QtDialogWindow& w) {
    CloseAboutBoxes(w);
    ChooseFirstMenuItemWhenShown(&w, offered);
    SendKey(w.focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
    w.EndDialog(kEndedByTest);
  });
  EXPECT_EQ(offered, QStringList{QStringLiteral("About Update Routine(&A)...")});
  EXPECT_EQ(aboutBoxes, 1);
}

}  // namespace
}  // namespace quorvel::qt
