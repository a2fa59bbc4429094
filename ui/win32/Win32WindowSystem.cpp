#include "ui/win32/WindowsHeaders.h"

#include <map>
#include <string>

#include "base/win32/WideChars.h"
#include "ui/DialogEx.h"
#include "ui/DialogTemplates.h"
#include "ui/FileFilter.h"
#include "ui/win32/Win32WindowSystem.h"

namespace quorvel::win32 {

namespace {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

HICON IconOf(IconHandle icon, bool big) {
  if (icon == 0) return nullptr;
  const int size = GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
  return static_cast<HICON>(
      LoadImageW(Instance(), MAKEINTRESOURCEW(icon), IMAGE_ICON, size, size, LR_SHARED));
}

RECT ToRect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
Rect FromRect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

// ---- the in-memory template

class TemplateWriter {
 public:
  void Word(uint16_t w) {
    bytes.push_back(static_cast<unsigned char>(w & 0xFF));
    bytes.push_back(static_cast<unsigned char>(w >> 8));
  }
  void Dword(uint32_t d) {
    Word(static_cast<uint16_t>(d & 0xFFFF));
    Word(static_cast<uint16_t>(d >> 16));
  }
  void String(const Text& text) {
    for (char16_t c : text) Word(c);
    Word(0);
  }
  void Ordinal(uint16_t value) {
    Word(0xFFFF);
    Word(value);
  }
  void AlignDword() {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
  }
  std::vector<unsigned char> bytes;
};

struct ControlClass {
  uint16_t atom;  // 0x80 Button, 0x81 Edit, 0x82 Static
  DWORD style;
};

ControlClass ClassOf(const ControlTemplate& c) {
  switch (c.kind) {
    case ControlKind::GroupBox: return {0x80, BS_GROUPBOX};
    case ControlKind::PushButton: return {0x80, BS_PUSHBUTTON};
    case ControlKind::DefPushButton: return {0x80, BS_DEFPUSHBUTTON};
    case ControlKind::AutoRadioButton: return {0x80, BS_AUTORADIOBUTTON};
    case ControlKind::Edit:
      return {0x81, static_cast<DWORD>(ES_LEFT | ((c.styles & kCentered) != 0 ? ES_CENTER : 0) |
                                       ((c.styles & kAutoHScroll) != 0 ? ES_AUTOHSCROLL : 0) |
                                       ((c.styles & kReadOnly) != 0 ? ES_READONLY : 0))};
    case ControlKind::StaticText:
      return {0x82, static_cast<DWORD>(SS_LEFT | ((c.styles & kNoPrefix) != 0 ? SS_NOPREFIX : 0))};
    case ControlKind::StaticBitmap: return {0x82, SS_BITMAP};
    case ControlKind::StaticIcon: return {0x82, SS_ICON};
    case ControlKind::OwnerDrawStatic: return {0x82, SS_OWNERDRAW};
  }
  return {0x82, SS_LEFT};
}

}  // namespace

std::vector<unsigned char> BuildDialogTemplate(const DialogTemplate& tpl) {
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
  style |= tpl.sizingFrame ? (WS_THICKFRAME | WS_MINIMIZEBOX) : DS_MODALFRAME;
  const DWORD exStyle = tpl.appWindow ? WS_EX_APPWINDOW : 0;

  TemplateWriter w;
  w.Word(1);       // dlgVer
  w.Word(0xFFFF);  // signature: the extended template
  w.Dword(0);      // helpID
  w.Dword(exStyle);
  w.Dword(style);
  w.Word(static_cast<uint16_t>(tpl.controls.size()));
  w.Word(0);
  w.Word(0);
  w.Word(static_cast<uint16_t>(tpl.w));
  w.Word(static_cast<uint16_t>(tpl.h));
  w.Word(0);  // no menu
  w.Word(0);  // the dialog class
  w.String(tpl.caption);
  w.Word(static_cast<uint16_t>(tpl.pointSize));
  w.Word(static_cast<uint16_t>(tpl.weight));
  w.bytes.push_back(0);  // not italic
  w.bytes.push_back(tpl.fontName == u"MS Shell Dlg" ? DEFAULT_CHARSET : ANSI_CHARSET);
  w.String(tpl.fontName);

  for (const ControlTemplate& c : tpl.controls) {
    w.AlignDword();
    const ControlClass cls = ClassOf(c);
    DWORD itemStyle = WS_CHILD | cls.style;
    // The lamps are only places: the dialog paints them itself.
    if (c.kind != ControlKind::OwnerDrawStatic) itemStyle |= WS_VISIBLE;
    if ((c.styles & kTabStop) != 0) itemStyle |= WS_TABSTOP;
    if ((c.styles & kGroup) != 0) itemStyle |= WS_GROUP;
    if ((c.styles & kBorder) != 0) itemStyle |= WS_BORDER;
    w.Dword(0);  // helpID
    w.Dword(0);  // exStyle
    w.Dword(itemStyle);
    w.Word(static_cast<uint16_t>(c.x));
    w.Word(static_cast<uint16_t>(c.y));
    w.Word(static_cast<uint16_t>(c.w));
    w.Word(static_cast<uint16_t>(c.h));
    w.Dword(static_cast<uint32_t>(c.id));
    w.Ordinal(cls.atom);
    if (c.kind == ControlKind::StaticBitmap || c.kind == ControlKind::StaticIcon) {
      w.Ordinal(static_cast<uint16_t>(c.resource));
    } else {
      w.String(c.text);
    }
    w.Word(0);  // no creation data
  }
  return w.bytes;
}

namespace {

// ---- one running dialog

class Win32DialogWindow final : public Window {
 public:
  explicit Win32DialogWindow(CDialogEx& dlg) : m_dlg(dlg) {}

  HWND Handle() const { return m_hwnd; }

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* self = reinterpret_cast<Win32DialogWindow*>(lParam);
      SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      self->m_hwnd = hwnd;
      EnumChildWindows(
          hwnd,
          [](HWND child, LPARAM window) -> BOOL {
            SetWindowSubclass(child, &Win32DialogWindow::ControlProc, 0, static_cast<DWORD_PTR>(window));
            return TRUE;
          },
          lParam);
      self->m_dlg.Attach(self);
      return self->m_dlg.OnInitDialog() ? TRUE : FALSE;
    }
    auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    return self->Handle(message, wParam, lParam);
  }

  // --- Window
  void SetWindowText(const Text& caption) override {
    ::SetWindowTextW(m_hwnd, ToWide(caption).c_str());
  }
  void SetDlgItemText(int id, const Text& text) override {
    ::SetDlgItemTextW(m_hwnd, id, ToWide(text).c_str());
  }
  void EnableDlgItem(int id, bool enable) override {
    if (HWND item = GetDlgItem(m_hwnd, id)) EnableWindow(item, enable ? TRUE : FALSE);
  }
  Rect GetDlgItemClientRect(int id) override {
    HWND item = GetDlgItem(m_hwnd, id);
    if (item == nullptr) return {};
    RECT r{};
    GetWindowRect(item, &r);
    MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&r), 2);
    return FromRect(r);
  }
  void AppendSystemMenuItem(unsigned commandId, const Text& text) override {
    HMENU menu = GetSystemMenu(m_hwnd, FALSE);
    if (menu == nullptr) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, commandId, ToWide(text).c_str());
  }
  void SetIcon(IconHandle icon, bool big) override {
    SendMessageW(m_hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(IconOf(icon, big)));
  }
  int MessageBox(const Text& text, MbIcon icon) override {
    // Without a caption of its own a message box shows the program's title:
    // the caption of its main window.
    HWND main = GetAncestor(m_hwnd, GA_ROOTOWNER);
    wchar_t title[256] = {};
    GetWindowTextW(main != nullptr ? main : m_hwnd, title, 256);
    const UINT type = MB_OK | (icon == MbIcon::Stop ? MB_ICONHAND : 0);
    MessageBoxW(m_hwnd, ToWide(text).c_str(), title, type);
    return quorvel::IDOK;
  }
  void SetTimer(unsigned id, uint32_t periodMs) override { ::SetTimer(m_hwnd, id, periodMs, nullptr); }
  void KillTimer(unsigned id) override { ::KillTimer(m_hwnd, id); }
  void InvalidateRect(const Rect& rect, bool erase) override {
    const RECT r = ToRect(rect);
    ::InvalidateRect(m_hwnd, &r, erase ? TRUE : FALSE);
  }
  void UpdateWindow() override { ::UpdateWindow(m_hwnd); }
  bool PumpWaitingMessage() override {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
      // Not ours to take: the loop that waits for it gets it again.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return true;
    }
    if (!m_modalLoopsAllowed && IsFrameButton(msg)) return true;
    if (!IsDialogMessageW(m_hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return true;
  }
  void KeepResponsive() override {
    // Paints and messages sent by other threads and the system only: input
    // stays queued for the job's own pump. Any retrieval of messages is what
    // the desktop takes as a sign of life. Bounded, so a paint that does not
    // validate cannot keep the job here.
    MSG msg;
    for (int i = 0; i < 64; ++i) {
      if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) break;
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      DispatchMessageW(&msg);
    }
  }
  void EnableSystemMenu(bool enable) override {
    m_modalLoopsAllowed = enable;
    // The items gray out as well, for a menu that is open already.
    HMENU menu = GetSystemMenu(m_hwnd, FALSE);
    if (menu != nullptr) {
      const int count = GetMenuItemCount(menu);
      for (int i = 0; i < count; ++i) {
        EnableMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | (enable ? MF_ENABLED : MF_GRAYED));
      }
    }
  }
  void HoldSessionEnd(const Text& reason) override {
    m_sessionEndHeld = !reason.empty();
    // The reason is what the desktop shows beside the program when it asks
    // to end the session; the refusal itself is the answer to
    // WM_QUERYENDSESSION.
    if (m_sessionEndHeld) ShutdownBlockReasonCreate(m_hwnd, ToWide(reason).c_str());
    else ShutdownBlockReasonDestroy(m_hwnd);
  }
  Text ChooseFile(const Text& filter) override {
    // Each choice as its text and its patterns, each ended by a NUL; one
    // more NUL ends the list.
    std::wstring parts;
    for (const FileFilter& choice : ParseFileFilter(filter)) {
      parts += ToWide(choice.description) + L'\0';
      for (size_t i = 0; i < choice.patterns.size(); ++i) {
        parts += (i == 0 ? L"" : L";") + ToWide(choice.patterns[i]);
      }
      parts += L'\0';
    }
    parts += L'\0';
    std::wstring file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hwnd;
    ofn.lpstrFilter = parts.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST |
                OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return {};
    return FromWideBuffer(file.data(), file.size());
  }
  void EndDialog(int result) override { ::EndDialog(m_hwnd, result); }
  void DefaultSysCommand(unsigned nID, long lParam) override {
    DefWindowProcW(m_hwnd, WM_SYSCOMMAND, nID, lParam);
  }
  bool IsIconic() override { return ::IsIconic(m_hwnd) != FALSE; }
  int IconWidth() override { return GetSystemMetrics(SM_CXICON); }
  int IconHeight() override { return GetSystemMetrics(SM_CYICON); }
  Rect GetClientRect() override {
    RECT r{};
    ::GetClientRect(m_hwnd, &r);
    return FromRect(r);
  }
  void IconEraseBackground() override {
    if (m_dc != nullptr) SendMessageW(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(m_dc), 0);
  }
  void DrawIcon(int x, int y, IconHandle icon) override {
    if (m_dc != nullptr) ::DrawIcon(m_dc, x, y, IconOf(icon, true));
  }
  void Rectangle(const Rect& rect, ColorRef brush) override {
    if (m_dc == nullptr) return;
    // COLORREF has the same layout: red in the lowest byte.
    HBRUSH fill = CreateSolidBrush(static_cast<COLORREF>(brush));
    HGDIOBJ old = SelectObject(m_dc, fill);
    ::Rectangle(m_dc, rect.left, rect.top, rect.right, rect.bottom);
    SelectObject(m_dc, old);
    DeleteObject(fill);
  }
  void DrawEdge(const Rect& rect, unsigned edge, unsigned flags) override {
    if (m_dc == nullptr) return;
    RECT r = ToRect(rect);
    ::DrawEdge(m_dc, &r, edge, flags);
  }

 private:
  // The controls' own context menus (the edit field's) run a loop of their
  // own; during a job none opens, whoever asks for it.
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR window) {
    if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &Win32DialogWindow::ControlProc, id);
    if (message == WM_CONTEXTMENU && !reinterpret_cast<Win32DialogWindow*>(window)->m_modalLoopsAllowed) {
      return 0;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }

  // A press on the window's frame: the system tracks a box of the caption,
  // or the right button on the caption, in a loop of its own until the mouse
  // is let go. During a job the frame's boxes are greyed with the system
  // menu's items, and such presses are not dispatched at all.
  static bool IsFrameButton(const MSG& msg) {
    switch (msg.message) {
      case WM_NCLBUTTONDOWN:
      case WM_NCLBUTTONUP:
      case WM_NCLBUTTONDBLCLK:
      case WM_NCRBUTTONDOWN:
      case WM_NCRBUTTONUP:
      case WM_NCRBUTTONDBLCLK:
      case WM_NCMBUTTONDOWN:
      case WM_NCMBUTTONUP:
      case WM_NCMBUTTONDBLCLK:
      case WM_NCXBUTTONDOWN:
      case WM_NCXBUTTONUP:
      case WM_NCXBUTTONDBLCLK: return true;
      default: return false;
    }
  }

  // System commands that run a loop of their own until the person ends it:
  // the system menu, moving and sizing the window.
  static bool StartsModalLoop(WPARAM command) {
    switch (command & 0xFFF0) {
      case SC_KEYMENU:
      case SC_MOUSEMENU:
      case SC_MOVE:
      case SC_SIZE: return true;
      default: return false;
    }
  }

  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_COMMAND:
        // Clicks, and OK / Cancel from the keyboard and the close box.
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        m_dlg.OnCommand(LOWORD(wParam));
        return TRUE;
      case WM_CONTEXTMENU:
        // The system menu's own loop would hold a job up while it is open.
        return m_modalLoopsAllowed ? FALSE : TRUE;
      case WM_QUERYENDSESSION:
        // A logoff or shutdown during a job would cut the transfer short.
        if (!m_sessionEndHeld) return FALSE;
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, FALSE);
        return TRUE;
      case WM_SYSCOMMAND:
        if (!m_modalLoopsAllowed && StartsModalLoop(wParam)) {
          SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
          return TRUE;
        }
        m_dlg.OnSysCommand(static_cast<unsigned>(wParam), static_cast<long>(lParam));
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      case WM_TIMER:
        m_dlg.OnTimer(static_cast<uintptr_t>(wParam));
        return TRUE;
      case WM_PAINT: {
        PAINTSTRUCT ps;
        m_dc = BeginPaint(m_hwnd, &ps);
        m_dlg.OnPaint();
        EndPaint(m_hwnd, &ps);
        m_dc = nullptr;
        return TRUE;
      }
      case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(IconOf(m_dlg.OnQueryDragIcon(), true));
      default:
        return FALSE;
    }
  }

  CDialogEx& m_dlg;
  HWND m_hwnd = nullptr;
  // The paint in progress; null outside WM_PAINT.
  HDC m_dc = nullptr;
  // False during an update job: nothing that runs a loop of its own (a menu,
  // moving or sizing the window) starts, so the job's pump goes on.
  bool m_modalLoopsAllowed = true;
  // True during an update job: the session end is refused.
  bool m_sessionEndHeld = false;
};

}  // namespace

Win32WindowSystem::Win32WindowSystem() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
}

int Win32WindowSystem::RunModal(CDialogEx& dlg, const DialogTemplate& tpl, CDialogEx* owner) {
  HWND ownerWindow = nullptr;
  if (owner != nullptr) {
    if (auto* w = dynamic_cast<Win32DialogWindow*>(owner->GetWindow())) ownerWindow = w->Handle();
  }
  const std::vector<unsigned char> bytes = BuildDialogTemplate(tpl);
  // The template must be DWORD-aligned.
  std::vector<DWORD> aligned((bytes.size() + 3) / 4);
  std::copy(bytes.begin(), bytes.end(), reinterpret_cast<unsigned char*>(aligned.data()));
  Win32DialogWindow window(dlg);
  const INT_PTR result = DialogBoxIndirectParamW(
      Instance(), reinterpret_cast<const DLGTEMPLATE*>(aligned.data()), ownerWindow,
      &Win32DialogWindow::DialogProc, reinterpret_cast<LPARAM>(&window));
  dlg.Attach(nullptr);
  return static_cast<int>(result);
}

IconHandle Win32WindowSystem::LoadIcon(int resourceId) {
  return IconOf(resourceId, true) != nullptr ? resourceId : 0;
}

Text Win32WindowSystem::LoadString(int resourceId) {
  const wchar_t* text = nullptr;
  // With a zero length the call hands out the resource's own read-only text.
  const int length = LoadStringW(Instance(), static_cast<UINT>(resourceId),
                                 reinterpret_cast<wchar_t*>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return FromWide(text, static_cast<size_t>(length));
}

}  // namespace quorvel::win32
