#pragma once
// Our windowing layer: exactly the operations the dialogs need of a window,
// so the dialog logic stays free of any toolkit. Implemented with Qt Widgets
// for the program (ui/qt/) and headless for tests (tests/support/).

#include <cstdint>

#include "base/WideText.h"

namespace quorvel {

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// Colour value with red in the lowest byte, green in the next, blue in the third.
using ColorRef = uint32_t;
constexpr ColorRef RGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<ColorRef>(r) | (static_cast<ColorRef>(g) << 8) |
         (static_cast<ColorRef>(b) << 16);
}

// Icons are named by their resource identifier.
using IconHandle = int;

enum class MbIcon { None, Stop };

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Edge drawing, with the values of the classic three-dimensional edges.
constexpr unsigned EDGE_SUNKEN = 10;
constexpr unsigned BF_RECT = 15;

// System command identifiers the dialogs meet.
constexpr unsigned SC_CLOSE = 0xF060;

class CDialogEx;
struct DialogTemplate;

// One open dialog window.
class Window {
 public:
  virtual ~Window() = default;

  // --- texts and controls
  virtual void SetWindowText(const Text& caption) = 0;
  virtual void SetDlgItemText(int id, const Text& text) = 0;
  // Enables or disables a control (a disabled control takes no input).
  virtual void EnableDlgItem(int id, bool enable) = 0;
  // A control's rectangle in the dialog's client coordinates
  // (GetWindowRect followed by ScreenToClient).
  virtual Rect GetDlgItemClientRect(int id) = 0;
  // Appends a separator and then an item that is delivered to
  // CDialogEx::OnSysCommand with `commandId`.
  virtual void AppendSystemMenuItem(unsigned commandId, const Text& text) = 0;
  // While disabled, the system menu (the context menu on Linux) does not
  // open; enabled at the start.
  virtual void EnableSystemMenu(bool enable) = 0;
  // While `reason` is not empty (a job runs), the desktop's session end
  // (logoff, shutdown) is refused and the desktop shows the reason; an empty
  // reason lets the session end again. A toolkit with no session to hold
  // ignores it.
  virtual void HoldSessionEnd(const Text& reason) { (void)reason; }
  virtual void SetIcon(IconHandle icon, bool big) = 0;

  // --- messages and timers
  // A message box owned by this window, captioned with the application's
  // title, with an OK button. Returns IDOK.
  virtual int MessageBox(const Text& text, MbIcon icon) = 0;
  virtual void SetTimer(unsigned id, uint32_t periodMs) = 0;
  virtual void KillTimer(unsigned id) = 0;
  virtual void InvalidateRect(const Rect& rect, bool erase) = 0;
  // Paints the invalid region now, before returning.
  virtual void UpdateWindow() = 0;
  // Handles at most one waiting message (if any) and gives the toolkit its
  // idle processing; never waits. Returns true if a message was handled.
  virtual bool PumpWaitingMessage() = 0;
  // Repaints what is invalid and lets the toolkit answer the desktop (its
  // liveness ping, a close request), taking no user input; never waits.
  // Called again and again while a job waits for the device.
  virtual void KeepResponsive() = 0;
  // The system's file-open dialog, modal over this window. `filter` is in the
  // form "Text (*.ext)|*.ext|All Files (*.*)|*.*||". Empty when cancelled.
  virtual Text ChooseFile(const Text& filter) = 0;
  // Ends the modal run with `result`.
  virtual void EndDialog(int result) = 0;
  // What the toolkit does by default with a system command (move, size,
  // minimise, close ...).
  virtual void DefaultSysCommand(unsigned nID, long lParam) = 0;

  // --- painting; valid only inside CDialogEx::OnPaint
  virtual bool IsIconic() = 0;
  virtual int IconWidth() = 0;   // SM_CXICON
  virtual int IconHeight() = 0;  // SM_CYICON
  virtual Rect GetClientRect() = 0;
  virtual void IconEraseBackground() = 0;
  virtual void DrawIcon(int x, int y, IconHandle icon) = 0;
  // Fills `rect` with a solid brush of `brush` and outlines it with the
  // current pen (black, one pixel).
  virtual void Rectangle(const Rect& rect, ColorRef brush) = 0;
  virtual void DrawEdge(const Rect& rect, unsigned edge, unsigned flags) = 0;
};

// The toolkit: runs dialogs modally.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Builds the window from `tpl`, binds it to `dlg`, calls dlg.OnInitDialog()
  // and runs until the dialog ends; returns the end result. `owner` is the
  // dialog to be modal over, or null.
  virtual int RunModal(CDialogEx& dlg, const DialogTemplate& tpl, CDialogEx* owner) = 0;
  virtual IconHandle LoadIcon(int resourceId) = 0;
  // String resources (101: the About item).
  virtual Text LoadString(int resourceId) = 0;
};

}  // namespace quorvel
