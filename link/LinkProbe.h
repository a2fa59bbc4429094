#pragma once
// The device side of the link monitor, free of any window: one probe of the
// device on an open port, the version read, and the link state that follows.
// The window's monitor runs one step per timer tick; a command-line flasher
// runs a step after opening the port:
//
//   SerialLink link;  ... opened with OpenAdapterPort or OpenNamedPort
//   const ProbeResult r = ProbeDevice(link, protocol::kModel2, kDeviceSilent, false);
//   if (r.state == kDeviceReady)
//     print(protocol::FormatVersion(protocol::kModel2, r.version.data()));
//
// All bytes, counts and waits are those of link/Protocol.h.

#include <array>
#include <cstdint>
#include <functional>

#include "link/Protocol.h"
#include "serial/SerialLink.h"

namespace quorvel {

class PortPlatform;

// The state of the link, as the lamps show it. The values are those the
// window keeps in its link state field.
enum LinkState : uint8_t {
  kNoAdapterPort = 0,  // no adapter port open
  kDeviceSilent = 1,   // adapter port open, the device silent or not yet asked
  kDeviceReady = 2,    // the device answered its probe and its version was read
};

// Ticks of the link monitor (500 ms each) that the link may stay short of
// kDeviceReady on one adapter, for whatever reason, before the monitor tries
// another adapter, when more than one is plugged in: several adapters share
// the common identifiers, and the device may be behind any of them
// (link/AdapterRotation.h).
constexpr int kSilentTicksBeforeNextAdapter = 6;

// What one step did.
enum class ProbeOutcome {
  NoModel,            // no model given: nothing was done
  NoAdapter,          // state 0 and no adapter port could be opened: no change
  AdapterOpened,      // 0 -> 1: discovery opened the adapter's port
  PortLost,           // purge, probe write or its echo failed: port closed, -> 0
  DeviceSilent,       // answer missing, short, late or not accepted: -> 1
  DeviceStillReady,   // answer accepted in state 2, no version asked: no change
  VersionReadFailed,  // answer accepted, version read failed: no change
  VersionRead,        // answer accepted, version read: -> 2
};

// The device's version reply, as received.
using VersionReply = std::array<uint8_t, protocol::kVersionReplyLen>;

struct ProbeResult {
  ProbeOutcome outcome = ProbeOutcome::NoModel;
  // The link state after the step.
  LinkState state = kNoAdapterPort;
  // PortLost: the step of the probe command that failed.
  CommandStep lostAt = CommandStep::None;
  // True when `version` holds a version reply read in this step.
  bool versionRead = false;
  VersionReply version{};
};

// True for the outcomes that set the link state, after which the window
// repaints its lamps (also when the value stayed the same).
bool SetsLinkState(ProbeOutcome outcome);

// Sends the version query and reads the 7-byte reply into `version`. False,
// with `version` unchanged, when the query or the reply fails; the port and
// the link state are left alone.
bool ReadVersion(SerialLink& link, VersionReply& version);

// The version read a probe step makes: ReadVersion on the probed link
// unless the caller reads (and keeps) the version its own way.
using VersionRead = std::function<bool(VersionReply& version)>;

// One probe of the device of `model` (kModel1 or kModel2) on the open port,
// coming from `state` (1 or 2): the probe command, its answer and, when the
// device answered after having been silent or `refreshVersion` is set, the
// version read through `readVersion` (ReadVersion when null). A failure of
// the line closes the port.
ProbeResult ProbeDevice(SerialLink& link, int32_t model, LinkState state, bool refreshVersion,
                        const VersionRead& readVersion = nullptr);

// One tick of the link monitor: in state 0 a search for the adapter
// (OpenAdapterPort, the device is not probed in the same tick), otherwise
// ProbeDevice. With a model other than kModel1 and kModel2 nothing happens
// (NoModel, the state as given).
ProbeResult StepLink(SerialLink& link, PortPlatform& ports, int32_t model, LinkState state,
                     bool refreshVersion);

}  // namespace quorvel
