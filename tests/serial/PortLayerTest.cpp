// The POSIX port layer where the channel cannot reach it: writes stalled by a
// full buffer, and waits interrupted by signals.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "serial/BoundedClose.h"
#include "serial/PortLayer.h"
#include "serial/SerialLink.h"
#include "sim/SimulatedLine.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal whose master nobody reads, so the slave's output fills up.
struct UnreadPty {
  UnreadPty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 &&
        ptsname_r(master, name, sizeof name) == 0) {
      slavePath = name;
    }
  }
  ~UnreadPty() {
    if (master >= 0) close(master);
  }
  int master = -1;
  std::string slavePath;
};

TEST(PortLayer, WriteStalledOnAFullBufferFailsWhenTheFarEndGoesAway) {
  UnreadPty pty;
  ASSERT_FALSE(pty.slavePath.empty());
  const PortHandle port = PortOpen(pty.slavePath, 19200);
  ASSERT_NE(port, kInvalidPort);

  // Far more than a pseudo-terminal buffers: the write must wait for room.
  static std::vector<uint8_t> data(4 << 20, 0x5A);
  auto result = std::make_shared<std::promise<bool>>();
  std::future<bool> done = result->get_future();
  std::thread([result, port] {
    result->set_value(PortWriteAll(port, data.data(), data.size(), 600'000));
  }).detach();

  EXPECT_EQ(done.wait_for(300ms), std::future_status::timeout) << "a stalled write waits";
  close(pty.master);
  pty.master = -1;
  ASSERT_EQ(done.wait_for(5s), std::future_status::ready) << "write still hanging after hang-up";
  EXPECT_FALSE(done.get());
  PortClose(port);
}

// An adapter that has stopped sending (output stopped, as after an XOFF,
// over a full buffer): a write fails once its line time plus the margin has
// passed, and the close discards what is queued instead of waiting.
TEST(PortLayer, WriteToAStalledPortFailsInTimeAndTheCloseDiscardsTheRest) {
  UnreadPty pty;
  const size_t slash = pty.slavePath.rfind('/');
  SerialLink link;
  link.deviceDir = pty.slavePath.substr(0, slash + 1);
  ASSERT_TRUE(link.OpenPort(FromUtf8(pty.slavePath.substr(slash + 1)), 19200));
  uint8_t block[4096] = {};
  ssize_t n = 0;
  size_t queued = 0;
  while ((n = write(link.hPort, block, sizeof block)) > 0) queued += static_cast<size_t>(n);
  ASSERT_EQ(tcflow(link.hPort, TCOOFF), 0);
  int hookCalls = 0;  // a window kept answering meanwhile
  link.whileWaiting = [&hookCalls] { ++hookCalls; };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.WriteBytes(255, block));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 133 + kWriteMarginMs);  // 255 bytes at 19200 baud, then the margin
  EXPECT_LT(ms, 133 + kWriteMarginMs + 10'000);
  EXPECT_GT(hookCalls, 0);
  link.ClosePort();
  fcntl(pty.master, F_SETFL, O_NONBLOCK);
  size_t left = 0;
  while ((n = read(pty.master, block, sizeof block)) > 0) left += static_cast<size_t>(n);
  EXPECT_LT(left, queued) << "the close kept what was queued";
}

// A close that the driver holds (a usb-serial port's closing wait with bytes
// inside the adapter) lets the caller go at the bound and ends on its own
// later; one that the driver ends at once is waited for.
TEST(PortLayer, CloseHoldsTheCallerNoLongerThanItsBound) {
  std::promise<void> driver;
  std::shared_future<void> letGo = driver.get_future().share();
  auto closed = std::make_shared<std::atomic<bool>>(false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CloseWithinBound([letGo, closed] { letGo.wait(); *closed = true; }, kPortLetGoMs));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, kPortLetGoMs);
  EXPECT_LT(ms, kPortLetGoMs + 10'000);
  driver.set_value();
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (!*closed && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(*closed) << "the held close never ended";
  auto ran = std::make_shared<std::atomic<bool>>(false);
  EXPECT_TRUE(CloseWithinBound([ran] { *ran = true; }, 10'000));
  EXPECT_TRUE(*ran);
}

std::atomic<int> g_signals{0};
void CountSignal(int) { ++g_signals; }

// Interrupts the calling thread with SIGUSR1 every few milliseconds, with no
// automatic restart of system calls, while it lives.
class SignalStorm {
 public:
  SignalStorm() : m_target(pthread_self()) {
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, &m_previous);
    m_thread = std::thread([this] {
      while (!m_stop) {
        pthread_kill(m_target, SIGUSR1);
        std::this_thread::sleep_for(3ms);
      }
    });
  }
  ~SignalStorm() {
    m_stop = true;
    m_thread.join();
    sigaction(SIGUSR1, &m_previous, nullptr);
  }

 private:
  pthread_t m_target;
  struct sigaction m_previous {};
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

TEST(PortLayer, SignalsNeitherShortenNorBreakWaits) {
  sim::SimulatedLine line;
  const PortHandle port = PortOpen(line.DevicePath(), 19200);
  ASSERT_NE(port, kInvalidPort);
  g_signals = 0;
  SignalStorm storm;

  uint64_t start = MonotonicMs();
  SleepMs(200);
  EXPECT_GE(MonotonicMs() - start, 200u);

  uint8_t buffer[3] = {};
  start = MonotonicMs();
  EXPECT_EQ(PortReadAll(port, buffer, 1, 300), 0u);
  EXPECT_GE(MonotonicMs() - start, 300u);

  line.Send({7, 8, 9}, 150);
  EXPECT_EQ(PortReadAll(port, buffer, 3, 2000), 3u);
  const uint8_t out[] = {1, 2, 3};
  EXPECT_TRUE(PortWriteAll(port, out, sizeof out, 1000));
  EXPECT_GT(g_signals.load(), 10);
  PortClose(port);
}

// A wait hook is called while a read waits, and changes neither its deadline
// nor what it takes.
TEST(PortLayer, WaitHookRunsDuringTheWaitWithoutChangingIt) {
  sim::SimulatedLine line;
  const PortHandle port = PortOpen(line.DevicePath(), 19200);
  ASSERT_NE(port, kInvalidPort);
  int calls = 0;
  const WaitHook hook = [&calls] { ++calls; };

  uint8_t buffer[3] = {};
  uint64_t start = MonotonicMs();
  EXPECT_EQ(PortReadAll(port, buffer, 1, 300, &hook), 0u);
  EXPECT_GE(MonotonicMs() - start, 300u);
  EXPECT_GE(calls, 1);

  line.Send({7, 8, 9}, 150);
  start = MonotonicMs();
  EXPECT_EQ(PortReadAll(port, buffer, 3, 2000, &hook), 3u);
  EXPECT_LT(MonotonicMs() - start, 2000u);
  EXPECT_EQ(buffer[2], 9);
  PortClose(port);
}

}  // namespace
}  // namespace quorvel
