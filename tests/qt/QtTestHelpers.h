#pragma once
// Driving our Qt dialogs from tests: modal runs with a scripted action and a
// watchdog, keys, waits, and a dialog that records what reaches it.

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "ui/DialogEx.h"
#include "ui/DialogTemplates.h"
#include "ui/qt/QtDialogWindow.h"

namespace quorvel::qt::test {

// The result of a modal run that the watchdog had to end.
constexpr int kTimedOut = -1000;
// The result tests end their runs with.
constexpr int kEndedByTest = 4242;

inline QtDialogWindow* WindowOf(const CDialogEx& dlg) {
  return dynamic_cast<QtDialogWindow*>(dlg.GetWindow());
}

// Runs `dlg` modally; `act` runs once the window is up. A watchdog ends a
// run that is still open after `watchdogMs` (ten seconds) with kTimedOut,
// closing menus and modal windows that are open over it first.
inline int RunModalWith(CDialogEx& dlg, std::function<void(QtDialogWindow&)> act,
                        int watchdogMs = 10000) {
  QTimer::singleShot(0, [&dlg, act] {
    if (QtDialogWindow* w = WindowOf(dlg)) act(*w);
  });
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [&dlg] {
    QtDialogWindow* w = WindowOf(dlg);
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    while (QWidget* top = QApplication::activeModalWidget()) {
      if (top == w) break;
      if (auto* nested = qobject_cast<QDialog*>(top)) nested->done(0);
      else top->close();
      if (top->isVisible()) break;
    }
    if (w != nullptr) w->EndDialog(kTimedOut);
  });
  watchdog.start(watchdogMs);
  return dlg.DoModal();
}

// A key press, delivered as the window system delivers it: to `target`,
// then to its parents while nobody takes it.
inline void SendKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(target, &release);
}

// Types `path` into the file dialog's name field, as a person does; a
// selection in its list would depend on the folder having been read.
inline void TypeFileName(QWidget* fileDialog, const QString& path) {
  if (auto* name = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    name->setText(path);
  }
}

// Processes events until `done` holds or `ms` have passed.
inline bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Calls `act` once a modal window other than `window` shows (or a popup
// menu if `popup`), checking every 10 ms while `window` exists.
inline void WhenShown(QWidget* window, std::function<void(QWidget*)> act, bool popup = false) {
  auto* poll = new QTimer(window);
  QObject::connect(poll, &QTimer::timeout, [poll, window, act, popup] {
    QWidget* top = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
    if (top != nullptr && top != window && top->isVisible()) {
      poll->stop();
      poll->deleteLater();
      act(top);
    }
  });
  poll->start(10);
}

// When `window`'s popup menu shows, notes its items' texts in `offered` and
// chooses the first item from the keyboard.
inline void ChooseFirstMenuItemWhenShown(QWidget* window, QStringList& offered) {
  WhenShown(window, [&offered](QWidget* popup) {
    auto* menu = qobject_cast<QMenu*>(popup);
    ASSERT_NE(menu, nullptr);
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) offered << a->text();
    SendKey(menu, Qt::Key_Down);
    SendKey(menu, Qt::Key_Return);
  }, true);
}

// A dialog that records what its window delivers to it.
class RecordingDialog : public CDialogEx {
 public:
  explicit RecordingDialog(WindowSystem& ws, int templateId = IDD_QUORVEL_DIALOG,
                           CDialogEx* parent = nullptr)
      : CDialogEx(templateId, ws, parent) {}

  bool OnInitDialog() override { return onInit ? onInit(*this) : true; }
  void OnCommand(int id) override {
    commands.push_back(id);
    CDialogEx::OnCommand(id);
  }
  void OnSysCommand(unsigned nID, long lParam) override {
    sysCommands.push_back(nID);
    CDialogEx::OnSysCommand(nID, lParam);
  }
  void OnTimer(uintptr_t nIDEvent) override {
    ticks.push_back(clock.isValid() ? clock.elapsed() : 0);
    if (onTimer) onTimer(*this, nIDEvent);
  }
  void OnPaint() override {
    ++paints;
    if (onPaint) onPaint(*this);
  }
  using CDialogEx::EndDialog;

  std::function<bool(RecordingDialog&)> onInit;
  std::function<void(RecordingDialog&, uintptr_t)> onTimer;
  std::function<void(RecordingDialog&)> onPaint;
  std::vector<int> commands;
  std::vector<unsigned> sysCommands;
  std::vector<qint64> ticks;  // ms since `clock` was started
  QElapsedTimer clock;
  int paints = 0;
};

}  // namespace quorvel::qt::test
