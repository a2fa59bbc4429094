// The device side of the protocol: whatever the device (and the adapter's
// echo) sends while the link monitor probes and reads the version, and
// while an update job runs its handshake and sends its records.
//
// The main dialog runs in the headless window of the tests, with one adapter
// listed, on the in-memory port of MemoryPort.h. The input:
//   byte 0  bit 0: the model (0 BRENIX, 1 OLMAR I); bits 1-3: ticks before
//           the Update click, 1 to 8; bits 4-5: ticks after it, 1 to 4;
//           bits 6-7: what the user does while the job pumps messages:
//           nothing, Escape, the command of byte 1, a paint and a tick
//   byte 1  bits 0-1: how many opens fail first; bits 2-3: the command
//           (Update, BRENIX, OLMAR I, OK)
//   rest    the device's byte stream, echoes included, with the codes of
//           MemoryPort.h (pause, hang-up, purge / open / write failure)
// The Update click picks a fixed image of three records (5, 19 and 255
// bytes, holding 0x11, 0x13, 0x1A and command byte values).
//
// A model of the link monitor and the update job follows the program in
// lockstep: every port operation must be the one the model expects next,
// with the expected counts and waits, every byte written must be the
// expected command byte or the expected record, whole (so a record is sent
// again only after a verdict other than 0x11, and the next one only after
// 0x11). After every step the link state (0, 1 or 2), the port, the timer,
// the version text, the message boxes (known texts only, never empty), the
// status texts, the message pumps and the controls must be what the model
// says; a job must end within the protocol's longest waits, and a failed
// one must leave the port closed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "link/Protocol.h"
#include "serial/memory/MemoryPort.h"
#include "support/DialogPeer.h"
#include "support/FakePortPlatform.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"
#include "update/RecordTransfer.h"
#include "update/UpdateImage.h"
#include "update/UpdateMessages.h"

using namespace quorvel;
using memport::PortEvent;
using memport::PortOp;

namespace {

constexpr char kEnvDir[] = "/nonexistent-quorvel-fuzz";
constexpr char kDevicePath[] = "/nonexistent-quorvel-fuzz/ttyFUZZ";

// The texts a message box may carry: the program's own table.
Text Msg(UpdateResult result) { return UpdateMessage(result); }

constexpr UpdateResult kJobResults[] = {
    UpdateResult::NoAdapter,      UpdateResult::NoDevice,           UpdateResult::PurgeFailed,
    UpdateResult::HandshakeD6Timeout, UpdateResult::HandshakeD7Timeout, UpdateResult::TransferError,
    UpdateResult::CrcError,       UpdateResult::TooManyResends,     UpdateResult::NoVerdict};

bool IsKnownJobMessage(const Text& text) {
  for (const UpdateResult result : kJobResults) {
    if (text == Msg(result)) return true;
  }
  return false;
}

// Known as well, but the fixed image file never earns them.
std::vector<Text> FileMessages() {
  return {UpdateMessage(ImageLoadResult::OpenFailed), UpdateMessage(ImageLoadResult::NotValid),
          UpdateMessage(ImageLoadResult::Empty), Msg(UpdateResult::FileHoldFailed)};
}

// ---- the image

const std::vector<std::vector<uint8_t>>& Records() {
  static const std::vector<std::vector<uint8_t>> records = [] {
    std::vector<std::vector<uint8_t>> r;
    r.push_back({0x00, 0x03, 0x11, 0x13, 0x1A});
    r.push_back({0x00, 0x11, 0x11, 0x13, 0x1A, 0xD6, 0xD7, 0xD8, 0x12, 0x26, 0xE0, 0x0D, 0x0A,
                 0x00, 0xFF, 0x11, 0x13, 0x1A, 0x7F});
    // The longest record a one-byte count can carry.
    std::vector<uint8_t> longest{0x00, 0xFD};
    for (int i = 0; i < 0xFD; ++i) longest.push_back(static_cast<uint8_t>(i * 7 + 3));
    r.push_back(longest);
    return r;
  }();
  return records;
}

uint32_t ImageSize() {
  uint32_t n = 0;
  for (const auto& record : Records()) n += static_cast<uint32_t>(record.size());
  return n;
}

// Written once per run, into memory, as one line of upper-case hex digit
// pairs.
const std::string& ImagePath() {
  static fuzz::MemoryFile file;
  static std::string path;
  if (!path.empty()) return path;
  std::string text;
  for (const auto& record : Records()) {
    for (const uint8_t b : record) {
      static const char kDigits[] = "0123456789ABCDEF";
      text += kDigits[b >> 4];
      text += kDigits[b & 0xF];
    }
  }
  path = file.Write(text.data(), text.size());

  static UpdateImage loaded;
  FUZZ_CHECK(LoadUpdateImage(FromUtf8(path), loaded) == ImageLoadResult::Loaded);
  FUZZ_CHECK(loaded.count == ImageSize());
  return path;
}

// ---- the model

Text VersionText(int32_t model, const uint8_t v[7]) {
  char text[32];
  if (model == protocol::kModel1) {
    std::snprintf(text, sizeof text, "%02X.%02X.%02d", v[2], v[3], v[5]);
  } else {
    std::snprintf(text, sizeof text, "P%1d.%02d.%02d", (v[2] + 64) % 256, v[3], v[5]);
  }
  return FromUtf8(text);
}

struct JobOutcome {
  bool box = false;
  Text text;
  MbIcon icon = MbIcon::None;
  bool timerRunning = false;
  bool success = false;
  std::vector<Text> statusTexts;
  int pumps = 0;
};

// The link monitor and the update job as the protocol describes them, fed
// with the port operations the program made and checking each against the
// one expected next.
class Model {
 public:
  Model(int32_t model, CQuorvelDlg& dlg) : m_model(model), m_dlg(dlg) {}

  uint8_t state = 0;
  bool portOpen = false;
  int32_t refresh = 0;
  uint8_t version[7] = {};

  // One tick of timer 1.
  void Tick() {
    const bool one = m_model == protocol::kModel1;
    if (state == 0) {
      if (portOpen) return;
      const PortEvent& open = Take(PortOp::Open);
      FUZZ_CHECK(open.path == kDevicePath);
      FUZZ_CHECK(open.arg == (one ? 1200u : 19200u));
      if (open.ok) {
        portOpen = true;
        state = 1;
      }
      return;
    }
    if (!SendCommand(one ? 0xD5 : 0xD4)) {
      Close();
      state = 0;
      return;
    }
    const PortEvent* answer = Read(one ? 1 : 2, one ? 100 : 150, true);
    if (answer == nullptr || !answer->ok ||
        (one ? answer->bytes[0] != 0x26 : answer->bytes[0] != 0xD6 && answer->bytes[0] != 0xBD)) {
      state = 1;
      return;
    }
    if (state == 2 && refresh == 0) return;
    if (!SendCommand(0xD7)) return;
    const PortEvent* reply = Read(7, 1000, true);
    if (reply == nullptr || !reply->ok) return;
    for (int i = 0; i < 7; ++i) version[i] = reply->bytes[i];
    state = 2;
    refresh = 0;
  }

  // The Update click, with the image file picked.
  JobOutcome Job(bool timerRunning) {
    JobOutcome out;
    out.timerRunning = timerRunning;
    if (state != 2) {
      out.box = true;
      out.text = Msg(state == 0 ? UpdateResult::NoAdapter : UpdateResult::NoDevice);
      out.icon = MbIcon::Stop;
      return out;
    }
    out.statusTexts.push_back(u" ");
    out.timerRunning = false;
    if (!portOpen || !Take(PortOp::Purge).ok) {
      out.box = true;
      out.text = Msg(UpdateResult::PurgeFailed);
      out.icon = MbIcon::Stop;
      out.timerRunning = true;  // the monitor restarts after the refusal
      return out;
    }
    Text error;
    const bool sent = Handshake(error) && Transfer(out, error);
    out.timerRunning = true;
    if (!sent) {
      Close();
      out.box = true;
      out.text = error;
      out.icon = MbIcon::None;
      return out;
    }
    out.statusTexts.push_back(test::Peer(m_dlg).m_texts.m_strSuccessful);
    out.success = true;
    refresh = 1;
    return out;
  }

  bool AllTaken() const { return m_next == memport::MemoryPortEvents().size(); }
  size_t Taken() const { return m_next; }

 private:
  const PortEvent& Take(PortOp op) {
    const auto& events = memport::MemoryPortEvents();
    FUZZ_CHECK(m_next < events.size());
    const PortEvent& event = events[m_next++];
    FUZZ_CHECK(event.op == op);
    return event;
  }

  void Close() {
    if (!portOpen) return;
    Take(PortOp::Close);
    portOpen = false;
  }

  const PortEvent* Read(size_t count, uint32_t waitMs, bool intoRxBuf) {
    if (!portOpen) return nullptr;
    const PortEvent& read = Take(PortOp::Read);
    FUZZ_CHECK(read.count == count);
    FUZZ_CHECK(read.arg == waitMs);
    FUZZ_CHECK(read.bytes.size() <= count && read.ok == (read.bytes.size() == count));
    if (intoRxBuf && !read.bytes.empty()) m_rxBuf0 = read.bytes[0];
    return &read;
  }

  bool SendCommand(uint8_t command) {
    if (!portOpen || !Take(PortOp::Purge).ok) return false;
    const PortEvent& write = Take(PortOp::Write);
    FUZZ_CHECK(write.bytes.size() == 1 && write.bytes[0] == command);
    if (!write.ok) return false;
    return Read(1, 500, true)->ok;
  }

  struct Phase {
    uint8_t command;
    bool allAttempts;  // every attempt made, replies ignored
    uint8_t passByte;  // otherwise: passes on this byte in rxBuf[0]; fails on another reply
    UpdateResult sendFailed;
    UpdateResult noReply;
  };

  bool Handshake(Text& error) {
    constexpr UpdateResult kD6 = UpdateResult::HandshakeD6Timeout;
    constexpr UpdateResult kD7 = UpdateResult::HandshakeD7Timeout;
    static constexpr Phase kModel2[] = {{0xD6, false, 0xD7, kD7, kD7}};
    static constexpr Phase kModel1[] = {{0xD6, true, 0, kD6, kD6},
                                        {0xD7, false, 0xD8, kD7, kD7},
                                        {0xD6, true, 0, kD6, kD6},
                                        {0xD6, false, 0xD7, kD7, kD7}};
    const bool one = m_model == protocol::kModel1;
    const Phase* phases = one ? kModel1 : kModel2;
    const int n = one ? 4 : 1;
    for (int p = 0; p < n; ++p) {
      const Phase& phase = phases[p];
      bool passed = phase.allAttempts;
      for (int attempt = 0; attempt < 4; ++attempt) {
        if (!SendCommand(phase.command)) {
          error = Msg(phase.sendFailed);
          return false;
        }
        const bool replied = Read(1, 1000, true)->ok;
        if (phase.allAttempts) continue;
        if (m_rxBuf0 == phase.passByte) {
          passed = true;
          break;
        }
        if (replied) break;
      }
      if (!passed) {
        error = Msg(phase.noReply);
        return false;
      }
    }
    return true;
  }

  bool Transfer(JobOutcome& out, Text& error) {
    const auto& records = Records();
    const uint32_t total = ImageSize();
    size_t k = 0;
    uint32_t confirmed = 0;
    uint32_t resends = 0;
    while (k < records.size()) {
      const std::vector<uint8_t>& record = records[k];
      // Stale input is dropped before every record.
      if (!Take(PortOp::Discard).ok) {
        error = Msg(UpdateResult::TransferError);
        return false;
      }
      const PortEvent& write = Take(PortOp::Write);
      FUZZ_CHECK(write.bytes == record);
      const PortEvent* echo = write.ok ? Read(record.size(), 2000, false) : nullptr;
      if (echo == nullptr || !echo->ok) {
        error = Msg(UpdateResult::TransferError);
        return false;
      }
      bool verdict = false;
      for (int i = 0; i < 6 && !verdict; ++i) verdict = Read(1, 2000, true)->ok;
      if (!verdict) {
        error = Msg(UpdateResult::NoVerdict);
        return false;
      }
      if (m_rxBuf0 == 0x11) {
        confirmed += static_cast<uint32_t>(record.size());
        resends = 0;
        ++k;
      } else if (m_rxBuf0 == 0x12) {
        error = Msg(UpdateResult::CrcError);
        return false;
      } else if (++resends >= 4) {
        error = Msg(UpdateResult::TooManyResends);
        return false;
      }
      out.statusTexts.push_back(test::Peer(m_dlg).m_texts.m_strTransferring + u" " +
                                DecimalText(confirmed * 100u / total) + u"%");
      ++out.pumps;
    }
    return true;
  }

  int32_t m_model;
  CQuorvelDlg& m_dlg;
  size_t m_next = 0;
  uint8_t m_rxBuf0 = 0;
};

// The longest a job may take: every handshake attempt and every send of
// every record waiting its longest, then the one-second pause.
uint64_t LongestJobMs(int32_t model) {
  const uint64_t handshakeAttempts = model == protocol::kModel1 ? 16 : 4;
  const uint64_t sends = Records().size() * 4;
  return handshakeAttempts * (500 + 1000) + sends * (2000 + 6 * 2000) + 1000 + 100;
}

test::FakePortPlatform& Platform() {
  static test::FakePortPlatform platform = [] {
    test::FakePortPlatform p;
    p.ports.push_back(test::UsbPort(u"ttyFUZZ"));
    return p;
  }();
  return platform;
}

// What must hold between steps.
void CheckSteady(CQuorvelDlg& dlg, const test::HeadlessWindow& w, const Model& model) {
  FUZZ_CHECK(model.AllTaken());
  FUZZ_CHECK(test::Peer(dlg).m_linkState <= 2);
  FUZZ_CHECK(test::Peer(dlg).m_linkState == model.state);
  FUZZ_CHECK((test::Peer(dlg).m_link.hPort != kInvalidPort) == model.portOpen);
  FUZZ_CHECK(memport::MemoryPortIsOpen() == model.portOpen);
  FUZZ_CHECK(test::Peer(dlg).m_refreshVersion == model.refresh);
  FUZZ_CHECK(!test::Peer(dlg).m_jobRunning);
  if (model.state == 2) {
    for (int i = 0; i < 7; ++i) FUZZ_CHECK(test::Peer(dlg).m_version[i] == model.version[i]);
    FUZZ_CHECK(w.TextOf(IDC_VERSION_TEXT) == VersionText(test::Peer(dlg).m_model, model.version));
    FUZZ_CHECK(w.TextOf(IDC_HINT_TEXT) == test::Peer(dlg).m_texts.m_strHintReady);
  } else {
    FUZZ_CHECK(w.TextOf(IDC_VERSION_TEXT).empty());
    FUZZ_CHECK(w.TextOf(IDC_HINT_TEXT) == (model.state == 1
                                               ? test::Peer(dlg).m_texts.m_strHintNoDevice
                                               : test::Peer(dlg).m_texts.m_strHintNoAdapter));
  }
}

enum class DuringJob { Nothing, Escape, Command, PaintAndTick };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t modelNo = (data[0] & 1) != 0 ? protocol::kModel2 : protocol::kModel1;
  const int ticksBefore = 1 + ((data[0] >> 1) & 7);
  const int ticksAfter = 1 + ((data[0] >> 4) & 3);
  const auto duringJob = static_cast<DuringJob>(data[0] >> 6);
  const int failedOpens = data[1] & 3;
  static constexpr int kCommands[] = {IDC_UPDATE, IDC_MODEL1_RADIO, IDC_MODEL2_RADIO, IDOK};
  const int command = kCommands[(data[1] >> 2) & 3];

  const std::string& imagePath = ImagePath();
  memport::ResetMemoryPort(data + 2, size - 2, failedOpens);
  const auto& events = memport::MemoryPortEvents();

  {
    test::TestEnvironment testEnv;
    Environment env = testEnv.Make(kEnvDir, &Platform());
    env.pauseMs = nullptr;  // the port layer's sleep, on the virtual clock
    env.port = &memport::InMemoryPort();
    test::HeadlessWindowSystem ws;
    CQuorvelDlg dlg(ws, env);
    test::HeadlessWindow& w = ws.Open(dlg);
    Model model(modelNo, dlg);

    const auto tick = [&] {
      const bool delivered = w.Tick();
      if (delivered) model.Tick();
      w.Paint();
      CheckSteady(dlg, w, model);
      return delivered;
    };

    w.Click(modelNo == protocol::kModel1 ? IDC_MODEL1_RADIO : IDC_MODEL2_RADIO);
    FUZZ_CHECK(w.timers.count(1) == 1);
    CheckSteady(dlg, w, model);
    for (int i = 0; i < ticksBefore; ++i) FUZZ_CHECK(tick());

    // The Update click.
    ws.filesToPick.assign(1, FromUtf8(imagePath));
    switch (duringJob) {
      case DuringJob::Nothing: break;
      case DuringJob::Escape: w.Post([&w] { w.PressEscape(); }); break;
      case DuringJob::Command: w.Post([&dlg, command] { dlg.OnCommand(command); }); break;
      case DuringJob::PaintAndTick:
        w.Post([&w] {
          w.Paint(true);
          w.Tick();
        });
        break;
    }
    // The window is kept answering during the job's waits, never outside.
    ws.onKeepResponsive = [&] {
      FUZZ_CHECK(test::Peer(dlg).m_jobRunning);
      FUZZ_CHECK(!w.IsEnabled(IDC_UPDATE));
    };
    ws.onPump = [&] {
      FUZZ_CHECK(test::Peer(dlg).m_jobRunning);
      FUZZ_CHECK(!w.IsEnabled(IDC_UPDATE) && !w.IsEnabled(IDC_MODEL1_RADIO) &&
                 !w.IsEnabled(IDC_MODEL2_RADIO));
    };
    const size_t boxesBefore = w.messageBoxes.size();
    const size_t textsBefore = w.textLog.size();
    const int pumpsBefore = w.pumpCount;
    const uint64_t startMs = memport::VirtualNowMs();
    const bool timerBefore = w.timers.count(1) == 1;
    w.Click(IDC_UPDATE);
    const uint64_t endMs = memport::VirtualNowMs();
    const size_t jobEventsEnd = events.size();
    const size_t jobEventsStart = model.Taken();
    const JobOutcome out = model.Job(timerBefore);
    w.posted.clear();
    ws.onPump = nullptr;

    FUZZ_CHECK(model.AllTaken());
    // The box: known, never empty, the one the model expects.
    FUZZ_CHECK(w.messageBoxes.size() == boxesBefore + (out.box ? 1 : 0));
    if (out.box) {
      const test::MessageBoxRecord& box = w.messageBoxes.back();
      FUZZ_CHECK(!box.text.empty());
      FUZZ_CHECK(IsKnownJobMessage(box.text));
      for (const Text& fileMessage : FileMessages()) FUZZ_CHECK(box.text != fileMessage);
      FUZZ_CHECK(box.text == out.text);
      FUZZ_CHECK(box.icon == out.icon);
    }
    // Timer, port, controls.
    FUZZ_CHECK((w.timers.count(1) == 1) == out.timerRunning);
    if (out.timerRunning) FUZZ_CHECK(w.timers.at(1) == protocol::kMonitorPeriodMs);
    if (out.box && out.icon == MbIcon::None) {
      FUZZ_CHECK(test::Peer(dlg).m_link.hPort == kInvalidPort);
      FUZZ_CHECK(!memport::MemoryPortIsOpen());
    }
    FUZZ_CHECK(w.IsEnabled(IDC_UPDATE) && w.IsEnabled(IDC_MODEL1_RADIO) &&
               w.IsEnabled(IDC_MODEL2_RADIO));
    // Status texts and the pumps.
    std::vector<Text> statusTexts;
    for (size_t i = textsBefore; i < w.textLog.size(); ++i) {
      if (w.textLog[i].first == IDC_STATUS_EDIT) statusTexts.push_back(w.textLog[i].second);
    }
    FUZZ_CHECK(statusTexts == out.statusTexts);
    FUZZ_CHECK(w.pumpCount - pumpsBefore == out.pumps);
    // A close asked for during the job is honoured when it ends.
    const bool closeAsked =
        duringJob == DuringJob::Escape || (duringJob == DuringJob::Command && command == IDOK);
    FUZZ_CHECK(w.endResult.has_value() == (closeAsked && out.pumps > 0));
    // Bounded time; a success pauses a second after the last exchange.
    FUZZ_CHECK(endMs - startMs <= LongestJobMs(modelNo));
    if (out.success) {
      FUZZ_CHECK(jobEventsEnd > jobEventsStart);
      FUZZ_CHECK(endMs - events[jobEventsEnd - 1].atMs >= protocol::kPauseAfterUpdateMs);
    }
    CheckSteady(dlg, w, model);

    if (!w.endResult) {
      for (int i = 0; i < ticksAfter; ++i) FUZZ_CHECK(tick() == out.timerRunning);
    }

    // QUORVEL_FUZZ_SHOW=1 tells how an input's job went, for making seeds
    // and reading reproducers.
    static const bool show = std::getenv("QUORVEL_FUZZ_SHOW") != nullptr;
    if (show) {
      std::fprintf(stderr, "model %d, job events %zu, %llu ms, pumps %d, link state %d\n",
                   static_cast<int>(modelNo), jobEventsEnd - jobEventsStart,
                   static_cast<unsigned long long>(endMs - startMs), out.pumps,
                   static_cast<int>(test::Peer(dlg).m_linkState));
      for (const Text& text : statusTexts) std::fprintf(stderr, "status: %s\n", ToUtf8(text).c_str());
      if (out.box) std::fprintf(stderr, "box: %s\n", ToUtf8(out.text).c_str());
      if (w.endResult) std::fprintf(stderr, "dialog ended\n");
      std::fprintf(stderr, "version text: %s\n", ToUtf8(w.TextOf(IDC_VERSION_TEXT)).c_str());
    }
  }
  // The dialog let go of the port.
  FUZZ_CHECK(!memport::MemoryPortIsOpen());
  return 0;
}
