// The program's Win32 window under Wine on a virtual display, driven the way
// a person drives it: by clicks (posted to the controls) from a thread of
// its own, looking only at what the window shows. The adapter is the
// simulated one on the pseudo-terminal that tools/windows.sh maps as a COM
// port, listed by a port list of the test's own with the adapter's USB
// identifiers. With QUORVEL_TEST_SCREENSHOTS set, each link state is saved
// there as a bitmap.

#include "ui/win32/WindowsHeaders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/TempDir.h"
#include "support/FakePortPlatform.h"
#include "support/TestEnvironment.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"
#include "ui/win32/Win32WindowSystem.h"

namespace quorvel {
namespace {

constexpr COLORREF kLampRed = 0x0000FF;
constexpr COLORREF kLampGreen = 0x00FF00;
// Upper bounds only: every wait ends as soon as its condition holds.
constexpr uint32_t kShowMs = 30000;
constexpr uint32_t kUpdateMs = 120000;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buf[512] = {};
  // WM_GETTEXT reaches controls of another thread, where GetWindowText would not.
  SendMessageW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf));
  return buf;
}

bool WaitUntil(const std::function<bool()>& condition, uint32_t limitMs) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

std::vector<HWND> DialogsOf(DWORD thread) {
  std::vector<HWND> found;
  EnumThreadWindows(
      thread,
      [](HWND hwnd, LPARAM param) -> BOOL {
        wchar_t cls[16] = {};
        GetClassNameW(hwnd, cls, 16);
        if (IsWindowVisible(hwnd) && std::wstring(cls) == L"#32770") {
          reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The person at the window, on a thread of its own. Records what it saw;
// the test thread checks it once the dialog has ended.
class Person {
 public:
  explicit Person(DWORD uiThread) : m_uiThread(uiThread) {}

  HWND main = nullptr;
  std::vector<std::wstring> boxes;  // texts of message boxes answered

  bool FindMain() {
    return WaitUntil(
        [&] {
          for (HWND d : DialogsOf(m_uiThread)) {
            if (GetDlgItem(d, IDC_USB_LAMP) != nullptr) main = d;
          }
          return main != nullptr;
        },
        kShowMs);
  }

  COLORREF Lamp(int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(main, id), &r);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
    HDC dc = GetDC(main);
    const COLORREF c = GetPixel(dc, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ReleaseDC(main, dc);
    return c;
  }

  bool LampsAre(COLORREF usb, COLORREF device) {
    return WaitUntil([&] { return Lamp(IDC_USB_LAMP) == usb && Lamp(IDC_DEVICE_LAMP) == device; },
                     kShowMs);
  }

  std::wstring Item(int id) { return WindowText(GetDlgItem(main, id)); }

  void Click(int id) { PostMessageW(GetDlgItem(main, id), BM_CLICK, 0, 0); }

  // Answers the file dialog with `file`; message boxes on the way get OK.
  bool ChooseFile(const std::wstring& file) {
    HWND chooser = nullptr;
    const bool shown = WaitUntil(
        [&] {
          for (HWND d : DialogsOf(m_uiThread)) {
            if (d != main && GetWindow(d, GW_OWNER) == main && GetDlgItem(d, 0x47C) != nullptr) {
              chooser = d;
            }
          }
          return chooser != nullptr;
        },
        kShowMs);
    if (!shown) return false;
    // The file name box (cmb13), then Open.
    SendMessageW(GetDlgItem(chooser, 0x47C), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
    PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    return true;
  }

  // Waits for the status field to read `text`, answering message boxes.
  bool StatusReads(const std::wstring& text, uint32_t limitMs) {
    return WaitUntil(
        [&] {
          AnswerBoxes();
          return Item(IDC_STATUS_EDIT) == text;
        },
        limitMs);
  }

  void AnswerBoxes() {
    for (HWND d : DialogsOf(m_uiThread)) {
      if (d == main || GetDlgItem(d, 0x47C) != nullptr) continue;
      std::wstring text;
      EnumChildWindows(
          d,
          [](HWND child, LPARAM param) -> BOOL {
            *reinterpret_cast<std::wstring*>(param) += WindowText(child) + L"|";
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&text));
      boxes.push_back(text);
      PostMessageW(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
  }

  // The whole window, frame included, as a bitmap file in the screenshot
  // folder when one is given.
  void Screenshot(const char* name) {
    const std::string dir = Env("QUORVEL_TEST_SCREENSHOTS");
    if (dir.empty() || main == nullptr) return;
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(200);
    RECT r{};
    GetWindowRect(main, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    HDC screen = GetWindowDC(main);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((w * 3 + 3) / 4) * 4;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * h;
    const std::string path = dir + "\\" + name + ".bmp";
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(out, &file, sizeof file, &written, nullptr);
      WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
      WriteFile(out, bits, stride * h, &written, nullptr);
      CloseHandle(out);
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(main, screen);
  }

  void Close() {
    if (main != nullptr) PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }

  // The desktop asks whether the session may end: true, false, or false
  // when the window did not answer in time.
  bool SessionMayEnd() {
    DWORD_PTR answer = FALSE;
    SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, kShowMs, &answer);
    return answer != FALSE;
  }

  // A popup menu of the window's thread is open.
  bool MenuOpen() {
    bool open = false;
    EnumThreadWindows(
        m_uiThread,
        [](HWND hwnd, LPARAM param) -> BOOL {
          wchar_t cls[16] = {};
          GetClassNameW(hwnd, cls, 16);
          if (IsWindowVisible(hwnd) && std::wstring(cls) == L"#32768") *reinterpret_cast<bool*>(param) = true;
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&open));
    return open;
  }

  // What a person does when a menu or a move holds the window: lets go of
  // the mouse and presses Escape, again and again, until the status field
  // reads `text`.
  void LetGoUntil(const std::wstring& text) {
    WaitUntil(
        [&] {
          PostMessageW(main, WM_RBUTTONUP, 0, 0);
          PostMessageW(main, WM_LBUTTONUP, 0, 0);
          PostMessageW(main, WM_KEYDOWN, VK_ESCAPE, 0);
          Sleep(200);
          return Item(IDC_STATUS_EDIT) == text;
        },
        kUpdateMs);
  }

 private:
  DWORD m_uiThread;
};

class WindowTest : public testing::Test {
 protected:
  // The adapter on COM port `port`, listed as a USB-to-serial adapter is.
  void ListAdapter(const std::string& port) {
    ports.ports.push_back(test::UsbPort(FromUtf8(port)));
  }

  // Runs the main dialog while `act` plays the person; returns the result.
  int Run(const std::function<void(Person&)>& act) {
    Environment env = testEnv.Make(dir.Path().string(), &ports);
    env.deviceDir = "\\\\.\\";
    win32::Win32WindowSystem windowSystem;
    CQuorvelDlg dlg(windowSystem, env);
    Person person(GetCurrentThreadId());
    std::thread actor([&] {
      if (person.FindMain()) act(person);
      person.Close();
    });
    const int result = dlg.DoModal();
    actor.join();
    boxes = person.boxes;
    return result;
  }

  test::FakePortPlatform ports;
  test::TestEnvironment testEnv;
  sim::TempDir dir;
  std::vector<std::wstring> boxes;
};

TEST_F(WindowTest, UpdatesTheDeviceBehindTheAdapter) {
  const std::string port = Env("QUORVEL_TEST_COM_PORT");
  const std::string sample = Env("QUORVEL_TEST_SAMPLE");
  if (port.empty() || sample.empty()) GTEST_SKIP() << "no simulated adapter mapped";
  ListAdapter(port);
  bool red = false, green = false, updated = false, chosen = false;
  std::wstring version, hint;
  Run([&](Person& p) {
    red = p.LampsAre(kLampRed, kLampRed);
    p.Screenshot("win-state0");
    p.Click(IDC_MODEL2_RADIO);
    green = p.LampsAre(kLampGreen, kLampGreen);
    WaitUntil([&] { return p.Item(IDC_VERSION_TEXT) == L"P1.05.12"; }, kShowMs);
    version = p.Item(IDC_VERSION_TEXT);
    hint = p.Item(IDC_HINT_TEXT);
    p.Screenshot("win-state2");
    p.Click(IDC_UPDATE);
    const Text file = FromUtf8(sample);
    chosen = p.ChooseFile(std::wstring(file.begin(), file.end()));
    updated = chosen && p.StatusReads(L"Updated successfully!", kUpdateMs);
    p.Screenshot("win-updated");
  });
  EXPECT_TRUE(red) << "both lamps pure red at start";
  EXPECT_TRUE(green) << "both lamps green once the device answers";
  EXPECT_EQ(version, L"P1.05.12");
  EXPECT_EQ(hint, L"You can update the software.");
  EXPECT_TRUE(chosen) << "the file dialog opened";
  EXPECT_TRUE(updated);
  EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : std::string(boxes[0].begin(), boxes[0].end()));
}

// During a job the window refuses the session's end, and nothing a person
// does to it opens a loop of its own that would hold the transfer up: a
// right click on the status field, a press of either button on the caption,
// the keyboard's move command. The job goes on to its end with no Escape
// pressed; then the session may end again.
TEST_F(WindowTest, DuringAJobHoldsTheSessionEndAndOpensNoLoop) {
  const std::string port = Env("QUORVEL_TEST_COM_PORT");
  const std::string sample = Env("QUORVEL_TEST_SAMPLE");
  if (port.empty() || sample.empty()) GTEST_SKIP() << "no simulated adapter mapped";
  ListAdapter(port);
  bool transferring = false, heldDuringJob = false, updated = false, menuOpened = false;
  bool mayEndAfterJob = false;
  Run([&](Person& p) {
    p.Click(IDC_MODEL2_RADIO);
    if (!p.LampsAre(kLampGreen, kLampGreen)) return;
    p.Click(IDC_UPDATE);
    const Text file = FromUtf8(sample);
    if (!p.ChooseFile(std::wstring(file.begin(), file.end()))) return;
    transferring = WaitUntil([&] { return p.Item(IDC_STATUS_EDIT).starts_with(L"Transferring"); }, kShowMs);
    if (!transferring) return;
    heldDuringJob = !p.SessionMayEnd();
    HWND status = GetDlgItem(p.main, IDC_STATUS_EDIT);
    RECT frame{};
    GetWindowRect(p.main, &frame);
    const LPARAM caption = MAKELPARAM(frame.left + 40, frame.top + 8);
    PostMessageW(status, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
    PostMessageW(status, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
    PostMessageW(p.main, WM_NCRBUTTONDOWN, HTCAPTION, caption);
    PostMessageW(p.main, WM_NCLBUTTONDOWN, HTCAPTION, caption);
    PostMessageW(p.main, WM_SYSCOMMAND, SC_MOVE, 0);
    updated = WaitUntil(
        [&] {
          menuOpened = menuOpened || p.MenuOpen();
          return p.Item(IDC_STATUS_EDIT) == L"Updated successfully!";
        },
        kUpdateMs);
    if (!updated) p.LetGoUntil(L"Updated successfully!");
    mayEndAfterJob = p.SessionMayEnd();
  });
  ASSERT_TRUE(transferring) << "the job started";
  EXPECT_TRUE(heldDuringJob) << "the session end was allowed during the job";
  EXPECT_TRUE(updated) << "the job was held up";
  EXPECT_FALSE(menuOpened);
  EXPECT_TRUE(mayEndAfterJob);
}

TEST_F(WindowTest, ShowsTheAdapterWithoutADevice) {
  const std::string port = Env("QUORVEL_TEST_SILENT_COM_PORT");
  if (port.empty()) GTEST_SKIP() << "no silent adapter mapped";
  ListAdapter(port);
  bool state1 = false;
  std::wstring hint, aboutItem;
  HWND about = nullptr;
  Run([&](Person& p) {
    p.Click(IDC_MODEL2_RADIO);
    state1 = p.LampsAre(kLampGreen, kLampRed);
    hint = p.Item(IDC_HINT_TEXT);
    p.Screenshot("win-state1");
    // The About item of the system menu opens the About box over the window.
    wchar_t item[64] = {};
    GetMenuStringW(GetSystemMenu(p.main, FALSE), IDM_ABOUTBOX, item, 64, MF_BYCOMMAND);
    aboutItem = item;
    PostMessageW(p.main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    WaitUntil([&] {
      for (HWND d : DialogsOf(GetWindowThreadProcessId(p.main, nullptr))) {
        if (GetWindow(d, GW_OWNER) == p.main && WindowText(d) == L"About Update Routine") about = d;
      }
      return about != nullptr;
    }, kShowMs);
    if (about != nullptr) PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitUntil([&] { return !IsWindow(about); }, kShowMs);
  });
  EXPECT_TRUE(state1) << "adapter lamp green, device lamp red";
  EXPECT_EQ(hint, L"Connect your Device to USB adaptor, Red signal change to Green.");
  EXPECT_EQ(aboutItem, L"About Update Routine(&A)...");
  EXPECT_NE(about, nullptr) << "the About box opened";
}

}  // namespace
}  // namespace quorvel
