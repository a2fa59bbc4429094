// Running one job per port at once on POSIX systems: a process per port, whose events come
// back through a pipe, one line each; the program shows them as one bar per
// port on a terminal, as lines tagged with the port otherwise, or as JSON.
// SIGHUP, SIGTERM and a first Ctrl+C are held: every job hears it, starts
// no transfer and ends its waits, while a transfer under way runs to its
// end; a second Ctrl+C stops the transfers between records (SIGUSR1 to the
// jobs). A job whose program is gone holds the same way.

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
#include <filesystem>

#include "cli/Flash.h"
#include "cli/Station.h"
#include "cli/posix/ProgramWatch.h"
#include "serial/PortLayer.h"

namespace quorvel::cli {

namespace {

volatile sig_atomic_t g_held = 0;        // the first termination signal, 0 if none
volatile sig_atomic_t g_interrupts = 0;  // Ctrl+C so far (the program's own count)
volatile sig_atomic_t g_stop = 0;        // in a job: stop between records
int g_wakeWrite = -1;  // the program's own wake-up pipe; -1 inside a job
pid_t g_program = -1;  // in a job: the program that started it

// The program's and, inherited, its jobs' handler.
void OnStopSignal(int signo) {
  if (signo == SIGUSR1) {
    g_stop = 1;
    return;
  }
  if (g_held == 0) g_held = signo;
  if (signo == SIGINT) g_interrupts = g_interrupts + 1;
  if (g_wakeWrite >= 0) {
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = write(g_wakeWrite, "x", 1);
    errno = saved;
  }
}

// A resized terminal: the bars are drawn again at its new width at once.
volatile sig_atomic_t g_resized = 0;

void OnResize(int) {
  g_resized = 1;
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

std::string RateText(const Job& job) {
  if (job.transferStartMs == 0 || job.lastMs <= job.transferStartMs) return {};
  const double perSecond = static_cast<double>(job.last.bytes - job.transferStartBytes) * 1000.0 /
                           static_cast<double>(job.lastMs - job.transferStartMs);
  char buf[32];
  if (perSecond >= 1000.0) std::snprintf(buf, sizeof buf, "%.1f kB/s", perSecond / 1000.0);
  else std::snprintf(buf, sizeof buf, "%.0f B/s", perSecond);
  return buf;
}

BarView ViewOf(const Job& job) {
  BarView view;
  view.port = job.port;
  view.progress = job.last.progress;
  view.rate = RateText(job);
  view.message = job.last.message;
  view.version = job.last.version;
  view.ended = !job.last.result.empty();
  return view;
}

// The terminal's width now: the window may be resized at any time.
size_t TerminalColumns() {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

class Display {
 public:
  Display(std::vector<Job>& jobs, OutputMode mode) : m_jobs(jobs), m_mode(mode) {
    for (const Job& job : jobs) m_tagWidth = std::max(m_tagWidth, TextColumns(job.port));
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
    FlushOutput();
  }

  // Lines were written below the bars: they are drawn again after them.
  void Restart() {
    m_drawnColumns.clear();
    Redraw();
    FlushOutput();
  }

  void Redraw() {
    if (m_mode != OutputMode::Bars) return;
    // The width is read at every redraw. A window made narrower has
    // reflowed the lines drawn before onto more rows, so the cursor goes up
    // by the rows they take now; what a reflow left below is cleared.
    const size_t columns = TerminalColumns();
    size_t rows = 0;
    for (const size_t drawn : m_drawnColumns) rows += std::max<size_t>(1, (drawn + columns - 1) / columns);
    std::string out;
    if (rows > 0) out += "\r\x1b[" + std::to_string(rows) + "A";
    m_drawnColumns.clear();
    for (const Job& job : m_jobs) {
      // The last column is left free: some terminals wrap on reaching it.
      const std::string line = FitBarLine(ViewOf(job), m_tagWidth, columns - 1);
      m_drawnColumns.push_back(TextColumns(line));
      out += "\r\x1b[2K" + line + "\n";
    }
    out += "\x1b[J";
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
  std::vector<size_t> m_drawnColumns;  // of each line drawn last
};

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

// Starts the job of `job.port` in a process of its own; a job that cannot
// start has ended with its reason. The job closes the program's own pipes:
// the wake-up pipe and `others`, the read ends of the jobs before it.
void StartJob(Job& job, const PortTask& task, const int wake[2], const std::vector<int>& others) {
  job.last.state = "opening";
  job.last.message = "Opening the port";
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0 || (job.pid = fork()) < 0) {
    job.last = {"done", -1, 0, 0, "", OutcomeName(Outcome::Failed),
                static_cast<int>(Outcome::Failed), std::string("cannot start the job: ") + ErrnoText(errno)};
    job.ended = true;
    job.status = static_cast<int>(Outcome::Failed);
    return;
  }
  if (job.pid == 0) {
    close(fds[0]);
    close(wake[0]);
    close(wake[1]);
    for (const int fd : others) close(fd);
    RunJob(job.port, task, fds[1]);
  }
  close(fds[1]);
  job.fd = fds[0];
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

// "14 s", "3 min": a duration for the user, rounded up.
std::string DurationText(uint64_t ms) {
  const uint64_t s = (ms + 999u) / 1000u;
  if (s < 120u) return std::to_string(s) + " s";
  return std::to_string((s + 59u) / 60u) + " min";
}

// A record has been confirmed: a hold lets the transfer run to its end.
// (One held during the handshake sends nothing.)
bool InTransfer(const Job& job) { return !job.ended && job.last.state == "transferring"; }

// The first Ctrl+C while transfers are under way: once, how long finishing
// them takes and what a second Ctrl+C does.
void SayFinishing(const std::vector<Job>& jobs, const RemainingTime& remaining) {
  TransferTime longest;
  for (const Job& job : jobs) {
    if (!InTransfer(job) || !remaining) continue;
    const TransferTime t = remaining(job.last.bytes);
    longest.typicalMs = std::max(longest.typicalMs, t.typicalMs);
    longest.maxMs = std::max(longest.maxMs, t.maxMs);
  }
  std::string when;
  if (remaining) {
    when = " (about " + DurationText(longest.typicalMs) + ", at most " + DurationText(longest.maxMs) +
           " if the devices answer slowly)";
  }
  std::fprintf(stderr,
               "\nquorvel-flash: finishing the transfers in progress%s.\n"
               "Press Ctrl+C again to stop them between records; that leaves those devices "
               "without a complete image.\n",
               when.c_str());
}

}  // namespace

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

void SayWaiting(OutputMode mode, const std::string& message) {
  if (mode == OutputMode::Json) {
    Event e;
    e.state = "waiting";
    e.message = message;
    std::printf("%s\n", JsonLine("", e).c_str());
  } else {
    std::printf("%s\n", message.c_str());
  }
  FlushOutput();
}

int RunOnPorts(const std::vector<std::string>& ports, const PortTask& task, OutputMode mode,
               const RemainingTime& remaining) {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    const std::string message = "cannot start the jobs: " + ErrnoText(errno);
    std::fprintf(stderr, "quorvel-flash: %s\n", message.c_str());
    if (mode == OutputMode::Json) std::printf("%s\n", ResultLine("", Outcome::Failed, message).c_str());
    return static_cast<int>(Outcome::Failed);
  }
  g_wakeWrite = wake[1];
  g_program = getpid();
  FlushOutput();
  std::fflush(stderr);

  std::vector<Job> jobs(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    jobs[i].port = ports[i];
    std::vector<int> others;
    for (size_t k = 0; k < i; ++k) {
      if (jobs[k].fd >= 0) others.push_back(jobs[k].fd);
    }
    StartJob(jobs[i], task, wake, others);
  }

  Display display(jobs, mode);
  if (mode == OutputMode::Bars) {
    struct sigaction sa{};
    sa.sa_handler = OnResize;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
  }
  display.Redraw();
  for (Job& job : jobs) {
    if (job.ended && mode != OutputMode::Bars) display.Show(job);
  }
  bool forwarded = false;
  bool stopped = false;
  bool saidFinishing = false;
  for (;;) {
    std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
    std::vector<Job*> owners{nullptr};
    for (Job& job : jobs) {
      if (job.fd < 0) continue;
      fds.push_back({job.fd, POLLIN, 0});
      owners.push_back(&job);
    }
    if (fds.size() == 1) break;
    if (g_held != 0 && !forwarded) {
      // The jobs of a terminal's Ctrl+C or hang-up have it already; a
      // SIGTERM reaches the program alone.
      for (const Job& job : jobs) {
        if (job.fd >= 0) kill(job.pid, SIGTERM);
      }
      forwarded = true;
    }
    if (g_interrupts >= 2 && !stopped) {
      for (const Job& job : jobs) {
        if (job.fd >= 0) kill(job.pid, SIGUSR1);
      }
      stopped = true;
    }
    // Told also when a transfer is seen under way only after the Ctrl+C.
    if (g_interrupts == 1 && !saidFinishing &&
        std::any_of(jobs.begin(), jobs.end(), InTransfer)) {
      SayFinishing(jobs, remaining);
      display.Restart();
      saidFinishing = true;
    }
    if (poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR: look at the flag again
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wake[0], drain, sizeof drain) > 0) {
      }
    }
    if (g_resized != 0) {
      g_resized = 0;
      display.Redraw();
      std::fflush(stdout);
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
  // Under bars always: a bar may be too narrow for its whole result.
  if (mode == OutputMode::Bars || (mode == OutputMode::Lines && jobs.size() > 1)) PrintSummary(jobs);
  FlushOutput();
  if (g_held != 0) return HeldExitStatus();
  return worst;
}

namespace {

// A station's slot: the job on its port, and the devices it has seen.
struct Slot {
  Job job;
  bool named = false;
  std::string serial;         // the adapter's USB serial number
  int device = 0;             // devices that answered so far, from 1
  std::string versionBefore;  // the device's, before its update
  uint64_t startMs = 0;       // its update's start
  int passed = 0;
  int failed = 0;
  bool live = true;           // its process runs
  bool told = false;          // its end came as an "ended" event
  std::string lastResult;     // "PASS ..." or "FAIL ...", shown until the next device
  int printedTens = -1;
};

std::string SameFile(const std::string& path) {
  std::error_code ec;
  const std::string real = std::filesystem::weakly_canonical(path, ec).string();
  return ec ? path : real;
}

// The USB serial number of the adapter behind `port`, empty when not known.
std::string SerialOf(const std::vector<ListedPort>& listed, const std::string& port) {
  const std::string key = SameFile(port);
  for (const ListedPort& p : listed) {
    if (p.devicePath == port || SameFile(p.devicePath) == key) return p.serial;
  }
  return {};
}

std::string ClockText(uint64_t ms) {
  const uint64_t s = ms / 1000u;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600u),
                static_cast<unsigned long long>(s / 60u % 60u), static_cast<unsigned long long>(s % 60u));
  return buf;
}

// What a slot's line says of its state.
std::string SlotState(const Slot& slot) {
  const Event& e = slot.job.last;
  if (e.state == "transferring") return "flashing " + std::to_string(std::max(e.progress, 0)) + "%";
  if (e.state == "ready" || e.state == "handshake") return "device " + slot.versionBefore;
  if (e.state == "done") return slot.lastResult;
  if (e.state == "remove") return slot.lastResult + " - remove the device";
  if (e.state == "waiting") return "waiting for a device";
  if (e.state == "ended" && !slot.lastResult.empty()) return slot.lastResult + " - stopped";
  return e.message;
}

// PASS and FAIL stand out from a step back: bold on green or red.
std::string Coloured(const std::string& line) {
  for (const char* word : {"PASS", "FAIL"}) {
    const auto at = line.find(std::string(" ") + word + " ");
    if (at == std::string::npos) continue;
    const char* colour = word[0] == 'P' ? "\x1b[1;97;42m" : "\x1b[1;97;41m";
    return line.substr(0, at + 1) + colour + word + "\x1b[0m" + line.substr(at + 5);
  }
  return line;
}

class StationView {
 public:
  StationView(std::vector<Slot>& slots, OutputMode mode, uint64_t startMs)
      : m_slots(slots), m_mode(mode), m_startMs(startMs) {}

  // An event of `slot` has come: a line of its own, or a redraw soon.
  void Show(Slot& slot) {
    const Event& e = slot.job.last;
    if (m_mode == OutputMode::Bars) {
      m_dirty = true;
      return;
    }
    if (!slot.live) return;  // its end came as an event, or on standard error
    if (m_mode == OutputMode::Json) {
      // Waiting is for the slot's next device.
      std::printf("%s\n", JsonLine(slot.job.port, e, std::max(1, slot.device + (e.state == "waiting" ? 1 : 0))).c_str());
    } else {
      if (e.state == "transferring") {
        if (e.progress / 10 == slot.printedTens) return;
        slot.printedTens = e.progress / 10;
      } else {
        slot.printedTens = -1;
      }
      std::string line = slot.job.port + (slot.device > 0 ? " #" + std::to_string(slot.device) : "") + ": ";
      if (e.state == "done") line += slot.lastResult;
      else if (e.state == "ready") line += "device found, version " + slot.versionBefore;
      else line += e.message;
      std::printf("%s\n", line.c_str());
    }
    FlushOutput();
  }

  void Say(const std::string& message) {
    if (m_mode == OutputMode::Bars) {
      m_note = message;
      m_dirty = true;
    } else {
      SayWaiting(m_mode, message);
    }
  }

  // Bars: draws the slots and the totals again when something changed or
  // `due` (the clock moved on), at most every kDrawPeriodMs.
  void Draw(bool due) {
    if (m_mode != OutputMode::Bars || !(m_dirty || due)) return;
    const uint64_t now = MonotonicMs();
    if (now - m_drawnMs < kDrawPeriodMs && !due) return;
    m_drawnMs = now;
    m_dirty = false;
    const size_t columns = TerminalColumns() - 1;
    size_t rows = 0;
    for (const size_t drawn : m_drawnColumns) rows += std::max<size_t>(1, (drawn + columns) / (columns + 1));
    std::string out;
    if (rows > 0) out += "\r\x1b[" + std::to_string(rows) + "A";
    m_drawnColumns.clear();
    size_t portWidth = 0, serialWidth = 0;
    int passed = 0, failed = 0;
    for (const Slot& slot : m_slots) {
      portWidth = std::max(portWidth, TextColumns(slot.job.port));
      serialWidth = std::max(serialWidth, TextColumns(slot.serial));
      passed += slot.passed;
      failed += slot.failed;
    }
    portWidth = std::min(portWidth, columns / 3);
    const auto pad = [](std::string text, size_t width) {
      text = ShortenMiddle(text, width);
      return text + std::string(width - std::min(width, TextColumns(text)), ' ');
    };
    const auto put = [&](const std::string& line) {
      const std::string fitted = ShortenMiddle(line, columns);
      m_drawnColumns.push_back(TextColumns(fitted));
      out += "\r\x1b[2K" + Coloured(fitted) + "\n";
    };
    for (size_t i = 0; i < m_slots.size(); ++i) {
      const Slot& slot = m_slots[i];
      // An ended slot stays on show until its port has a slot again.
      const bool replaced = std::any_of(m_slots.begin() + static_cast<ptrdiff_t>(i) + 1, m_slots.end(),
                                        [&](const Slot& later) { return later.job.port == slot.job.port; });
      if (!slot.live && replaced) continue;
      const std::string counts = "  pass " + std::to_string(slot.passed) + " fail " + std::to_string(slot.failed);
      std::string head = pad(slot.job.port, portWidth) + "  " + pad(slot.serial, serialWidth) + "  ";
      const size_t used = TextColumns(head) + TextColumns(counts);
      const size_t room = columns > used ? columns - used : 1;
      put(head + pad(SlotState(slot), room) + counts);
    }
    const uint64_t elapsed = now - m_startMs;
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", elapsed > 0 ? passed * 3600000.0 / static_cast<double>(elapsed) : 0.0);
    std::string totals = "Total: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
                         " failed, " + rate + " devices/h, " + ClockText(elapsed);
    if (!m_note.empty()) totals += "  " + m_note;
    put(totals);
    out += "\x1b[J";
    std::fputs(out.c_str(), stdout);
    FlushOutput();
  }
  void ClearNote() {
    if (!m_note.empty()) m_dirty = true;
    m_note.clear();
  }
  // Lines were written below: the slots are drawn after them.
  void Restart() {
    m_drawnColumns.clear();
    Draw(true);
  }

 private:
  static constexpr uint64_t kDrawPeriodMs = 250;
  std::vector<Slot>& m_slots;
  const OutputMode m_mode;
  const uint64_t m_startMs;
  uint64_t m_drawnMs = 0;
  bool m_dirty = true;
  std::string m_note;
  std::vector<size_t> m_drawnColumns;
};

constexpr uint64_t kRelistPeriodMs = 1000;  // --all: adapters plugged in get a slot within this

}  // namespace

int RunStation(const StationSetup& setup) {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "quorvel-flash: cannot start the slots: %s\n", ErrnoText(errno).c_str());
    return static_cast<int>(Outcome::Failed);
  }
  g_wakeWrite = wake[1];
  g_program = getpid();
  FlushOutput();
  std::fflush(stderr);
  const uint64_t startMs = MonotonicMs();

  std::vector<Slot> slots;
  slots.reserve(256);
  StationView view(slots, setup.mode, startMs);
  if (setup.mode == OutputMode::Bars) {
    struct sigaction sa{};
    sa.sa_handler = OnResize;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
  }

  bool holding = false;  // no device starts any more
  bool countReached = false;
  bool logFailed = false;
  bool stopped = false;
  bool saidFinishing = false;
  bool saidNoAdapter = false;
  uint64_t passedTotal = 0;
  uint64_t listedMs = 0;

  const auto holdAll = [&] {
    holding = true;
    for (const Slot& slot : slots) {
      if (slot.live) kill(slot.job.pid, SIGTERM);
    }
  };
  const auto startSlot = [&](const std::string& port, bool named, const std::vector<ListedPort>& listed) {
    std::vector<int> others;
    for (const Slot& slot : slots) {
      if (slot.job.fd >= 0) others.push_back(slot.job.fd);
    }
    Slot& slot = slots.emplace_back();
    slot.named = named;
    slot.job.port = port;
    slot.serial = SerialOf(listed, port);
    StartJob(slot.job, named ? setup.namedTask : setup.foundTask, wake, others);
    if (slot.job.ended) {
      std::fprintf(stderr, "quorvel-flash: %s: %s\n", port.c_str(), slot.job.last.message.c_str());
      slot.live = false;
    }
  };
  // A device's update has ended: into the log first, then on show.
  const auto deviceEnded = [&](Slot& slot) {
    const Event& e = slot.job.last;
    const bool passed = e.result == OutcomeName(Outcome::Success);
    LogRecord record = setup.base;
    record.time = UtcTimestamp();
    record.port = slot.job.port;
    record.adapterSerial = slot.serial;
    record.versionBefore = slot.versionBefore;
    record.versionAfter = e.version;
    record.result = e.result;
    record.status = e.status;
    record.message = e.message;
    record.seconds = static_cast<double>(MonotonicMs() - slot.startMs) / 1000.0;
    record.bytes = e.bytes;
    std::string error;
    if (logFailed) {
      std::fprintf(stderr, "quorvel-flash: not in the log: %s device %d: %s: %s\n", slot.job.port.c_str(),
                   slot.device, e.result.c_str(), e.message.c_str());
    } else if (!setup.log->Append(LogLine(record), error)) {
      logFailed = true;
      std::fprintf(stderr,
                   "quorvel-flash: cannot write the log %s: %s. No device starts any more; the "
                   "transfers in progress end.\n"
                   "quorvel-flash: not in the log: %s device %d: %s: %s\n",
                   setup.log->Path().c_str(), error.c_str(), slot.job.port.c_str(), slot.device,
                   e.result.c_str(), e.message.c_str());
      holdAll();
    }
    slot.lastResult = passed ? "PASS " + (e.version.empty() ? slot.versionBefore : e.version) : "FAIL " + e.message;
    if (passed) {
      ++slot.passed;
      ++passedTotal;
      if (setup.count > 0 && passedTotal >= setup.count && !countReached) {
        countReached = true;
        holdAll();
      }
    } else {
      ++slot.failed;
    }
  };
  const auto takeEvents = [&](Slot& slot, const char* data, size_t size) {
    Job& job = slot.job;
    job.pending.append(data, size);
    size_t start = 0;
    for (size_t nl; (nl = job.pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      Event event;
      if (!DecodeEvent(job.pending.substr(start, nl - start), event)) continue;
      job.last = event;
      if (event.state == "ready") {
        ++slot.device;
        slot.versionBefore = event.version;
      } else if (event.state == "handshake") {
        slot.startMs = MonotonicMs();
      } else if (event.state == "done") {
        deviceEnded(slot);
      } else if (event.state == "ended") {
        slot.told = true;
      }
      view.Show(slot);
    }
    job.pending.erase(0, start);
  };

  const std::vector<ListedPort> none;
  std::vector<ListedPort> listed;
  std::string error;
  ListPorts(listed, error);
  for (const std::string& port : setup.ports) startSlot(port, true, listed);

  for (;;) {
    const uint64_t now = MonotonicMs();
    if (setup.all && !holding && g_held == 0 && now - listedMs >= kRelistPeriodMs) {
      listedMs = now;
      if (ListPorts(listed, error)) {
        for (const ListedPort& p : listed) {
          if (!p.adapter) continue;
          const std::string key = SameFile(p.devicePath);
          const bool taken = std::any_of(slots.begin(), slots.end(), [&](const Slot& slot) {
            return slot.live && SameFile(slot.job.port) == key;
          });
          if (!taken && PortProblem(p.devicePath).empty()) startSlot(p.devicePath, false, listed);
        }
      }
    }
    const bool anyLive = std::any_of(slots.begin(), slots.end(), [](const Slot& s) { return s.live; });
    if (!anyLive && (holding || g_held != 0 || !setup.all)) break;
    if (!anyLive && !saidNoAdapter) {
      view.Say("No adapter: waiting for one (USB 10c4:ea60 or 10c8:ea61) to be plugged in");
      saidNoAdapter = true;
    } else if (anyLive && saidNoAdapter) {
      view.ClearNote();
      saidNoAdapter = false;
    }
    if (g_held != 0 && !holding) holdAll();
    if (g_interrupts >= 2 && !stopped) {
      for (const Slot& slot : slots) {
        if (slot.live) kill(slot.job.pid, SIGUSR1);
      }
      stopped = true;
    }
    if (g_interrupts == 1 && !saidFinishing) {
      std::vector<Job> jobs;
      for (const Slot& slot : slots) {
        if (slot.live) jobs.push_back(slot.job);
      }
      if (std::any_of(jobs.begin(), jobs.end(), InTransfer)) {
        SayFinishing(jobs, setup.remaining);
        view.Restart();
        saidFinishing = true;
      }
    }
    view.Draw(false);

    std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
    std::vector<Slot*> owners{nullptr};
    for (Slot& slot : slots) {
      if (slot.job.fd < 0) continue;
      fds.push_back({slot.job.fd, POLLIN, 0});
      owners.push_back(&slot);
    }
    // Bars: the clock on the totals line moves every second.
    const int timeout = setup.mode == OutputMode::Bars ? 250 : setup.all ? static_cast<int>(kRelistPeriodMs) : -1;
    const int ready = poll(fds.data(), fds.size(), timeout);
    if (ready == 0) view.Draw(true);
    if (ready <= 0) continue;
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wake[0], drain, sizeof drain) > 0) {
      }
    }
    if (g_resized != 0) {
      g_resized = 0;
      view.Draw(true);
    }
    for (size_t k = 1; k < fds.size(); ++k) {
      if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      Slot& slot = *owners[k];
      char buf[4096];
      const ssize_t n = read(slot.job.fd, buf, sizeof buf);
      if (n > 0) {
        takeEvents(slot, buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(slot.job.fd);
        slot.job.fd = -1;
        int raw = 0;
        while (waitpid(slot.job.pid, &raw, 0) < 0 && errno == EINTR) {
        }
        slot.live = false;
        if (!slot.told) {
          std::fprintf(stderr, "quorvel-flash: %s: the slot ended without a result\n", slot.job.port.c_str());
          view.Restart();
        }
        view.Show(slot);
      }
    }
  }
  g_wakeWrite = -1;
  close(wake[0]);
  close(wake[1]);
  view.Draw(true);
  FlushOutput();
  if (logFailed) return static_cast<int>(Outcome::Failed);
  if (countReached) return 0;
  if (g_held != 0) return HeldExitStatus();
  return static_cast<int>(Outcome::Failed);
}

}  // namespace quorvel::cli
