#pragma once
// A close that cannot hold its caller. A driver may keep a close waiting for
// output it cannot send: a usb-serial port's closing wait is 30 s, and
// discarding the driver's buffer does not reach bytes already inside the
// adapter. The close runs on a thread of its own; the caller waits for it up
// to a bound and then goes on while the close finishes alone.

#include <cstdint>
#include <functional>

namespace quorvel {

// Runs `close` and returns once it has returned or `boundMs` have passed,
// whichever comes first; true when it has returned. `close` must hold
// nothing of the caller's but copies. Where no thread can be started, it
// runs on the caller's.
bool CloseWithinBound(std::function<void()> close, uint32_t boundMs);

// Waits up to `boundMs` for the closes still running and lets go of the
// threads that ran them; true when none is left. For a caller that counts
// what the process holds (a soak test).
bool WaitForCloses(uint32_t boundMs);

}  // namespace quorvel
