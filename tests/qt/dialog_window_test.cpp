// The Qt dialog window as the dialogs see it: the controls built from the
// template, what keys, clicks, the close box, menus and timers deliver, and
// the window operations the dialogs call.

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QThread>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <fstream>

#include "QtTestHelpers.h"
#include "sim/TempDir.h"
#include "ui/qt/QtWindowSystem.h"

namespace quorvel::qt {
namespace {

using test::ChooseFirstMenuItemWhenShown;
using test::kEndedByTest;
using test::kTimedOut;
using test::RecordingDialog;
using test::RunModalWith;
using test::SendKey;
using test::WaitFor;
using test::WhenShown;

int Px(int du, int base, int per) {
  return static_cast<int>(std::lround(static_cast<double>(du) * base / per));
}

class DialogWindowTest : public ::testing::Test {
 protected:
  QtWindowSystem ws;
};

TEST_F(DialogWindowTest, ControlsSitAtTheirTemplatePlaces) {
  RecordingDialog dlg(ws);
  const DialogTemplate& tpl = *FindDialogTemplate(IDD_QUORVEL_DIALOG);
  const int result = RunModalWith(dlg, [&](QtDialogWindow& w) {
    const BaseUnits u = w.DialogBaseUnits();
    EXPECT_EQ(w.size(), QSize(Px(tpl.w, u.x, 4), Px(tpl.h, u.y, 8)));
    for (const ControlTemplate& c : tpl.controls) {
      if (c.id == kNoId) continue;
      SCOPED_TRACE(c.id);
      QWidget* widget = w.Control(c.id);
      ASSERT_NE(widget, nullptr);
      EXPECT_EQ(widget->parentWidget(), &w);
      const QRect expected(Px(c.x, u.x, 4), Px(c.y, u.y, 8), Px(c.w, u.x, 4), Px(c.h, u.y, 8));
      if (c.kind == ControlKind::AutoRadioButton) {
        // Widened if its label needs more room, never narrowed.
        EXPECT_EQ(widget->pos(), expected.topLeft());
        EXPECT_EQ(widget->height(), expected.height());
        EXPECT_GE(widget->width(), expected.width());
      } else {
        EXPECT_EQ(widget->geometry(), expected);
      }
      const Rect r = w.GetDlgItemClientRect(c.id);
      EXPECT_EQ(QRect(r.left, r.top, r.Width(), r.Height()), widget->geometry());
      switch (c.kind) {
        case ControlKind::GroupBox:
          EXPECT_NE(qobject_cast<QGroupBox*>(widget), nullptr);
          break;
        case ControlKind::PushButton:
          ASSERT_NE(qobject_cast<QPushButton*>(widget), nullptr);
          EXPECT_FALSE(static_cast<QPushButton*>(widget)->isDefault());
          EXPECT_FALSE(static_cast<QPushButton*>(widget)->autoDefault());
          break;
        case ControlKind::StaticText:
          EXPECT_NE(qobject_cast<QLabel*>(widget), nullptr);
          break;
        case ControlKind::OwnerDrawStatic:
          // A bare widget that draws nothing of its own.
          EXPECT_EQ(widget->metaObject(), &QWidget::staticMetaObject);
          EXPECT_FALSE(widget->autoFillBackground());
          break;
        case ControlKind::Edit: {
          auto* edit = qobject_cast<QLineEdit*>(widget);
          ASSERT_NE(edit, nullptr);
          // It shows the program's texts only.
          EXPECT_TRUE(edit->isReadOnly());
          EXPECT_TRUE(edit->hasFrame());
          EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
          break;
        }
        case ControlKind::AutoRadioButton:
          ASSERT_NE(qobject_cast<QRadioButton*>(widget), nullptr);
          EXPECT_FALSE(static_cast<QRadioButton*>(widget)->isChecked());
          break;
        default:
          break;
      }
      EXPECT_TRUE(widget->isEnabled());
    }
    // The logo at its real size.
    bool logoFound = false;
    for (auto* label : w.findChildren<QLabel*>()) {
      if (label->pixmap().isNull()) continue;
      logoFound = true;
      EXPECT_EQ(label->size(), QSize(138, 58));
      EXPECT_EQ(label->pos(), QPoint(Px(170, u.x, 4), Px(8, u.y, 8)));
    }
    EXPECT_TRUE(logoFound);
    w.EndDialog(kEndedByTest);
  });
  EXPECT_EQ(result, kEndedByTest);
  EXPECT_EQ(dlg.GetWindow(), nullptr);
}

TEST_F(DialogWindowTest, MainWindowIsResizableWithMinimiseButNoMaximiseBox) {
  RecordingDialog dlg(ws);
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    EXPECT_EQ(w.windowType(), Qt::Window);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_NE(w.minimumSize(), w.maximumSize());
    // Resizing keeps every control where it was.
    const QRect before = w.Control(IDC_UPDATE)->geometry();
    w.resize(w.width() / 2, w.height() / 2);
    EXPECT_EQ(w.Control(IDC_UPDATE)->geometry(), before);
    w.EndDialog(kEndedByTest);
  });
}

TEST_F(DialogWindowTest, FirstTabStopHasTheFocusAndTabOrderFollowsTheTemplate) {
  RecordingDialog dlg(ws);
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    EXPECT_EQ(w.focusWidget(), w.Control(IDC_UPDATE));
    // Only the two tab stops are reached with Tab.
    QWidget* next = w.Control(IDC_UPDATE)->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    EXPECT_EQ(next, w.Control(IDC_STATUS_EDIT));
    EXPECT_FALSE(w.Control(IDC_MODEL1_RADIO)->focusPolicy() & Qt::TabFocus);
    w.EndDialog(kEndedByTest);
  });
}

TEST_F(DialogWindowTest, EndingDuringInitialisationNeverShowsTheWindow) {
  RecordingDialog dlg(ws);
  dlg.onInit = [](RecordingDialog& d) {
    d.EndDialog(7);
    return true;
  };
  EXPECT_EQ(dlg.DoModal(), 7);
}

TEST_F(DialogWindowTest, KeysReachTheDialogAsWindowsDialogsDeliverThem) {
  struct Case {
    const char* what;
    int focus;  // control with the focus
    int key;
    Qt::KeyboardModifiers modifiers;
    std::vector<int> commands;  // what the dialog receives
    bool closes;
  };
  const Case cases[] = {
      {"Enter in the edit", IDC_STATUS_EDIT, Qt::Key_Return, Qt::NoModifier, {IDOK}, true},
      {"keypad Enter in the edit", IDC_STATUS_EDIT, Qt::Key_Enter, Qt::KeypadModifier, {IDOK}, true},
      {"Enter on a radio button", IDC_MODEL1_RADIO, Qt::Key_Return, Qt::NoModifier, {IDOK}, true},
      {"Escape in the edit", IDC_STATUS_EDIT, Qt::Key_Escape, Qt::NoModifier, {IDCANCEL}, true},
      {"Escape on the button", IDC_UPDATE, Qt::Key_Escape, Qt::NoModifier, {IDCANCEL}, true},
      {"Enter on the button presses it", IDC_UPDATE, Qt::Key_Return, Qt::NoModifier, {IDC_UPDATE}, false},
      {"Space on the button presses it", IDC_UPDATE, Qt::Key_Space, Qt::NoModifier, {IDC_UPDATE}, false},
      {"Shift+Enter does nothing", IDC_STATUS_EDIT, Qt::Key_Return, Qt::ShiftModifier, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingDialog dlg(ws);
    bool stayedOpen = false;
    const int result = RunModalWith(dlg, [&](QtDialogWindow& w) {
      w.Control(c.focus)->setFocus();
      SendKey(w.focusWidget(), c.key, c.modifiers);
      QApplication::processEvents();
      stayedOpen = w.isVisible() && !w.HasEnded();
      if (stayedOpen) w.EndDialog(kEndedByTest);
    });
    EXPECT_EQ(dlg.commands, c.commands);
    EXPECT_EQ(stayedOpen, !c.closes);
    if (c.closes) EXPECT_EQ(result, c.commands.back());
    else EXPECT_EQ(result, kEndedByTest);
  }
}

TEST_F(DialogWindowTest, ClicksReachTheDialogAndRadioButtonsExcludeEachOther) {
  RecordingDialog dlg(ws);
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    auto* first = static_cast<QRadioButton*>(w.Control(IDC_MODEL1_RADIO));
    auto* second = static_cast<QRadioButton*>(w.Control(IDC_MODEL2_RADIO));
    static_cast<QPushButton*>(w.Control(IDC_UPDATE))->click();
    first->click();
    second->click();
    second->click();  // a checked auto radio button still reports the click
    EXPECT_FALSE(first->isChecked());
    EXPECT_TRUE(second->isChecked());
    w.EndDialog(kEndedByTest);
  });
  EXPECT_EQ(dlg.commands,
            (std::vector<int>{IDC_UPDATE, IDC_MODEL1_RADIO, IDC_MODEL2_RADIO, IDC_MODEL2_RADIO}));
}

TEST_F(DialogWindowTest, CloseBoxIsTheCloseSystemCommand) {
  RecordingDialog dlg(ws);
  const int result = RunModalWith(dlg, [&](QtDialogWindow& w) { w.close(); });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(dlg.sysCommands, std::vector<unsigned>{SC_CLOSE});
  EXPECT_EQ(dlg.commands, std::vector<int>{IDCANCEL});
}

// A dialog that refuses to close keeps its window open and visible.
class StubbornDialog : public RecordingDialog {
 public:
  using RecordingDialog::RecordingDialog;
  void OnCancel() override { ++refused; }
  int refused = 0;
};

TEST_F(DialogWindowTest, RefusedCloseKeepsTheWindowOpen) {
  StubbornDialog dlg(ws);
  bool visibleAfterClose = false;
  bool visibleAfterSysClose = false;
  const int result = RunModalWith(dlg, [&](QtDialogWindow& w) {
    EXPECT_FALSE(w.close());
    QApplication::processEvents();
    visibleAfterClose = w.isVisible();
    w.DefaultSysCommand(SC_CLOSE, 0);
    QApplication::processEvents();
    visibleAfterSysClose = w.isVisible();
    w.EndDialog(kEndedByTest);
  });
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_TRUE(visibleAfterSysClose);
  EXPECT_EQ(dlg.refused, 2);
  EXPECT_EQ(result, kEndedByTest);
}

TEST_F(DialogWindowTest, MinimiseCommandMinimisesOtherCommandsAreIgnored) {
  RecordingDialog dlg(ws);
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    w.DefaultSysCommand(0xF000, 0);  // size
    w.DefaultSysCommand(0xF030, 0);  // maximise
    EXPECT_FALSE(w.IsIconic());
    EXPECT_FALSE(w.isMaximized());
    EXPECT_FALSE(w.HasEnded());
    w.DefaultSysCommand(0xF020, 0);
    EXPECT_TRUE(w.isMinimized());
    w.EndDialog(kEndedByTest);
  });
}

TEST_F(DialogWindowTest, ContextMenuOffersTheAppendedItemsAsSystemCommands) {
  RecordingDialog dlg(ws);
  dlg.onInit = [](RecordingDialog& d) {
    d.GetWindow()->AppendSystemMenuItem(16, u"About Update Routine(&A)...");
    return true;
  };
  QStringList offered;
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    // Right click: the item is chosen.
    ChooseFirstMenuItemWhenShown(&w, offered);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&w, &click);
    // Shift+F10: the menu is dismissed.
    WhenShown(&w, [&](QWidget* popup) { SendKey(popup, Qt::Key_Escape); }, true);
    SendKey(w.focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
    w.EndDialog(kEndedByTest);
  });
  EXPECT_EQ(offered, QStringList{QStringLiteral("About Update Routine(&A)...")});
  EXPECT_EQ(dlg.sysCommands, std::vector<unsigned>{16});
}

TEST_F(DialogWindowTest, KeepResponsivePaintsWithoutWaiting) {
  RecordingDialog dlg(ws);
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    ASSERT_TRUE(WaitFor([&] { return dlg.paints > 0; }));
    const int before = dlg.paints;
    w.update();
    // Only KeepResponsive processes events here.
    for (int i = 0; i < 200 && dlg.paints == before; ++i) {
      w.KeepResponsive();
      QThread::msleep(5);
    }
    EXPECT_GT(dlg.paints, before);
    w.EndDialog(kEndedByTest);
  });
}

TEST_F(DialogWindowTest, DisabledSystemMenuDoesNotOpen) {
  RecordingDialog dlg(ws);
  dlg.onInit = [](RecordingDialog& d) {
    d.GetWindow()->AppendSystemMenuItem(16, u"About Update Routine(&A)...");
    d.GetWindow()->EnableSystemMenu(false);
    return true;
  };
  QStringList offered;
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    // Were a menu to open, its item would be chosen.
    ChooseFirstMenuItemWhenShown(&w, offered);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&w, &click);
    SendKey(w.focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
    // Nor the status field's own menu.
    QWidget* status = w.Control(IDC_STATUS_EDIT);
    QContextMenuEvent onStatus(QContextMenuEvent::Mouse, QPoint(5, 5), status->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(status, &onStatus);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    w.EndDialog(kEndedByTest);
  });
  EXPECT_TRUE(offered.isEmpty());
  EXPECT_TRUE(dlg.sysCommands.empty());
}

TEST_F(DialogWindowTest, TimerTicksRestartWithANewPeriodAndStop) {
  RecordingDialog dlg(ws);
  qint64 restartedAt = 0;
  qint64 killedAt = 0;
  dlg.onInit = [](RecordingDialog& d) {
    d.clock.start();
    d.GetWindow()->SetTimer(1, 40);
    return true;
  };
  dlg.onTimer = [&](RecordingDialog& d, uintptr_t id) {
    EXPECT_EQ(id, 1u);
    if (d.ticks.size() == 2) {
      restartedAt = d.clock.elapsed();
      d.GetWindow()->SetTimer(1, 250);
    } else if (d.ticks.size() == 3) {
      d.GetWindow()->KillTimer(1);
      killedAt = d.clock.elapsed();
      QTimer::singleShot(400, [&d] { d.EndDialog(kEndedByTest); });
    }
  };
  EXPECT_EQ(RunModalWith(dlg, [](QtDialogWindow&) {}), kEndedByTest);
  ASSERT_EQ(dlg.ticks.size(), 3u);  // none after KillTimer
  EXPECT_GE(dlg.ticks[0], 38);
  // A late first tick may be followed by an early second one; two periods
  // from the start hold all the same.
  EXPECT_GE(dlg.ticks[1], 2 * 38);
  EXPECT_GE(dlg.ticks[2] - restartedAt, 237);
  EXPECT_LT(dlg.ticks[2] - restartedAt, 5000);
  EXPECT_GT(killedAt, 0);
}

TEST_F(DialogWindowTest, UpdateWindowPaintsAtOnceInvalidateRectLater) {
  RecordingDialog dlg(ws);
  int afterInvalidate = -1;
  int afterUpdateWindow = -1;
  int before = -1;
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    WaitFor([&] { return dlg.paints > 0; });
    before = dlg.paints;
    w.InvalidateRect(Rect{0, 0, 20, 20}, true);
    afterInvalidate = dlg.paints;
    w.UpdateWindow();
    afterUpdateWindow = dlg.paints;
    w.InvalidateRect(Rect{0, 0, 20, 20}, true);
    WaitFor([&] { return dlg.paints > afterUpdateWindow; });
    w.EndDialog(kEndedByTest);
  });
  EXPECT_GT(before, 0);
  EXPECT_EQ(afterInvalidate, before);
  EXPECT_GT(afterUpdateWindow, afterInvalidate);
  EXPECT_GT(dlg.paints, afterUpdateWindow);
}

TEST_F(DialogWindowTest, PumpWaitingMessageHandlesWhatIsWaiting) {
  RecordingDialog dlg(ws);
  bool ran = false;
  bool reported = false;
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    QMetaObject::invokeMethod(&w, [&] { ran = true; }, Qt::QueuedConnection);
    reported = w.PumpWaitingMessage();
    w.EndDialog(kEndedByTest);
  });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(reported);
}

TEST_F(DialogWindowTest, PaintingOperationsDrawLikeTheClassicOnes) {
  RecordingDialog dlg(ws);
  dlg.onPaint = [](RecordingDialog& d) {
    Window* w = d.GetWindow();
    w->Rectangle(Rect{10, 10, 30, 26}, RGB(0x12, 0x34, 0x56));
    w->Rectangle(Rect{40, 10, 60, 26}, RGB(0x12, 0x34, 0x56));
    w->DrawEdge(Rect{40, 10, 60, 26}, EDGE_SUNKEN, BF_RECT);
  };
  QImage image;
  RunModalWith(dlg, [&](QtDialogWindow& w) {
    // Only the dialog's own painting.
    for (auto* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->hide();
    image = w.grab().toImage();
    w.EndDialog(kEndedByTest);
  });
  ASSERT_FALSE(image.isNull());
  const auto at = [&](int x, int y) { return image.pixel(x, y) & 0xFFFFFF; };
  // Rectangle: black outline on left..right-1 and top..bottom-1, brush inside.
  EXPECT_EQ(at(10, 10), 0x000000u);
  EXPECT_EQ(at(29, 25), 0x000000u);
  EXPECT_EQ(at(11, 11), 0x123456u);
  EXPECT_EQ(at(28, 24), 0x123456u);
  EXPECT_NE(at(30, 26), 0x000000u);
  // Sunken edge: two rings over the outline.
  const struct {
    int x, y;
    QRgb colour;
  } edge[] = {
      {45, 10, 0xA0A0A0}, {40, 15, 0xA0A0A0},  // outer top and left
      {45, 25, 0xFFFFFF}, {59, 15, 0xFFFFFF},  // outer bottom and right
      {59, 10, 0xFFFFFF}, {40, 25, 0xFFFFFF},  // corners go to bottom and right
      {45, 11, 0x696969}, {41, 15, 0x696969},  // inner top and left
      {45, 24, 0xE3E3E3}, {58, 15, 0xE3E3E3},  // inner bottom and right
      {42, 12, 0x123456}, {57, 23, 0x123456},  // brush inside both rings
  };
  for (const auto& e : edge) EXPECT_EQ(at(e.x, e.y), e.colour) << e.x << "," << e.y;
}

TEST_F(DialogWindowTest, MessageBoxIsOwnedCaptionedWithTheMainCaptionAndHasOneOk) {
  struct Case {
    MbIcon icon;
    QMessageBox::Icon expected;
  };
  for (const Case& c : {Case{MbIcon::Stop, QMessageBox::Critical}, Case{MbIcon::None, QMessageBox::NoIcon}}) {
    RecordingDialog dlg(ws);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Question;
    QMessageBox::StandardButtons buttons;
    QWidget* owner = nullptr;
    int answer = 0;
    RunModalWith(dlg, [&](QtDialogWindow& w) {
      w.SetWindowText(u"Update Routine V1.1.1");
      WhenShown(&w, [&](QWidget* top) {
        auto* box = qobject_cast<QMessageBox*>(top);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        owner = box->parentWidget();
        box->button(QMessageBox::Ok)->click();
      });
      answer = w.MessageBox(u"串口缓存清空失败!", c.icon);
      w.EndDialog(kEndedByTest);
    });
    EXPECT_EQ(title, QStringLiteral("Update Routine V1.1.1"));
    EXPECT_EQ(text, QStringLiteral("串口缓存清空失败!"));
    EXPECT_EQ(icon, c.expected);
    EXPECT_EQ(buttons, QMessageBox::Ok);
    EXPECT_NE(owner, nullptr);
    EXPECT_EQ(answer, IDOK);
  }
}

TEST_F(DialogWindowTest, ChooseFileOffersTheFiltersAndReturnsThePathOrNothing) {
  quorvel::sim::TempDir dir;
  const std::string noDot = dir.WriteFile("FIRMWARE", "00").string();
  struct Case {
    bool accept;
    Text expected;
  };
  for (const Case& c : {Case{false, u""}, Case{true, FromQString(QString::fromStdString(noDot))}}) {
    RecordingDialog dlg(ws);
    QStringList filters;
    QString selected;
    Text chosen = u"unset";
    RunModalWith(dlg, [&](QtDialogWindow& w) {
      WhenShown(&w, [&](QWidget* top) {
        auto* fileDialog = qobject_cast<QFileDialog*>(top);
        ASSERT_NE(fileDialog, nullptr);
        filters = fileDialog->nameFilters();
        selected = fileDialog->selectedNameFilter();
        if (c.accept) {
          fileDialog->selectNameFilter(filters.value(1));
          // As if typed: the full path into the file name field.
          auto* name = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
          ASSERT_NE(name, nullptr);
          name->setText(QString::fromStdString(noDot));
          QMetaObject::invokeMethod(fileDialog, "accept");
        } else {
          fileDialog->reject();
        }
      });
      chosen = w.ChooseFile(u"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||");
      w.EndDialog(kEndedByTest);
    });
    EXPECT_EQ(filters, (QStringList{QStringLiteral("Config Files (*.pkc)"), QStringLiteral("All Files (*)")}));
    EXPECT_EQ(selected, QStringLiteral("Config Files (*.pkc)"));
    EXPECT_EQ(chosen, c.expected);
  }
}

}  // namespace
}  // namespace quorvel::qt
