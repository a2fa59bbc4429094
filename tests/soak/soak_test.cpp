// Long runs that must leave nothing behind: thousands of link monitor ticks
// with the adapter plugged and pulled every few ticks, and a hundred update
// jobs in a row. Each ends with as many open file descriptors and as much
// heap in use as it began with (after a warm-up), within a small slack.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "faults/fault_bench.h"
#include "serial/BoundedClose.h"
#include "soak/new_counter.h"
#include "support/EnglishTexts.h"

namespace quorvel {
namespace {

using namespace test;
using protocol::kModel1;
using protocol::kModel2;
using Answer = sim::SimulatedDevice::Answer;

#if defined(__SANITIZE_ADDRESS__)
// Exact: every live allocation, malloc and operator new alike.
size_t HeapInUse() { return __sanitizer_get_current_allocated_bytes(); }
constexpr long long kHeapSlackBytes = 0;
#else
size_t HeapInUse() { return mallinfo2().uordblks; }
// The C allocator counts freed blocks parked in its per-thread caches as in
// use, so its figure may move a little without a leak.
constexpr long long kHeapSlackBytes = 16 * 1024;
#endif

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

struct Snapshot {
  int fds;
  long long heap;
  long long newBytes;  // -1: not counted
  long rssKiB;
};

Snapshot Take(FaultBench& b) {
  b.ClearWindowLogs();  // the headless window's own records
  // A port's close ends on a thread of its own, which holds its record
  // until it has been let go of.
  EXPECT_TRUE(WaitForCloses(15000));
  return {OpenDescriptors(), static_cast<long long>(HeapInUse()), LiveNewBytes(), ResidentKiB()};
}

void Report(const char* what, int count, const Snapshot& before, const Snapshot& after,
            long long ms) {
  std::printf("[ soak     ] %s: %d in %lld ms; fds %d -> %d; heap %lld -> %lld bytes; "
              "operator new %lld -> %lld bytes; VmRSS %ld -> %ld KiB\n",
              what, count, ms, before.fds, after.fds, before.heap, after.heap,
              before.newBytes, after.newBytes, before.rssKiB, after.rssKiB);
  testing::Test::RecordProperty("fds_before", before.fds);
  testing::Test::RecordProperty("fds_after", after.fds);
  testing::Test::RecordProperty("heap_before", std::to_string(before.heap));
  testing::Test::RecordProperty("heap_after", std::to_string(after.heap));
}

void ExpectNothingLeft(const Snapshot& before, const Snapshot& after) {
  EXPECT_EQ(after.fds, before.fds);
  EXPECT_LE(after.heap - before.heap, kHeapSlackBytes);
  EXPECT_EQ(after.newBytes, before.newBytes);
}

// Drives the monitor tick by tick (no timer period in between) through
// adapter cycles: plug, state 1, state 2, a few probes, pull, state 0,
// nothing found, replug. Now and then the device is silent for a tick or the
// adapter is pulled in the middle of a version read. Each round uses a fresh
// adapter (its records are the simulator's, not the program's) and ends with
// the adapter removed and the port closed.
class TickSoak {
 public:
  explicit TickSoak(FaultBench& b) : m_b(b) {}

  int ticks = 0;
  long long longestTickMs = 0;

  // Runs `count` ticks with a fresh adapter of `model`.
  void Round(int32_t model, int count) {
    m_b.PlugNewAdapter(model);
    m_b.SelectModel(model);
    const int end = ticks + count;
    // A cycle takes at most 8 ticks; the last three ticks bring the link up
    // once more, then the adapter is removed while the port is open, and
    // whatever is left of the round is spent without it.
    while (ticks + 8 + 3 <= end) {
      ++m_cycles;
      Expect(1);  // discovery
      if (m_cycles % 23 == 0) {
        // Pulled while the version is read: the state stays 1, the next
        // tick finds the line gone.
        m_b.line->HangUpAfterBytes(2);
        Expect(1);
        Expect(0);
        m_b.line->Replug();
        continue;
      }
      if (m_cycles % 61 == 0) {
        // The device is unplugged from the adapter for a tick.
        m_b.device->SetSilent(true);
        Expect(1);
        m_b.device->SetSilent(false);
      }
      Expect(2);
      for (int i = 0; i < 3; ++i) Expect(2);
      m_b.line->HangUp();
      Expect(0);
      Expect(0);
      m_b.line->Replug();
      if (HasFailure()) return;
    }
    Expect(1);
    Expect(2);
    m_b.RemoveAdapter();
    while (ticks < end) Expect(0);
    ASSERT_EQ(test::Peer(*m_b.dlg).m_link.hPort, kInvalidPort);
  }

 private:
  static bool HasFailure() { return testing::Test::HasFailure(); }

  void Expect(uint8_t state) {
    if (HasFailure()) return;
    const long long ms = m_b.Tick();
    ++ticks;
    longestTickMs = std::max(longestTickMs, ms);
    m_b.w->textLog.clear();
    m_b.w->invalidations.clear();
    m_b.w->timerLog.clear();
    ASSERT_EQ(test::Peer(*m_b.dlg).m_linkState, state) << "tick " << ticks;
    ASSERT_EQ(test::Peer(*m_b.dlg).m_link.hPort != kInvalidPort, state != 0) << "tick " << ticks;
  }

  FaultBench& m_b;
  int m_cycles = 0;
};

TEST(Soak, MonitorTicksWithPlugAndPullLeaveNothingBehind) {
  const int total = 10000;
  const int rounds = 20;
  FaultBench b;
  TickSoak soak(b);
  // Warm-up, through every kind of cycle.
  for (int r = 0; r < 8; ++r) soak.Round(r % 2 == 0 ? kModel2 : kModel1, 150);
  ASSERT_FALSE(HasFailure());

  const Snapshot before = Take(b);
  soak.ticks = 0;
  const auto start = Clock::now();
  for (int r = 0; r < rounds && !HasFailure(); ++r) {
    soak.Round(r % 2 == 0 ? kModel2 : kModel1, total / rounds);
  }
  const long long ms = MsSince(start);
  const Snapshot after = Take(b);

  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(soak.ticks, total);
  // The longest the protocol lets a tick block (probe, then version read),
  // with room for a loaded machine.
  EXPECT_LT(soak.longestTickMs, 650 + 1500 + 3000);
  Report("monitor ticks", soak.ticks, before, after, ms);
  ExpectNothingLeft(before, after);
}

// Update jobs back to back, both models, small images and no line timing.
// Every tenth job meets a device that refuses the first record (failure
// exit, port closed, monitor recovers through discovery).
class UpdateSoak {
 public:
  explicit UpdateSoak(FaultBench& b) : m_b(b) {}

  int completed = 0;
  int failed = 0;

  void Round(int32_t model, int jobs) {
    const std::vector<Bytes> records = {MakeRecord(30, 0x5A), MakeRecord(253, 0xC3),
                                        MakeRecord(0, 0), MakeRecord(17, 0x11)};
    m_b.PlugNewAdapter(model);
    m_b.SelectModel(model);
    ASSERT_TRUE(m_b.TickUntil(2, 2));
    for (int job = 0; job < jobs; ++job) {
      const bool refuse = (completed + failed) % 10 == 9;
      m_b.device->SetDefaultVerdict(refuse ? Answer::CrcError() : Answer::Accept());
      m_b.QueueImage(model, records);
      m_b.ClearWindowLogs();
      m_b.line->ClearReceived();
      m_b.RunUpdate();
      ASSERT_TRUE(SentOnlyTheFile(m_b.line->Received(), model, records));
      if (refuse) {
        ASSERT_EQ(m_b.w->messageBoxes.size(), 1u);
        ASSERT_EQ(m_b.w->messageBoxes[0].text, test::english::kCrcError);
        ASSERT_EQ(test::Peer(*m_b.dlg).m_link.hPort, kInvalidPort);
        ++failed;
        ASSERT_TRUE(m_b.TickUntil(0, 1));
      } else {
        ASSERT_TRUE(m_b.w->messageBoxes.empty()) << ToUtf8(m_b.w->messageBoxes[0].text);
        ASSERT_EQ(m_b.w->TextOf(IDC_STATUS_EDIT), test::english::kSuccessful);
        ++completed;
        // The monitor reads the version again after an update.
        m_b.Tick();
        ASSERT_EQ(test::Peer(*m_b.dlg).m_refreshVersion, 0);
      }
      ASSERT_TRUE(m_b.TickUntil(2, 2));
    }
    ASSERT_EQ(m_b.device->AcceptedImage().size() % JoinRecords(records).size(), 0u);
    m_b.RemoveAdapter();
    ASSERT_TRUE(m_b.TickUntil(0, 1));
    ASSERT_EQ(test::Peer(*m_b.dlg).m_link.hPort, kInvalidPort);
  }

 private:
  FaultBench& m_b;
};

TEST(Soak, HundredUpdatesInARowLeaveNothingBehind) {
  const int total = 100;
  FaultBench b;
  UpdateSoak soak(b);
  // Warm-up, a refused job included.
  soak.Round(kModel2, 5);
  soak.Round(kModel1, 5);
  ASSERT_FALSE(HasFailure());
  soak.completed = soak.failed = 0;

  const Snapshot before = Take(b);
  const auto start = Clock::now();
  for (int r = 0; r < total / 10 && !HasFailure(); ++r) {
    soak.Round(r % 2 == 0 ? kModel2 : kModel1, 10);
  }
  const long long ms = MsSince(start);
  const Snapshot after = Take(b);

  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(soak.completed + soak.failed, total);
  EXPECT_EQ(soak.failed, total / 10);
  Report("updates", soak.completed + soak.failed, before, after, ms);
  ExpectNothingLeft(before, after);
}

}  // namespace
}  // namespace quorvel
