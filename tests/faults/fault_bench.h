#pragma once
// The main dialog in a headless window, driven as the toolkit would drive it,
// against a simulated adapter that a fake sysfs lists under the identifiers
// discovery looks for. The adapter can be pulled, replugged or replaced, and
// the device behind it replaced, so that a test can break the link at any
// point and then check that the program comes back.

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "link/Protocol.h"
#include "serial/PortPlatform.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "support/EnglishTexts.h"
#include "support/DialogHarness.h"
#include "support/FakeSysfs.h"
#include "support/HeadlessWindow.h"
#include "support/TestEnvironment.h"
#include "support/UpdateRecords.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

namespace quorvel::test {

using Clock = std::chrono::steady_clock;

constexpr ColorRef kRed = 0x0000FF;
constexpr ColorRef kGreen = 0x00FF00;

inline long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Descriptors open in this process.
inline int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count - 3;  // ".", ".." and the directory's own descriptor
}

// Whether `sent`, every byte the program wrote during one update job, holds
// nothing but the model's handshake commands followed by the file's records
// in order, each sent at most four times, the last one possibly cut short
// (the line went away while it was written). A job that never got past its
// handshake may have sent only part of it.
inline testing::AssertionResult SentOnlyTheFile(const Bytes& sent, int32_t model,
                                                const std::vector<Bytes>& records) {
  // Records begin with their high length byte, 0; no command byte is 0.
  size_t split = 0;
  while (split < sent.size() && sent[split] != 0x00) ++split;
  std::string commands;
  for (size_t i = 0; i < split; ++i) {
    if (sent[i] == protocol::kUpdateStart) commands += 'S';       // 0xD6
    else if (sent[i] == protocol::kUpdateStep2) commands += 'T';  // 0xD7
    else return testing::AssertionFailure() << "byte " << i << " is not a command: " << int(sent[i]);
  }
  const bool transferred = split < sent.size();
  // Model 1: four 0xD6, one to four 0xD7, four 0xD6, one to four 0xD6.
  const char* full = model == protocol::kModel1 ? "S{4}T{1,4}S{5,8}" : "S{1,4}";
  const char* partial = model == protocol::kModel1 ? "S{0,4}|S{4}T{1,4}|S{4}T{1,4}S{1,8}" : "S{0,4}";
  if (!std::regex_match(commands, std::regex(transferred ? full : partial))) {
    return testing::AssertionFailure() << "handshake commands out of order: " << commands;
  }

  size_t at = split;
  size_t current = 0;  // index of the record last sent
  int sends = 0;       // how often it was sent
  while (at < sent.size()) {
    const size_t left = sent.size() - at;
    bool matched = false;
    // The same record again (a resend), or the next one.
    for (const size_t candidate : {current, current + 1}) {
      if (candidate >= records.size()) continue;
      if (candidate == current && sends >= 4) continue;
      if (candidate == current + 1 && sends == 0) continue;
      const Bytes& r = records[candidate];
      const size_t n = std::min(left, r.size());
      if (!std::equal(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(n),
                      sent.begin() + static_cast<std::ptrdiff_t>(at))) {
        continue;
      }
      if (n < r.size() && at + n != sent.size()) continue;
      sends = candidate == current ? sends + 1 : 1;
      current = candidate;
      at += n;
      matched = true;
      break;
    }
    if (!matched) {
      return testing::AssertionFailure()
             << "byte " << at << " of " << sent.size()
             << " is neither a resend of record " << current << " nor the next record";
    }
  }
  return testing::AssertionSuccess();
}

template <typename Container>
void Release(Container& c) {
  Container().swap(c);
}

class FaultBench {
 public:
  FaultBench() {
    sysfs.AddUsbSerial("ttySIM0", "10c4", "ea60", std::string("USB to UART Bridge"),
                       std::string("0001"));
    platform = MakeSysfsPortPlatform(sysfs.RootString());
    h = std::make_unique<DialogHarness>(platform.get());
    dlg = h->dlg.get();
    w = h->w;
  }
  ~FaultBench() {
    RemoveAdapter();
    h.reset();
  }
  FaultBench(const FaultBench&) = delete;
  FaultBench& operator=(const FaultBench&) = delete;

  // A fresh adapter with a device of `model` behind it, replacing any other.
  void PlugNewAdapter(int32_t model) {
    RemoveAdapter();
    sim::SimulatedLine::Options options;
    options.directory = h->dir.Path().string();
    line = std::make_unique<sim::SimulatedLine>(options);
    device = std::make_unique<sim::SimulatedDevice>(*line, model);
  }
  // The adapter and its device are gone for good (not only hung up).
  void RemoveAdapter() {
    device.reset();
    line.reset();
  }
  // A fresh device with the default answers behind the same adapter.
  void NewDevice(int32_t model) {
    device.reset();
    device = std::make_unique<sim::SimulatedDevice>(*line, model);
  }

  void SelectModel(int32_t model) {
    w->Click(model == protocol::kModel1 ? IDC_MODEL1_RADIO : IDC_MODEL2_RADIO);
  }

  // One tick of timer 1 and the paint it asked for; returns how long the
  // tick blocked, in milliseconds.
  long long Tick() {
    const auto start = Clock::now();
    w->Tick();
    const long long ms = MsSince(start);
    w->Paint();
    return ms;
  }

  // Ticks until the link state is `state`, at most `maxTicks` times. A tick
  // that changes nothing is followed by a pause, as the timer's period would
  // leave, so that bytes still on their way have arrived and are purged by
  // the next command.
  bool TickUntil(uint8_t state, int maxTicks) {
    for (int i = 0; i < maxTicks && test::Peer(*dlg).m_linkState != state; ++i) {
      const uint8_t before = test::Peer(*dlg).m_linkState;
      Tick();
      if (test::Peer(*dlg).m_linkState == before)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return test::Peer(*dlg).m_linkState == state;
  }

  // Paints the whole window and returns the colours of the adapter lamp and
  // the device lamp, as filled; zeros if the lamps were not painted.
  std::pair<ColorRef, ColorRef> Lamps() {
    w->Paint(true);
    std::vector<const PaintOp*> fills;
    for (const PaintOp& op : w->paintOps) {
      if (op.kind == PaintOp::Rectangle) fills.push_back(&op);
    }
    if (fills.size() != 2 || !(fills[0]->rect == test::Peer(*dlg).m_rcUsbLamp) ||
        !(fills[1]->rect == test::Peer(*dlg).m_rcDeviceLamp)) {
      return {0, 0};
    }
    return {fills[0]->colour, fills[1]->colour};
  }

  static std::pair<ColorRef, ColorRef> LampsFor(uint8_t state) {
    if (state == 1) return {kGreen, kRed};
    if (state == 2) return {kGreen, kGreen};
    return {kRed, kRed};
  }

  // Writes an update file for `model` and queues it for the file dialog.
  Text QueueImage(int32_t model, const std::vector<Bytes>& records) {
    const std::string name = model == protocol::kModel1 ? "image.kyc" : "image.pkc";
    const Text path = FromUtf8(files.WriteFile(name, HexText(JoinRecords(records))).string());
    h->ws.filesToPick.push_back(path);
    return path;
  }

  // Presses Update; returns how long the job ran, in milliseconds.
  long long RunUpdate() {
    const auto start = Clock::now();
    w->Click(IDC_UPDATE);
    return MsSince(start);
  }

  // Presses Update for a file of `records` and checks that the job ended
  // well: no message box, the success text, the device holding exactly the
  // file, and nothing but the handshake and the records on the line.
  void ExpectUpdateSucceeds(int32_t model, const std::vector<Bytes>& records) {
    QueueImage(model, records);
    line->ClearReceived();
    RunUpdate();
    EXPECT_TRUE(w->messageBoxes.empty()) << ToUtf8(w->messageBoxes.front().text);
    EXPECT_EQ(w->TextOf(IDC_STATUS_EDIT), test::english::kSuccessful);
    EXPECT_EQ(device->AcceptedImage(), JoinRecords(records));
    EXPECT_TRUE(SentOnlyTheFile(line->Received(), model, records));
  }

  // Forgets what the window recorded so far, memory included (it only
  // grows otherwise).
  void ClearWindowLogs() {
    Release(w->textLog);
    Release(w->invalidations);
    Release(w->timerLog);
    Release(w->messageBoxes);
    Release(w->paintOps);
    Release(w->fileFilters);
    Release(h->env.pauses);
    Release(h->env.fileWaits);
  }

  sim::TempDir files;    // update files
  FakeSysfs sysfs;
  std::unique_ptr<PortPlatform> platform;
  // The dialog; the adapter's port appears in its directory.
  std::unique_ptr<DialogHarness> h;
  CQuorvelDlg* dlg = nullptr;
  HeadlessWindow* w = nullptr;
  std::unique_ptr<sim::SimulatedLine> line;
  std::unique_ptr<sim::SimulatedDevice> device;
};

}  // namespace quorvel::test
