#pragma once
// Discovery that moves on: several adapters share the common identifiers,
// and the device may be behind any of them. The monitor stays with the
// adapter it opened while the link reaches kDeviceReady there; once the link
// has stayed short of it on that adapter for kSilentTicksBeforeNextAdapter
// ticks, whatever the reason (no echo, no answer, the port refused), the
// next adapter in the list has its turn, round robin. With one adapter
// nothing changes.
//
//   AdapterRotation rotation;
//   each tick:  if (state == kNoAdapterPort) search = rotation.Open(link, ports, model);
//               else state = ProbeDevice(...).state;
//               if (rotation.Tick(state)) { link.ClosePort(); search = rotation.Open(...); }

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/WideText.h"
#include "link/AdapterDiscovery.h"
#include "link/LinkProbe.h"

namespace quorvel {

class AdapterRotation {
 public:
  // Discovery (OpenAdapterPort), starting with the adapter of the current
  // turn, or with the one after it once its turn is over. An adapter that
  // opens becomes the current one; a new one starts a fresh turn.
  AdapterSearch Open(SerialLink& link, PortPlatform& ports, int32_t model);

  // Counts a tick that ended in `state`. True when the current adapter's
  // turn is over and another adapter is listed: the caller closes the port
  // and calls Open, which moves on.
  bool Tick(LinkState state);

  // Forgets the adapters (a model change): discovery starts in list order.
  void Reset();

  // The port name of the current adapter; empty before one has opened.
  const Text& Current() const { return m_current; }

 private:
  bool TurnOver() const;

  Text m_current;
  size_t m_adapters = 0;
  int m_ticksShort = 0;
};

// What a search for an answering device found.
struct AnsweringAdapter {
  // A device answered its probe and its version was read; the link is open
  // on its adapter, at the model's rate.
  bool found = false;
  // The adapter's port name, as the port list names it.
  Text portName;
  // Adapter entries listed at the latest discovery.
  size_t adapters = 0;
};

// The link monitor's discovery and probes, with its rotation, without a
// window: one tick every monitor period until a device answers, `stop`
// returns true, or waitMs have passed and every listed adapter has had its
// turn. Waits on the monotonic clock of serial/PortLayer.h.
AnsweringAdapter FindAnsweringAdapter(SerialLink& link, PortPlatform& ports, int32_t model,
                                      uint32_t waitMs, const std::function<bool()>& stop);

}  // namespace quorvel
