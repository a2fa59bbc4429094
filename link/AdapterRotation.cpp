// Discovery that gives every matching adapter its turn, and the search for
// an answering device that a front end without a monitor runs.

#include "link/AdapterRotation.h"

#include <algorithm>

#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "serial/SerialLink.h"

namespace quorvel {

bool AdapterRotation::TurnOver() const {
  return m_ticksShort >= kSilentTicksBeforeNextAdapter && m_adapters > 1;
}

AdapterSearch AdapterRotation::Open(SerialLink& link, PortPlatform& ports, int32_t model) {
  const bool moveOn = TurnOver();
  AdapterSearch search =
      OpenAdapterPort(link, ports, model, m_current, moveOn ? ScanStart::AfterIt : ScanStart::AtIt);
  if (!search.listFailed) m_adapters = search.adapters;
  if (moveOn || (search.opened && search.portName != m_current)) m_ticksShort = 0;
  if (search.opened) m_current = search.portName;
  return search;
}

bool AdapterRotation::Tick(LinkState state) {
  if (state == kDeviceReady) {
    m_ticksShort = 0;
    return false;
  }
  m_ticksShort = std::min(m_ticksShort + 1, kSilentTicksBeforeNextAdapter);
  return TurnOver();
}

void AdapterRotation::Reset() {
  m_current.clear();
  m_adapters = 0;
  m_ticksShort = 0;
}

AnsweringAdapter FindAnsweringAdapter(SerialLink& link, PortPlatform& ports, int32_t model,
                                      uint32_t waitMs, const std::function<bool()>& stop) {
  AnsweringAdapter answer;
  AdapterRotation rotation;
  LinkState state = link.hPort == kInvalidPort ? kNoAdapterPort : kDeviceSilent;
  const uint64_t deadline = MonotonicMs() + waitMs;
  for (size_t ticks = 1;; ++ticks) {
    if (state == kNoAdapterPort) {
      const AdapterSearch search = rotation.Open(link, ports, model);
      if (!search.listFailed) answer.adapters = search.adapters;
      if (search.opened) state = kDeviceSilent;
    } else {
      state = ProbeDevice(link, model, state, false).state;
    }
    if (state == kDeviceReady) {
      answer.found = true;
      answer.portName = rotation.Current();
      return answer;
    }
    if (rotation.Tick(state)) {
      link.ClosePort();
      state = rotation.Open(link, ports, model).opened ? kDeviceSilent : kNoAdapterPort;
    }
    // Every adapter has its turn, however short the wait.
    const bool everyTurn = ticks >= answer.adapters * kSilentTicksBeforeNextAdapter;
    if (stop() || (everyTurn && MonotonicMs() >= deadline)) return answer;
    SleepMs(protocol::kMonitorPeriodMs);
  }
}

}  // namespace quorvel
