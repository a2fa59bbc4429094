// The program's standard output and its write errors on POSIX systems. A
// reader that has gone (a closed pipe, a hung-up terminal) is no error: the
// jobs run on and the program ends as it would have. Any other error (a
// full disk) is told once at the end, never while a transfer runs.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/Flash.h"

namespace quorvel::cli {

namespace {

int g_writeError = 0;  // the first errno of a failed write of standard output

bool ReaderGone(int error) {
  if (error == EPIPE) return true;
  struct stat st{};
  if (fstat(STDOUT_FILENO, &st) != 0) return false;
  // A pipe's or socket's writes fail only when the reader has gone; a
  // terminal's with EIO once it has hung up.
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return true;
  return error == EIO && S_ISCHR(st.st_mode);
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char* argv[]) { return {argv, argv + argc}; }

void StartOutput() { signal(SIGPIPE, SIG_IGN); }

void FlushOutput() {
  if (std::fflush(stdout) != 0 && g_writeError == 0) g_writeError = errno != 0 ? errno : EIO;
}

int FinishOutput(int status) {
  FlushOutput();
  if (g_writeError == 0 && std::ferror(stdout) != 0) g_writeError = EIO;
  if (g_writeError == 0 || ReaderGone(g_writeError)) return status;
  std::fprintf(stderr, "quorvel-flash: cannot write the output: %s\n", ErrnoText(g_writeError).c_str());
  return status == 0 ? static_cast<int>(Outcome::Failed) : status;
}

}  // namespace quorvel::cli
