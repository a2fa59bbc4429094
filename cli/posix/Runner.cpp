// Running one job per port at once on POSIX systems: a process per port, whose events come
// back through a pipe, one line each; the program shows them as one bar per
// port on a terminal, as lines tagged with the port otherwise, or as JSON.
// Ctrl+C and SIGTERM are passed on to every job, which stops between
// records and closes its port.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Flash.h"
#include "serial/PortLayer.h"

namespace quorvel::cli {

namespace {

volatile sig_atomic_t g_stop = 0;
int g_wakeWrite = -1;  // the program's own wake-up pipe; -1 inside a job

void OnStopSignal(int) {
  g_stop = 1;
  if (g_wakeWrite >= 0) {
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = write(g_wakeWrite, "x", 1);
    errno = saved;
  }
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

struct Job {
  std::string port;
  pid_t pid = -1;
  int fd = -1;  // read end of the job's event pipe; -1 once it has ended
  std::string pending;
  Event last;
  bool ended = false;  // a result came, or the process is gone
  int status = 0;
  uint64_t transferStartMs = 0;  // the first record's verdict
  uint64_t transferStartBytes = 0;
  uint64_t lastMs = 0;
  int printedTens = -1;   // lines mode: the last tens of percent printed
  std::string printed;    // lines mode: the last message printed
};

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take
// two (close enough for the program's own texts).
size_t ColumnsOf(const std::string& text, size_t limit, size_t* bytesWithin) {
  size_t columns = 0;
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    len = std::min(len, text.size() - i);
    uint32_t cp = c;
    if (len > 1) {
      cp = c & (0x3F >> (len - 1));
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    const size_t width = cp >= 0x1100 && (cp <= 0x115F || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                                           (cp >= 0xAC00 && cp <= 0xD7A3) ||
                                           (cp >= 0xF900 && cp <= 0xFAFF) ||
                                           (cp >= 0xFF00 && cp <= 0xFF60))
                             ? 2
                             : 1;
    if (columns + width > limit) break;
    columns += width;
    i += len;
  }
  if (bytesWithin != nullptr) *bytesWithin = i;
  return columns;
}

std::string RateText(const Job& job) {
  if (job.transferStartMs == 0 || job.lastMs <= job.transferStartMs) return {};
  const double perSecond = static_cast<double>(job.last.bytes - job.transferStartBytes) * 1000.0 /
                           static_cast<double>(job.lastMs - job.transferStartMs);
  char buf[32];
  if (perSecond >= 1000.0) std::snprintf(buf, sizeof buf, "%.1f kB/s", perSecond / 1000.0);
  else std::snprintf(buf, sizeof buf, "%.0f B/s", perSecond);
  return buf;
}

std::string BarLine(const Job& job, size_t tagWidth) {
  std::string line = job.port;
  line.resize(std::max(tagWidth, job.port.size()), ' ');
  line += "  ";
  const Event& e = job.last;
  if (e.progress >= 0) {
    constexpr int kBarWidth = 30;
    const int filled = e.progress * kBarWidth / 100;
    char pct[16];
    std::snprintf(pct, sizeof pct, "%3d%%", e.progress);
    line += '[';
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), '-');
    line += "] ";
    line += pct;
    const std::string rate = RateText(job);
    if (!rate.empty()) line += "  " + rate;
    if (!e.result.empty()) line += "  " + e.message;
  } else {
    line += e.message;
  }
  if (!e.version.empty() && !e.result.empty()) line += "  (version " + e.version + ")";
  return line;
}

class Display {
 public:
  Display(std::vector<Job>& jobs, OutputMode mode) : m_jobs(jobs), m_mode(mode) {
    for (const Job& job : jobs) m_tagWidth = std::max(m_tagWidth, job.port.size());
    winsize ws{};
    if (mode == OutputMode::Bars && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
      m_columns = ws.ws_col;
    }
  }

  void Show(Job& job) {
    switch (m_mode) {
      case OutputMode::Json:
        std::printf("%s\n", JsonLine(job.port, job.last).c_str());
        break;
      case OutputMode::Lines:
        ShowLine(job);
        break;
      case OutputMode::Bars:
        Redraw();
        break;
    }
    std::fflush(stdout);
  }

  void Redraw() {
    if (m_mode != OutputMode::Bars) return;
    std::string out;
    if (m_drawn > 0) out += "\x1b[" + std::to_string(m_drawn) + "A";
    for (const Job& job : m_jobs) {
      // A line that wraps would throw the cursor arithmetic off.
      std::string line = BarLine(job, m_tagWidth);
      size_t within = line.size();
      ColumnsOf(line, m_columns - 1, &within);
      line.resize(within);
      out += "\r\x1b[2K" + line + "\n";
    }
    m_drawn = static_cast<int>(m_jobs.size());
    std::fputs(out.c_str(), stdout);
  }

 private:
  void ShowLine(Job& job) {
    const Event& e = job.last;
    if (e.state == "transferring" && e.result.empty()) {
      const int tens = e.progress / 10;
      if (tens == job.printedTens) return;
      job.printedTens = tens;
    } else if (e.message == job.printed && e.result.empty()) {
      return;
    }
    job.printed = e.message;
    std::string line = job.port + ": " + e.message;
    if (!e.result.empty() && !e.version.empty()) line += " (version " + e.version + ")";
    std::printf("%s\n", line.c_str());
  }

  std::vector<Job>& m_jobs;
  const OutputMode m_mode;
  size_t m_tagWidth = 0;
  size_t m_columns = 80;
  int m_drawn = 0;
};

// In the job's process: runs the task and reports through the pipe.
[[noreturn]] void RunJob(const std::string& port, const PortTask& task, int fd) {
  g_wakeWrite = -1;
  signal(SIGPIPE, SIG_IGN);
  const EventSink sink = [fd](const Event& event) { WriteAll(fd, EncodeEvent(event)); };
  const Outcome outcome = task(port, sink, [] { return g_stop != 0; });
  close(fd);
  _exit(static_cast<int>(outcome));
}

void TakeEvents(Job& job, const char* data, size_t size, Display& display) {
  job.pending.append(data, size);
  size_t start = 0;
  for (size_t nl; (nl = job.pending.find('\n', start)) != std::string::npos; start = nl + 1) {
    Event event;
    if (!DecodeEvent(job.pending.substr(start, nl - start), event)) continue;
    // The version stays known once read.
    if (event.version.empty()) event.version = job.last.version;
    // The rate counts the transfer alone, up to its last record.
    if (event.state == "transferring") {
      job.lastMs = MonotonicMs();
      if (job.transferStartMs == 0) {
        job.transferStartMs = job.lastMs;
        job.transferStartBytes = event.bytes;
      }
    }
    job.last = event;
    if (!event.result.empty()) {
      job.ended = true;
      job.status = event.status;
    }
    display.Show(job);
  }
  job.pending.erase(0, start);
}

void Reap(Job& job, Display& display) {
  int raw = 0;
  while (waitpid(job.pid, &raw, 0) < 0 && errno == EINTR) {
  }
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : static_cast<int>(Outcome::Failed);
  if (!job.ended) {
    // The job ended without telling its result: it crashed or was killed.
    job.last.state = "done";
    job.last.result = OutcomeName(Outcome::Failed);
    job.last.status = static_cast<int>(Outcome::Failed);
    job.last.message = WIFSIGNALED(raw) ? std::string("the job was killed by signal ") +
                                              std::to_string(WTERMSIG(raw))
                                        : "the job ended without a result";
    job.ended = true;
    job.status = job.last.status;
    display.Show(job);
  } else {
    job.status = std::max(job.status, status);  // they agree unless the job crashed at its end
  }
}

void PrintSummary(const std::vector<Job>& jobs) {
  size_t tagWidth = 0;
  int succeeded = 0;
  for (const Job& job : jobs) {
    tagWidth = std::max(tagWidth, job.port.size());
    if (job.status == 0) ++succeeded;
  }
  std::printf("Summary: %d of %zu ports succeeded\n", succeeded, jobs.size());
  for (const Job& job : jobs) {
    std::string line = "  " + job.port;
    line.resize(tagWidth + 4, ' ');
    char result[32];
    std::snprintf(result, sizeof result, "%-12s %3d  ", job.last.result.c_str(), job.status);
    line += result + job.last.message;
    if (!job.last.version.empty()) line += " (version " + job.last.version + ")";
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace

bool OutputIsTerminal() {
  const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe): before any thread
  return isatty(STDOUT_FILENO) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

bool StopRequested() { return g_stop != 0; }

void InstallStopHandlers() {
  struct sigaction sa{};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: waits end early and look at the flag
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A closed terminal or SSH session stops the jobs between records like
  // Ctrl+C, and output to a reader that has gone fails instead of killing
  // the program mid-flash.
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int RunOnPorts(const std::vector<std::string>& ports, const PortTask& task, OutputMode mode) {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "quorvel-flash: cannot start the jobs: %s\n", ErrnoText(errno).c_str());
    return static_cast<int>(Outcome::Failed);
  }
  g_wakeWrite = wake[1];
  std::fflush(stdout);
  std::fflush(stderr);

  std::vector<Job> jobs(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    Job& job = jobs[i];
    job.port = ports[i];
    job.last.state = "opening";
    job.last.message = "Opening the port";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0 || (job.pid = fork()) < 0) {
      job.last = {"done", -1, 0, 0, "", OutcomeName(Outcome::Failed),
                  static_cast<int>(Outcome::Failed), std::string("cannot start the job: ") + ErrnoText(errno)};
      job.ended = true;
      job.status = static_cast<int>(Outcome::Failed);
      continue;
    }
    if (job.pid == 0) {
      close(fds[0]);
      close(wake[0]);
      close(wake[1]);
      for (size_t k = 0; k < i; ++k) {
        if (jobs[k].fd >= 0) close(jobs[k].fd);
      }
      RunJob(job.port, task, fds[1]);
    }
    close(fds[1]);
    job.fd = fds[0];
  }

  Display display(jobs, mode);
  display.Redraw();
  for (Job& job : jobs) {
    if (job.ended && mode != OutputMode::Bars) display.Show(job);
  }
  bool forwarded = false;
  for (;;) {
    std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
    std::vector<Job*> owners{nullptr};
    for (Job& job : jobs) {
      if (job.fd < 0) continue;
      fds.push_back({job.fd, POLLIN, 0});
      owners.push_back(&job);
    }
    if (fds.size() == 1) break;
    if (g_stop != 0 && !forwarded) {
      // The jobs of a terminal's Ctrl+C have it already; SIGTERM reaches
      // the program alone.
      for (const Job& job : jobs) {
        if (job.fd >= 0) kill(job.pid, SIGTERM);
      }
      forwarded = true;
    }
    if (poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR: look at the flag again
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wake[0], drain, sizeof drain) > 0) {
      }
    }
    for (size_t k = 1; k < fds.size(); ++k) {
      if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      Job& job = *owners[k];
      char buf[4096];
      const ssize_t n = read(job.fd, buf, sizeof buf);
      if (n > 0) {
        TakeEvents(job, buf, static_cast<size_t>(n), display);
      } else if (n == 0 || errno != EINTR) {
        close(job.fd);
        job.fd = -1;
        Reap(job, display);
      }
    }
  }
  g_wakeWrite = -1;
  close(wake[0]);
  close(wake[1]);

  int worst = 0;
  for (const Job& job : jobs) worst = std::max(worst, job.status);
  if (mode != OutputMode::Json && jobs.size() > 1) PrintSummary(jobs);
  std::fflush(stdout);
  return worst;
}

}  // namespace quorvel::cli
