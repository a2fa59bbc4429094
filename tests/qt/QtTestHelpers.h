#pragma once
// Driving our Qt dialogs from tests: modal runs with a scripted action and a
// watchdog, keys, waits, and a dialog that records what reaches it.

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <utility>
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

// Processes events until `done` holds or `ms` have passed.
inline bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Calls `act` once for each window that shows over `window` while
// `window` exists: every modal window (or, with `popup`, every popup menu)
// other than `window` itself. It reacts to the window's show event and acts
// as soon as the window's own event loop runs, so the window is up and
// answering when `act` sees it, however busy the machine is.
class ShowWatcher : public QObject {
 public:
  ShowWatcher(QWidget* window, std::function<void(QWidget*)> act, bool popup, bool once)
      : QObject(window), m_window(window), m_act(std::move(act)), m_popup(popup), m_once(once) {
    QApplication::instance()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show || m_done) return false;
    auto* shown = qobject_cast<QWidget*>(watched);
    if (shown == nullptr || shown == m_window || !shown->isWindow()) return false;
    const bool wanted = m_popup ? shown->windowType() == Qt::Popup : shown->isModal();
    if (!wanted) return false;
    if (m_once) m_done = true;
    QPointer<QWidget> target(shown);
    QTimer::singleShot(0, this, [this, target] {
      if (target != nullptr && target->isVisible()) m_act(target);
    });
    return false;
  }

 private:
  QWidget* m_window;
  std::function<void(QWidget*)> m_act;
  bool m_popup;
  bool m_once;
  bool m_done = false;
};

// Calls `act` once, when the next modal window other than `window` shows (or
// the next popup menu, with `popup`).
inline void WhenShown(QWidget* window, std::function<void(QWidget*)> act, bool popup = false) {
  new ShowWatcher(window, std::move(act), popup, true);
}

// Calls `act` for every modal window other than `window` that shows while
// `window` exists, or until the returned watcher is deleted.
inline QPointer<ShowWatcher> WheneverShown(QWidget* window, std::function<void(QWidget*)> act) {
  return new ShowWatcher(window, std::move(act), false, false);
}

// Answers a file dialog as a person does: types `path` into its file-name
// field and presses Open.
inline void AnswerFileDialog(QFileDialog* chooser, const QString& path) {
  auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(name, nullptr);
  name->setFocus(Qt::OtherFocusReason);
  name->setText(path);
  auto* buttons = chooser->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  ASSERT_NE(buttons, nullptr);
  QPushButton* open = buttons->button(QDialogButtonBox::Open);
  ASSERT_NE(open, nullptr);
  ASSERT_TRUE(open->isEnabled()) << path.toStdString();
  open->click();
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
