// A station's slots, on every platform: a job per port that flashes each
// device connected to it once until it is removed (cli/Jobs.h,
// MakeStationTask), run where the platform's host puts it (cli/JobHost.h).
// The program shows the slots, counts the devices, writes a line in the log
// for each device whose update ended, and holds the slots on --count, a
// failed log write or a stop signal.

#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/Flash.h"
#include "cli/JobHost.h"
#include "cli/Runner.h"
#include "cli/Station.h"
#include "serial/PortLayer.h"

namespace quorvel::cli {

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
  bool live = true;           // its job runs
  bool told = false;          // its end came as an "ended" event
  std::string lastResult;     // "PASS ..." or "FAIL ...", shown until the next device
  int printedTens = -1;
};

std::string SameFile(const std::string& path) { return PortKey(path); }

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
  const std::unique_ptr<JobHost> host = MakeJobHost();
  {
    std::string error;
    if (!host->Open(error)) {
      std::fprintf(stderr, "quorvel-flash: cannot start the slots: %s\n", error.c_str());
      return static_cast<int>(Outcome::Failed);
    }
  }
  FlushOutput();
  std::fflush(stderr);
  const uint64_t startMs = MonotonicMs();

  std::vector<Slot> slots;
  slots.reserve(256);
  StationView view(slots, setup.mode, startMs);
  if (setup.mode == OutputMode::Bars) host->WatchResize();

  bool holding = false;  // no device starts any more
  bool countReached = false;
  bool logFailed = false;
  bool stopped = false;
  bool saidFinishing = false;
  bool saidNoAdapter = false;
  uint64_t passedTotal = 0;
  uint64_t listedMs = 0;
  std::vector<JobNews> news;

  const auto holdAll = [&] {
    holding = true;
    for (size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].live) host->Hold(i);
    }
  };
  const auto startSlot = [&](const std::string& port, bool named, const std::vector<ListedPort>& listed) {
    Slot& slot = slots.emplace_back();
    slot.named = named;
    slot.job.port = port;
    slot.serial = SerialOf(listed, port);
    std::string error;
    if (!host->Start(slots.size() - 1, port, named ? setup.namedTask : setup.foundTask, error)) {
      std::fprintf(stderr, "quorvel-flash: %s: cannot start the job: %s\n", port.c_str(), error.c_str());
      slot.live = false;
      return;
    }
    slot.job.running = true;
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
  const auto takeEvents = [&](Slot& slot, const std::string& data) {
    Job& job = slot.job;
    for (const Event& event : TakeLines(job, data)) {
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
  };

  const std::vector<ListedPort> none;
  std::vector<ListedPort> listed;
  std::string error;
  ListPorts(listed, error);
  for (const std::string& port : setup.ports) startSlot(port, true, listed);

  for (;;) {
    const uint64_t now = MonotonicMs();
    if (setup.all && !holding && !StopRequested() && now - listedMs >= kRelistPeriodMs) {
      listedMs = now;
      if (ListPorts(listed, error)) {
        for (const ListedPort& p : listed) {
          if (!p.adapter) continue;
          const std::string key = SameFile(p.devicePath);
          const bool taken = std::any_of(slots.begin(), slots.end(), [&](const Slot& slot) {
            return slot.live && SameFile(slot.job.port) == key;
          });
          if (!taken && PortProblem(p.devicePath).empty()) startSlot(PortLabel(p.devicePath), false, listed);
        }
      }
    }
    const bool anyLive = std::any_of(slots.begin(), slots.end(), [](const Slot& s) { return s.live; });
    if (!anyLive && (holding || StopRequested() || !setup.all)) break;
    if (!anyLive && !saidNoAdapter) {
      view.Say("No adapter: waiting for one (USB 10c4:ea60 or 10c8:ea61) to be plugged in");
      saidNoAdapter = true;
    } else if (anyLive && saidNoAdapter) {
      view.ClearNote();
      saidNoAdapter = false;
    }
    if (StopRequested() && !holding) holdAll();
    if (InterruptCount() >= 2 && !stopped) {
      for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].live) host->Stop(i);
      }
      stopped = true;
    }
    if (InterruptCount() == 1 && !saidFinishing) {
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

    // Bars: the clock on the totals line moves every second.
    const int timeout = setup.mode == OutputMode::Bars ? 250 : setup.all ? static_cast<int>(kRelistPeriodMs) : -1;
    news.clear();
    if (host->Wait(timeout, news)) view.Draw(true);
    if (host->TakeResized()) view.Draw(true);
    for (const JobNews& n : news) {
      Slot& slot = slots[n.job];
      if (!n.data.empty()) takeEvents(slot, n.data);
      if (!n.ended) continue;
      slot.job.running = false;
      slot.live = false;
      if (!slot.told) {
        std::fprintf(stderr, "quorvel-flash: %s: the slot ended without a result\n", slot.job.port.c_str());
        view.Restart();
      }
      view.Show(slot);
    }
  }
  view.Draw(true);
  FlushOutput();
  if (logFailed) return static_cast<int>(Outcome::Failed);
  if (countReached) return 0;
  if (StopRequested()) return HeldExitStatus();
  return static_cast<int>(Outcome::Failed);
}

}  // namespace quorvel::cli
