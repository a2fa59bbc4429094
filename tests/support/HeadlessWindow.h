#pragma once
// A headless implementation of our windowing layer for tests. It records what
// the dialog shows (texts, message boxes, timers, invalidations, paint calls)
// and lets a test act as the user and the toolkit: click a control, fire a
// timer tick, paint, answer message boxes and file dialogs.
//
//   HeadlessWindowSystem ws;
//   CQuorvelDlg dlg(ws, env);
//   HeadlessWindow& w = ws.Open(dlg);   // runs OnInitDialog, returns at once
//   w.Click(IDC_MODEL2_RADIO);
//   w.Tick();                            // timer 1, if running
//   w.Paint();                           // paints if something is invalid
//   ws.filesToPick.push_back(u"/tmp/x.pkc");
//   w.Click(IDC_UPDATE);                 // message boxes are answered with OK
//   EXPECT_EQ(w.messageBoxes.back().text, u"...");

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/DialogEx.h"
#include "ui/DialogTemplates.h"
#include "ui/Window.h"

namespace quorvel::test {

struct MessageBoxRecord {
  Text text;
  MbIcon icon;
  bool sessionEndHeld = false;  // while the box was shown
};

struct PaintOp {
  enum Kind { IconErase, Icon, Rectangle, Edge } kind;
  Rect rect;            // Rectangle, Edge
  ColorRef colour = 0;  // Rectangle
  unsigned edge = 0, flags = 0;
  int x = 0, y = 0;     // Icon
};

struct TimerEvent {
  bool set;  // true: SetTimer, false: KillTimer
  unsigned id;
  uint32_t periodMs;
};

class HeadlessWindowSystem;

class HeadlessWindow : public Window {
 public:
  HeadlessWindow(HeadlessWindowSystem& system, CDialogEx& dlg, const DialogTemplate& tpl);

  // ---- what a test does
  // Clicks a control as the user would: nothing happens if it is disabled.
  // An automatic radio button becomes the checked one of its group.
  void Click(int id);
  // Delivers a tick of timer `id` if that timer is running; returns whether
  // it was delivered.
  bool Tick(unsigned id = 1);
  // Paints if any part of the window is invalid (or always, with force).
  void Paint(bool force = false);
  void SysCommand(unsigned nID, long lParam = 0);
  void PressEscape() { dlg.OnCommand(IDCANCEL); }
  // Queues an action that the next PumpWaitingMessage performs, as if the
  // user had acted while the dialog was busy.
  void Post(std::function<void()> action) { posted.push_back(std::move(action)); }

  // ---- what the dialog did
  std::map<int, Text> texts;                        // current control texts
  std::vector<std::pair<int, Text>> textLog;        // every SetDlgItemText
  Text caption;
  std::map<int, bool> enabled;                      // absent = enabled
  std::optional<int> checkedRadio;
  std::vector<std::pair<unsigned, Text>> systemMenu;
  bool systemMenuEnabled = true;
  Text sessionEndHeldFor;  // the reason given; empty while the session may end
  std::vector<MessageBoxRecord> messageBoxes;
  std::map<unsigned, uint32_t> timers;              // running timers and periods
  std::vector<TimerEvent> timerLog;
  std::vector<Rect> invalidations;                  // every InvalidateRect
  std::vector<PaintOp> paintOps;                    // ops of the latest paint
  int paintCount = 0;
  int updateWindowCount = 0;
  int pumpCount = 0;
  int keepResponsiveCount = 0;
  std::vector<Text> fileFilters;                    // every ChooseFile filter
  std::vector<unsigned> defaultSysCommands;
  std::optional<int> endResult;                     // set by EndDialog
  bool iconic = false;
  Rect clientRect;
  std::deque<std::function<void()>> posted;

  CDialogEx& dlg;

  bool IsEnabled(int id) const;
  Text TextOf(int id) const;
  // Pixels of a control, converted from the template's dialog units.
  Rect ControlRect(int id) const;

  // ---- Window
  void SetWindowText(const Text& text) override { caption = text; }
  void SetDlgItemText(int id, const Text& text) override;
  void EnableDlgItem(int id, bool enable) override { enabled[id] = enable; }
  Rect GetDlgItemClientRect(int id) override { return ControlRect(id); }
  void AppendSystemMenuItem(unsigned commandId, const Text& text) override;
  void EnableSystemMenu(bool enable) override { systemMenuEnabled = enable; }
  void HoldSessionEnd(const Text& reason) override { sessionEndHeldFor = reason; }
  void SetIcon(IconHandle, bool) override {}
  int MessageBox(const Text& text, MbIcon icon) override;
  void SetTimer(unsigned id, uint32_t periodMs) override;
  void KillTimer(unsigned id) override;
  void InvalidateRect(const Rect& rect, bool erase) override;
  void UpdateWindow() override;
  bool PumpWaitingMessage() override;
  void KeepResponsive() override;
  Text ChooseFile(const Text& filter) override;
  void EndDialog(int result) override { endResult = result; }
  void DefaultSysCommand(unsigned nID, long lParam) override;
  bool IsIconic() override { return iconic; }
  int IconWidth() override { return 32; }
  int IconHeight() override { return 32; }
  Rect GetClientRect() override { return clientRect; }
  void IconEraseBackground() override;
  void DrawIcon(int x, int y, IconHandle icon) override;
  void Rectangle(const Rect& rect, ColorRef brush) override;
  void DrawEdge(const Rect& rect, unsigned edge, unsigned flags) override;

 private:
  HeadlessWindowSystem& m_system;
  const DialogTemplate& m_tpl;
  bool m_invalid = true;
  bool m_inPaint = false;
};

class HeadlessWindowSystem : public WindowSystem {
 public:
  // Opens `dlg` without a modal loop: builds the window, runs OnInitDialog
  // and returns the window for the test to drive.
  HeadlessWindow& Open(CDialogEx& dlg);

  // Nested modal dialogs (the About box): recorded, initialised, handed to
  // onModal (which may drive and end them) and ended with IDOK otherwise.
  int RunModal(CDialogEx& dlg, const DialogTemplate& tpl, CDialogEx* owner) override;
  IconHandle LoadIcon(int resourceId) override { return resourceId; }
  Text LoadString(int resourceId) override;

  // Answers for the file dialog, taken in order; an empty queue cancels.
  std::deque<Text> filesToPick;
  // Called while the file dialog is open, before it is answered.
  std::function<void()> onChooseFile;
  // Called for every message box before it is answered with OK.
  std::function<void(const MessageBoxRecord&)> onMessageBox;
  // Called at every PumpWaitingMessage, before a posted action runs.
  std::function<void()> onPump;
  // Called at every KillTimer, after the timer stopped (where a job stops
  // the link monitor: after the load, before the port is touched).
  std::function<void()> onKillTimer;
  // Called at every KeepResponsive (which runs no posted action).
  std::function<void()> onKeepResponsive;
  std::function<void(CDialogEx&, HeadlessWindow&)> onModal;
  // Template identifiers of every modal run, in order.
  std::vector<int> modalRuns;
  // String 101 as loaded; tests may empty it.
  Text aboutItemText = u"About Update Routine(&A)...";

  // Dialog base units used to convert dialog units to pixels.
  static constexpr int kBaseX = 7;
  static constexpr int kBaseY = 14;

 private:
  std::vector<std::unique_ptr<HeadlessWindow>> m_windows;
};

}  // namespace quorvel::test
