// Running one job per port at once, on every platform: the jobs run where
// the platform's host puts them (cli/JobHost.h); the program shows their
// events as one bar per port on a terminal, as lines tagged with the port
// otherwise, or as JSON, and ends with a summary. SIGHUP, SIGTERM and a
// first Ctrl+C (and what the platform holds as them) are held: every job
// hears it, starts no transfer and ends its waits, while a transfer under
// way runs to its end; a second Ctrl+C stops the transfers between records.

#include "cli/Runner.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/Flash.h"
#include "cli/JobHost.h"
#include "serial/PortLayer.h"

namespace quorvel::cli {

namespace {

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

// Starts the job of `job.port`; a job that cannot start has ended with its
// reason.
void StartJob(JobHost& host, size_t index, Job& job, const PortTask& task) {
  job.last.state = "opening";
  job.last.message = "Opening the port";
  std::string error;
  if (!host.Start(index, job.port, task, error)) {
    job.last = {"done", -1, 0, 0, "", OutcomeName(Outcome::Failed),
                static_cast<int>(Outcome::Failed), "cannot start the job: " + error};
    job.ended = true;
    job.status = static_cast<int>(Outcome::Failed);
    return;
  }
  job.running = true;
}

void TakeEvents(Job& job, const std::string& data, Display& display) {
  for (Event& event : TakeLines(job, data)) {
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
}

// The job is gone.
void Reap(Job& job, const JobNews& news, Display& display) {
  job.running = false;
  if (!job.ended) {
    // The job ended without telling its result: it crashed or was killed.
    job.last.state = "done";
    job.last.result = OutcomeName(Outcome::Failed);
    job.last.status = static_cast<int>(Outcome::Failed);
    job.last.message = news.endedHow;
    job.ended = true;
    job.status = job.last.status;
    display.Show(job);
  } else {
    job.status = std::max(job.status, news.status);  // they agree unless the job crashed at its end
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

}  // namespace

std::vector<Event> TakeLines(Job& job, const std::string& data) {
  std::vector<Event> events;
  job.pending += data;
  size_t start = 0;
  for (size_t nl; (nl = job.pending.find('\n', start)) != std::string::npos; start = nl + 1) {
    Event event;
    if (DecodeEvent(job.pending.substr(start, nl - start), event)) events.push_back(std::move(event));
  }
  job.pending.erase(0, start);
  return events;
}

bool InTransfer(const Job& job) { return !job.ended && job.last.state == "transferring"; }

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
  const std::unique_ptr<JobHost> host = MakeJobHost();
  std::string error;
  if (!host->Open(error)) {
    const std::string message = "cannot start the jobs: " + error;
    std::fprintf(stderr, "quorvel-flash: %s\n", message.c_str());
    if (mode == OutputMode::Json) std::printf("%s\n", ResultLine("", Outcome::Failed, message).c_str());
    return static_cast<int>(Outcome::Failed);
  }
  FlushOutput();
  std::fflush(stderr);

  std::vector<Job> jobs(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    jobs[i].port = ports[i];
    StartJob(*host, i, jobs[i], task);
  }

  Display display(jobs, mode);
  if (mode == OutputMode::Bars) host->WatchResize();
  display.Redraw();
  for (Job& job : jobs) {
    if (job.ended && mode != OutputMode::Bars) display.Show(job);
  }
  bool forwarded = false;
  bool stopped = false;
  bool saidFinishing = false;
  std::vector<JobNews> news;
  for (;;) {
    if (std::none_of(jobs.begin(), jobs.end(), [](const Job& job) { return job.running; })) break;
    if (StopRequested() && !forwarded) {
      for (size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].running) host->Hold(i);
      }
      forwarded = true;
    }
    if (InterruptCount() >= 2 && !stopped) {
      for (size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].running) host->Stop(i);
      }
      stopped = true;
    }
    // Told also when a transfer is seen under way only after the Ctrl+C.
    if (InterruptCount() == 1 && !saidFinishing &&
        std::any_of(jobs.begin(), jobs.end(), InTransfer)) {
      SayFinishing(jobs, remaining);
      display.Restart();
      saidFinishing = true;
    }
    news.clear();
    host->Wait(-1, news);
    if (host->TakeResized()) {
      display.Redraw();
      std::fflush(stdout);
    }
    for (const JobNews& n : news) {
      Job& job = jobs[n.job];
      if (!n.data.empty()) TakeEvents(job, n.data, display);
      if (n.ended) Reap(job, n, display);
    }
  }

  int worst = 0;
  for (const Job& job : jobs) worst = std::max(worst, job.status);
  // Under bars always: a bar may be too narrow for its whole result.
  if (mode == OutputMode::Bars || (mode == OutputMode::Lines && jobs.size() > 1)) PrintSummary(jobs);
  FlushOutput();
  if (StopRequested()) return HeldExitStatus();
  return worst;
}

}  // namespace quorvel::cli
