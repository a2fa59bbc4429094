// The jobs' host on POSIX systems: a process per port, whose events come
// back through a pipe, one line each. SIGHUP, SIGTERM and Ctrl+C reach the
// program's handler and, inherited, the jobs': a job so held starts no
// transfer and ends its waits; a second Ctrl+C stops the transfers between
// records (SIGUSR1 to the jobs). A job whose program is gone holds the same
// way.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/Flash.h"
#include "cli/JobHost.h"
#include "cli/posix/ProgramWatch.h"

namespace quorvel::cli {

namespace {

volatile sig_atomic_t g_held = 0;        // the first termination signal, 0 if none
volatile sig_atomic_t g_interrupts = 0;  // Ctrl+C so far (the program's own count)
volatile sig_atomic_t g_stop = 0;        // in a job: stop between records
int g_wakeWrite = -1;  // the program's own wake-up pipe; -1 inside a job
pid_t g_program = -1;  // in a job: the program that started it

void Wake() {
  if (g_wakeWrite >= 0) {
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = write(g_wakeWrite, "x", 1);
    errno = saved;
  }
}

// The program's and, inherited, its jobs' handler.
void OnStopSignal(int signo) {
  if (signo == SIGUSR1) {
    g_stop = 1;
    return;
  }
  if (g_held == 0) g_held = signo;
  if (signo == SIGINT) g_interrupts = g_interrupts + 1;
  Wake();
}

// A resized terminal: the bars are drawn again at its new width at once.
volatile sig_atomic_t g_resized = 0;

void OnResize(int) {
  g_resized = 1;
  Wake();
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR) continue;
    else return false;
  }
  return true;
}

// In the job's process: runs the task and reports through the pipe.
[[noreturn]] void RunJob(const std::string& port, const PortTask& task, int fd) {
  g_wakeWrite = -1;
  signal(SIGPIPE, SIG_IGN);
  HoldWhenProgramEnds(SIGTERM);
  // A program that died before that is seen here and before every step.
  const JobControl control{[] { return g_held != 0 || getppid() != g_program; },
                           [] { return g_stop != 0; }};
  const EventSink sink = [fd](const Event& event) { WriteAll(fd, EncodeEvent(event)); };
  const Outcome outcome = task(port, sink, control);
  close(fd);
  _exit(static_cast<int>(outcome));
}

class PosixJobHost final : public JobHost {
 public:
  ~PosixJobHost() override {
    g_wakeWrite = -1;
    for (const Process& p : m_jobs) {
      if (p.fd >= 0) close(p.fd);
    }
    if (m_wake[0] >= 0) close(m_wake[0]);
    if (m_wake[1] >= 0) close(m_wake[1]);
  }

  bool Open(std::string& error) override {
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      error = ErrnoText(errno);
      m_wake[0] = m_wake[1] = -1;
      return false;
    }
    g_wakeWrite = m_wake[1];
    g_program = getpid();
    return true;
  }

  // The job closes the program's own pipes: the wake-up pipe and the read
  // ends of the jobs before it.
  bool Start(size_t job, const std::string& port, const PortTask& task, std::string& error) override {
    if (m_jobs.size() <= job) m_jobs.resize(job + 1);
    Process& p = m_jobs[job];
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0 || (p.pid = fork()) < 0) {
      error = ErrnoText(errno);
      return false;
    }
    if (p.pid == 0) {
      close(fds[0]);
      close(m_wake[0]);
      close(m_wake[1]);
      for (const Process& other : m_jobs) {
        if (other.fd >= 0) close(other.fd);
      }
      RunJob(port, task, fds[1]);
    }
    close(fds[1]);
    p.fd = fds[0];
    return true;
  }

  bool Wait(int timeoutMs, std::vector<JobNews>& news) override {
    std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}};
    std::vector<size_t> owners{0};
    for (size_t i = 0; i < m_jobs.size(); ++i) {
      if (m_jobs[i].fd < 0) continue;
      fds.push_back({m_jobs[i].fd, POLLIN, 0});
      owners.push_back(i);
    }
    const int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready == 0) return true;
    if (ready < 0) return false;  // EINTR: the flags are looked at again
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(m_wake[0], drain, sizeof drain) > 0) {
      }
    }
    for (size_t k = 1; k < fds.size(); ++k) {
      if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      Process& p = m_jobs[owners[k]];
      char buf[4096];
      const ssize_t n = read(p.fd, buf, sizeof buf);
      if (n > 0) {
        JobNews lines;
        lines.job = owners[k];
        lines.data.assign(buf, static_cast<size_t>(n));
        news.push_back(std::move(lines));
      } else if (n == 0 || errno != EINTR) {
        close(p.fd);
        p.fd = -1;
        int raw = 0;
        while (waitpid(p.pid, &raw, 0) < 0 && errno == EINTR) {
        }
        JobNews end;
        end.job = owners[k];
        end.ended = true;
        end.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : static_cast<int>(Outcome::Failed);
        end.endedHow = WIFSIGNALED(raw) ? "the job was killed by signal " + std::to_string(WTERMSIG(raw))
                                        : "the job ended without a result";
        news.push_back(std::move(end));
      }
    }
    return false;
  }

  // The jobs of a terminal's Ctrl+C or hang-up have it already; a SIGTERM
  // reaches the program alone.
  void Hold(size_t job) override { Signal(job, SIGTERM); }
  void Stop(size_t job) override { Signal(job, SIGUSR1); }

  void WatchResize() override {
    struct sigaction sa{};
    sa.sa_handler = OnResize;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
  }

  bool TakeResized() override {
    if (g_resized == 0) return false;
    g_resized = 0;
    return true;
  }

 private:
  struct Process {
    pid_t pid = -1;
    int fd = -1;  // read end of the job's event pipe; -1 once it has ended
  };

  void Signal(size_t job, int signo) {
    if (job < m_jobs.size() && m_jobs[job].fd >= 0) kill(m_jobs[job].pid, signo);
  }

  int m_wake[2] = {-1, -1};
  std::vector<Process> m_jobs;
};

}  // namespace

std::unique_ptr<JobHost> MakeJobHost() { return std::make_unique<PosixJobHost>(); }

size_t TerminalColumns() {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

int InterruptCount() { return g_interrupts; }

bool OutputIsTerminal() {
  const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe): before any thread
  return isatty(STDOUT_FILENO) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

bool StopRequested() { return g_held != 0; }

int HeldExitStatus() {
  if (g_held == 0) return 0;
  // Transfers stopped by a second Ctrl+C end as Ctrl+C does.
  return 128 + (g_interrupts >= 2 ? SIGINT : g_held);
}

void InstallStopHandlers() {
  struct sigaction sa{};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: waits end early and look at the flag
  // A closed terminal or SSH session, a service stop and Ctrl+C: no device
  // is left half written by them. A signal ignored from the start (nohup)
  // stays ignored.
  for (const int signo : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
    struct sigaction before{};
    if (sigaction(signo, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signo, &sa, nullptr);
  }
}

}  // namespace quorvel::cli
