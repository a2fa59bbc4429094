// The jobs of quorvel-flash on one port, in the port's own process: open the
// named port, probe the device as the link monitor does, and run the
// model's update through the record transfer, reporting each step.

#include "cli/Jobs.h"

#include <algorithm>
#include <array>

#include "link/AdapterDiscovery.h"
#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "serial/PortAccess.h"
#include "serial/PortLayer.h"
#include "serial/SerialLink.h"
#include "update/RecordTransfer.h"
#include "update/UpdateMessages.h"

namespace quorvel::cli {

namespace {

using Version = std::array<uint8_t, protocol::kVersionReplyLen>;

// The port's job: its events and its end.
class Reporter {
 public:
  explicit Reporter(const EventSink& sink) : m_sink(sink) {}

  void Step(const std::string& state, const std::string& message) {
    Event e;
    e.state = state;
    e.message = message;
    e.version = m_version;
    m_sink(e);
  }
  void Progress(uint32_t percent, uint64_t total) {
    Event e;
    e.state = "transferring";
    e.progress = static_cast<int>(percent);
    e.bytes = total * percent / 100u;
    e.total = total;
    e.version = m_version;
    e.message = ToUtf8(kTransferringText) + " " + std::to_string(percent) + "%";
    m_sink(e);
    m_progress = e.progress;
    m_bytes = e.bytes;
    m_total = e.total;
  }
  Outcome End(Outcome outcome, const std::string& message) {
    Event e;
    e.state = "done";
    e.progress = m_progress;
    e.version = m_version;
    e.bytes = m_bytes;
    e.total = m_total;
    e.result = OutcomeName(outcome);
    e.status = static_cast<int>(outcome);
    e.message = message;
    m_sink(e);
    return outcome;
  }
  void ClearVersion() { m_version.clear(); }
  void SetVersion(int32_t model, const Version& version) {
    m_version = ToUtf8(protocol::FormatVersion(model, version.data()));
  }

 private:
  const EventSink& m_sink;
  std::string m_version;
  int m_progress = -1;
  uint64_t m_bytes = 0;
  uint64_t m_total = 0;
};

// Opens the port by its device path: the directory becomes the link's device
// directory, the file name the port name.
bool OpenPort(SerialLink& link, const std::string& path, int32_t model) {
  const auto slash = path.rfind('/');
  link.deviceDir = path.substr(0, slash + 1);
  return OpenNamedPort(link, FromNameBytes(path.substr(slash + 1)), model);
}

Outcome CannotOpen(Reporter& report, const std::string& path) {
  std::string problem = PortProblem(path);
  if (problem.empty()) problem = path + ": cannot open the port at the model's line settings";
  return report.End(Outcome::NoDevice, "USB Connection Error! " + problem);
}

// How the wait for the device ended.
struct DeviceWait {
  LinkState state = kNoAdapterPort;
  // State 0: the step of the probe that lost the port (None when the port
  // could not be opened again).
  CommandStep lostAt = CommandStep::None;
};

// Probes every monitor period until the device answers and its version has
// been read, or waitMs have passed (one probe at least). A port that is lost
// meanwhile (adapter pulled) is opened again, as the monitor would find it.
DeviceWait WaitForDevice(SerialLink& link, const std::string& path, int32_t model, uint32_t waitMs,
                         const std::function<bool()>& hold, Version& version) {
  const uint64_t deadline = MonotonicMs() + waitMs;
  DeviceWait wait;
  wait.state = link.hPort == kInvalidPort ? kNoAdapterPort : kDeviceSilent;
  for (;;) {
    // Periods run from one probe's start to the next, whatever a probe takes.
    const uint64_t probedMs = MonotonicMs();
    if (wait.state == kNoAdapterPort) {
      if (OpenPort(link, path, model)) wait.state = kDeviceSilent;
      else wait.lostAt = CommandStep::None;
    }
    if (wait.state != kNoAdapterPort) {
      const ProbeResult r = ProbeDevice(link, model, wait.state, false);
      wait.state = r.state;
      wait.lostAt = r.lostAt;
      if (r.versionRead) version = r.version;
      if (wait.state == kDeviceReady) return wait;
    }
    const uint64_t now = MonotonicMs();
    if (hold() || now >= deadline) return wait;
    if (now - probedMs < protocol::kMonitorPeriodMs) {
      SleepMs(static_cast<uint32_t>(protocol::kMonitorPeriodMs - (now - probedMs)));
    }
  }
}

// Opens the named port; one that does not exist yet is waited for within
// --wait (an adapter plugged in late), as WaitForDevice opens it once it
// appears. False: it cannot be opened, and the job has ended.
bool OpenOrAwait(SerialLink& link, const std::string& path, int32_t model, uint32_t waitMs,
                 Reporter& report, Outcome& ended) {
  if (OpenPort(link, path, model)) return true;
  if (waitMs == 0 || CheckPortAccess(path).access != PortAccess::Missing) {
    ended = CannotOpen(report, path);
    return false;
  }
  report.Step("waiting", "Waiting up to " + std::to_string(waitMs / 1000u) + " s for " + path +
                             " to appear");
  return true;
}

// The link state in words; in state 0, what became of the port that had
// opened.
std::string StateText(const DeviceWait& wait, const std::string& path, int32_t model) {
  switch (wait.state) {
    case kNoAdapterPort: break;
    case kDeviceSilent: return "link state 1: the adapter's port is open, the device does not answer";
    case kDeviceReady: return "link state 2: the device answers";
  }
  const std::string opened = "link state 0: " + path + " opened, but ";
  switch (wait.lostAt) {
    case CommandStep::Write:
      return opened + "a byte written to it did not leave within " +
             std::to_string(WriteTimeLimitMs(1, protocol::BaudRate(model))) +
             " ms (is this the adapter's port?)";
    case CommandStep::Echo:
      return opened + "the byte written to it did not come back as the adapter's echo "
                      "(is this the adapter's port?)";
    case CommandStep::Purge: return opened + "discarding its buffers failed";
    case CommandStep::None: break;
  }
  return "link state 0: " + path + " was lost and cannot be opened again";
}

// The program's message for a device that was not reached.
std::string ConnectionMessage(LinkState state) {
  return ToUtf8(UpdateMessage(state == kNoAdapterPort ? UpdateResult::NoAdapter : UpdateResult::NoDevice));
}

Outcome OutcomeOf(UpdateResult result) {
  switch (result) {
    case UpdateResult::Completed: return Outcome::Success;
    case UpdateResult::NoAdapter:
    case UpdateResult::NoDevice:
    case UpdateResult::PurgeFailed: return Outcome::NoDevice;
    case UpdateResult::FileHoldFailed:
    case UpdateResult::FileChanged: return Outcome::FileRefused;
    case UpdateResult::HandshakeD6Timeout:
    case UpdateResult::HandshakeD7Timeout: return Outcome::Handshake;
    case UpdateResult::TransferError: return Outcome::Transfer;
    case UpdateResult::CrcError: return Outcome::Crc;
    case UpdateResult::TooManyResends: return Outcome::Repeats;
    case UpdateResult::NoVerdict: return Outcome::NoVerdict;
    case UpdateResult::Stopped: return Outcome::Interrupted;
  }
  return Outcome::Failed;
}

// The progress of a transfer, and its stops: before the first record a
// hold keeps every record back (a signal or the program's end during the
// handshake); after it, only a second Ctrl+C stops between records.
class Progress final : public TransferObserver {
 public:
  Progress(Reporter& report, uint64_t total, const JobControl& control)
      : m_report(report), m_total(total), m_control(control) {}
  void OnProgress(uint32_t percent) override { m_report.Progress(percent, m_total); }
  // True once a record may have gone out.
  bool Started() const { return m_started && !m_heldBack; }
  bool StopRequested() override {
    if (!m_started) {
      m_started = true;
      m_heldBack = m_control.hold();
      if (m_heldBack) return true;
    }
    return m_control.stop();
  }

 private:
  Reporter& m_report;
  const uint64_t m_total;
  const JobControl& m_control;
  bool m_started = false;
  bool m_heldBack = false;
};

// How an update of a device that answers ended.
struct DeviceUpdate {
  UpdateResult result = UpdateResult::Completed;
  std::string message;
  bool versionRead = false;  // `version`: read after a complete update
  Version version{};
};

// The update of a device that has answered, as the window runs it: the
// handshake, the records with their verdicts and resends, then the pause
// and the version read again. The port stays open when it can.
DeviceUpdate UpdateReadyDevice(SerialLink& link, const UpdateFile& file, Reporter& report,
                               const JobControl& control) {
  DeviceUpdate done;
  report.Step("handshake", "Starting the update");
  Progress progress(report, file.image->count, control);
  done.result = RunUpdate(link, file, progress);
  if (done.result != UpdateResult::Completed) {
    done.message = ToUtf8(UpdateMessage(done.result));
    if (done.result == UpdateResult::Stopped) {
      done.message = progress.Started() ? "Interrupted: " + done.message + " The port is closed."
                                        : "Interrupted before the first record; nothing was sent.";
    }
    return done;
  }
  // As the window does: a pause, then the version is read again; the
  // device now reports the version the file carried.
  SleepMs(protocol::kPauseAfterUpdateMs);
  const ProbeResult after = ProbeDevice(link, file.model, kDeviceReady, true);
  done.versionRead = after.versionRead;
  done.version = after.version;
  done.message = ToUtf8(kSuccessfulText);
  return done;
}

// A station's slot looks at its port this often while it waits.
constexpr uint32_t kSlotCheckMs = 1000;
// And at a hold this often while it waits for a removal.
constexpr uint32_t kHoldCheckMs = 100;

}  // namespace

PortTask MakeInfoTask(int32_t model, uint32_t waitMs) {
  return [model, waitMs](const std::string& path, const EventSink& sink, const JobControl& control) {
    Reporter report(sink);
    SerialLink link;
    report.Step("opening", "Opening the port");
    Outcome ended = Outcome::Failed;
    if (!OpenOrAwait(link, path, model, waitMs, report, ended)) return ended;
    if (link.hPort != kInvalidPort) report.Step("waiting", "Probing the device");
    Version version{};
    const DeviceWait wait = WaitForDevice(link, path, model, waitMs, control.hold, version);
    link.ClosePort();
    if (wait.state == kDeviceReady) {
      report.SetVersion(model, version);
      return report.End(Outcome::Success, StateText(wait, path, model));
    }
    if (control.hold()) return report.End(Outcome::Interrupted, "Interrupted while probing the device");
    if (wait.state == kNoAdapterPort && wait.lostAt == CommandStep::None) return CannotOpen(report, path);
    return report.End(Outcome::NoDevice,
                      ConnectionMessage(wait.state) + " " + StateText(wait, path, model));
  };
}

PortTask MakeUpdateTask(const UpdateFile& file, uint32_t waitMs) {
  return [&file, waitMs](const std::string& path, const EventSink& sink,
                         const JobControl& control) {
    const int32_t model = file.model;
    Reporter report(sink);
    SerialLink link;
    report.Step("opening", "Opening the port");
    Outcome ended = Outcome::Failed;
    if (!OpenOrAwait(link, path, model, waitMs, report, ended)) return ended;

    if (link.hPort != kInvalidPort) {
      report.Step("waiting", "Waiting up to " + std::to_string(waitMs / 1000u) + " s for the device");
    }
    Version version{};
    const DeviceWait wait = WaitForDevice(link, path, model, waitMs, control.hold, version);
    if (wait.state != kDeviceReady) {
      link.ClosePort();
      if (control.hold()) {
        return report.End(Outcome::Interrupted, "Interrupted while waiting for the device; nothing was sent");
      }
      if (wait.state == kNoAdapterPort && wait.lostAt == CommandStep::None) return CannotOpen(report, path);
      std::string message = ConnectionMessage(wait.state) + " ";
      if (wait.state == kNoAdapterPort) message += StateText(wait, path, model) + ". ";
      message += "No answer within " + std::to_string(waitMs / 1000u) + " s (--wait).";
      return report.End(Outcome::NoDevice, message);
    }
    report.SetVersion(model, version);
    if (control.hold()) {
      link.ClosePort();
      return report.End(Outcome::Interrupted, "Interrupted before the update; nothing was sent");
    }

    const DeviceUpdate done = UpdateReadyDevice(link, file, report, control);
    link.ClosePort();
    if (done.versionRead) report.SetVersion(model, done.version);
    return report.End(OutcomeOf(done.result), done.message);
  };
}

PortTask MakeStationTask(const UpdateFile& file, bool endsWhenGone) {
  return [&file, endsWhenGone](const std::string& path, const EventSink& sink, const JobControl& control) {
    const int32_t model = file.model;
    SerialLink link;
    const auto endSlot = [&](Outcome outcome, const std::string& message) {
      link.ClosePort();
      Event e;
      e.state = "ended";
      e.result = OutcomeName(outcome);
      e.status = static_cast<int>(outcome);
      e.message = message;
      sink(e);
      return outcome;
    };
    const auto gone = [&] { return endsWhenGone && CheckPortAccess(path).access == PortAccess::Missing; };
    for (;;) {
      Reporter report(sink);
      report.Step("waiting", "Waiting for a device");
      Version version{};
      for (;;) {
        if (control.hold()) return endSlot(Outcome::Interrupted, "Stopped while waiting for a device");
        if (gone()) return endSlot(Outcome::NoDevice, "The adapter was unplugged");
        if (WaitForDevice(link, path, model, kSlotCheckMs, control.hold, version).state == kDeviceReady) break;
      }
      report.SetVersion(model, version);
      report.Step("ready", "Device found");
      if (control.hold()) return endSlot(Outcome::Interrupted, "Stopped before the update; nothing was sent");

      const DeviceUpdate done = UpdateReadyDevice(link, file, report, control);
      // The log's version after is the one read after the update, or none.
      report.ClearVersion();
      if (done.versionRead) report.SetVersion(model, done.version);
      report.End(OutcomeOf(done.result), done.message);

      // The device, passed or failed, is flashed again only once it has
      // been taken away: kRemovedProbes probes in a row without its answer.
      report.Step("remove", "Remove the device");
      int missed = 0;
      uint64_t probedMs = MonotonicMs();
      while (missed < kRemovedProbes) {
        // From one probe's start to the next, in steps short enough that a
        // hold ends the wait soon.
        const uint64_t nextMs = probedMs + kRemovalProbeMs;
        for (uint64_t now = MonotonicMs(); now < nextMs && !control.hold(); now = MonotonicMs()) {
          SleepMs(static_cast<uint32_t>(std::min<uint64_t>(kHoldCheckMs, nextMs - now)));
        }
        probedMs = MonotonicMs();
        if (control.hold()) return endSlot(Outcome::Interrupted, "Stopped while waiting for the device's removal");
        if (link.hPort == kInvalidPort) {
          if (gone()) return endSlot(Outcome::NoDevice, "The adapter was unplugged");
          if (!OpenPort(link, path, model)) {
            ++missed;
            continue;
          }
        }
        missed = ProbeDevice(link, model, kDeviceReady, false).state == kDeviceReady ? 0 : missed + 1;
      }
    }
  };
}

RemainingTime MakeRemainingTime(int32_t model, const UpdateImage& image) {
  return [model, &image](uint64_t confirmed) {
    const uint64_t baud = protocol::BaudRate(model);
    const auto lineMs = [baud](uint64_t bytes) { return (bytes * 10u * 1000u + baud - 1u) / baud; };
    TransferTime t;
    for (uint32_t pos = 0; pos < image.count;) {
      const uint32_t size = 256u * image.bytes[pos] + image.bytes[pos + 1] + 2u;
      pos += size;
      if (pos <= confirmed) continue;
      // The record, its echo coming back as it goes out, and the verdict.
      t.typicalMs += lineMs(size + 1u);
      t.maxMs += protocol::kMaxSendsPerRecord *
                 (lineMs(size) + protocol::kRecordEchoWaitMs + protocol::kVerdictReads * protocol::kVerdictWaitMs);
    }
    // Then the pause and the version read, as after every update.
    const uint64_t after = protocol::kPauseAfterUpdateMs + protocol::kVersionReplyWaitMs + protocol::kProbeAnswerWaitModel2Ms;
    t.typicalMs += protocol::kPauseAfterUpdateMs;
    t.maxMs += after;
    return t;
  };
}

}  // namespace quorvel::cli
