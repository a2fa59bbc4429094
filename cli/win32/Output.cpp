// The program's standard output on Windows. In a console the texts go out
// as UTF-8 (the console's output code page is set to it for the run, and
// set back at the end), so that the Chinese messages show in cmd.exe and
// PowerShell; the bars are drawn where the console takes virtual-terminal
// sequences, plain lines otherwise. A reader that has gone (a closed pipe)
// is no error; any other write error is told once at the end.

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "base/win32/WideChars.h"
#include "cli/Flash.h"
#include "cli/JobHost.h"
#include "cli/win32/Console.h"

namespace quorvel::cli {

namespace {

int g_writeError = 0;         // the first errno of a failed write of standard output
UINT g_codePageBefore = 0;    // the console's output code page before the run; 0 when not changed
bool g_bars = false;          // standard output is a console that takes VT sequences

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

bool ReaderGone(int error) {
  if (error == EPIPE) return true;
  // A pipe's writes fail only when the reader has gone.
  return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE;
}

}  // namespace

std::string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = units > 0 ? ToUtf8(FromWide(buffer, units)) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

std::vector<std::string> ProgramArguments(int argc, char* argv[]) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(ToUtf8(FromWide(wide[i], wcslen(wide[i]))));
  LocalFree(wide);
  return args;
}

void StartOutput() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (IsConsole(out) || IsConsole(err)) {
    g_codePageBefore = GetConsoleOutputCP();
    if (g_codePageBefore == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) g_codePageBefore = 0;
  }
  if (IsConsole(out)) {
    DWORD mode = 0;
    GetConsoleMode(out, &mode);
    g_bars = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
             SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    // A character's bytes in one write: the console takes no UTF-8 split
    // between writes. Every line is flushed whole.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  }
}

bool OutputIsTerminal() { return g_bars; }

size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return static_cast<size_t>(columns);
  }
  return 80;
}

void FlushOutput() {
  if (std::fflush(stdout) != 0 && g_writeError == 0) g_writeError = errno != 0 ? errno : EIO;
}

int FinishOutput(int status) {
  FlushOutput();
  if (g_writeError == 0 && std::ferror(stdout) != 0) g_writeError = EIO;
  if (g_writeError != 0 && !ReaderGone(g_writeError)) {
    std::fprintf(stderr, "quorvel-flash: cannot write the output: %s\n", ErrnoText(g_writeError).c_str());
    if (status == 0) status = static_cast<int>(Outcome::Failed);
  }
  std::fflush(stderr);
  if (g_codePageBefore != 0) SetConsoleOutputCP(g_codePageBefore);
  ProgramEnded();
  return status;
}

}  // namespace quorvel::cli
