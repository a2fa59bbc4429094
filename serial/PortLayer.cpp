#include "serial/PortLayer.h"

#include <atomic>

namespace quorvel {
namespace {

// Null: the running machine's clock.
std::atomic<MonotonicClock*> g_clock{nullptr};

MonotonicClock& CurrentClock() {
  MonotonicClock* clock = g_clock.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : SystemClock();
}

}  // namespace

void UseClock(MonotonicClock* clock) { g_clock.store(clock, std::memory_order_release); }

uint64_t MonotonicMs() { return CurrentClock().NowMs(); }

void SleepMs(uint32_t ms) { CurrentClock().Sleep(ms); }

}  // namespace quorvel
