// One step of the link monitor on the device side: discovery while no port
// is open, otherwise the model's probe and, when due, the version read.

#include "link/LinkProbe.h"

#include <algorithm>

#include "link/AdapterDiscovery.h"
#include "serial/SerialLink.h"

namespace quorvel {

using namespace protocol;

namespace {

// The values that tell the two probes apart.
struct ProbeValues {
  uint8_t command;
  uint8_t answerLength;
  uint32_t answerWaitMs;
  uint8_t accepted;
  uint8_t acceptedAlt;
};

constexpr ProbeValues kProbe1{kProbeModel1, kProbeAnswerLenModel1, kProbeAnswerWaitModel1Ms,
                              kModel1Present, kModel1Present};
constexpr ProbeValues kProbe2{kProbeModel2, kProbeAnswerLenModel2, kProbeAnswerWaitModel2Ms,
                              kModel2Present, kModel2PresentAlt};

ProbeResult Result(ProbeOutcome outcome, LinkState state) {
  ProbeResult result;
  result.outcome = outcome;
  result.state = state;
  return result;
}

}  // namespace

bool SetsLinkState(ProbeOutcome outcome) {
  switch (outcome) {
    case ProbeOutcome::AdapterOpened:
    case ProbeOutcome::PortLost:
    case ProbeOutcome::DeviceSilent:
    case ProbeOutcome::VersionRead: return true;
    case ProbeOutcome::NoModel:
    case ProbeOutcome::NoAdapter:
    case ProbeOutcome::DeviceStillReady:
    case ProbeOutcome::VersionReadFailed: break;
  }
  return false;
}

bool ReadVersion(SerialLink& link, VersionReply& version) {
  if (!link.SendCommand(kVersionQuery)) return false;
  if (!link.ReadBytes(kVersionReplyLen, link.rxBuf, kVersionReplyWaitMs)) return false;
  std::copy(link.rxBuf, link.rxBuf + kVersionReplyLen, version.begin());
  return true;
}

ProbeResult ProbeDevice(SerialLink& link, int32_t model, LinkState state, bool refreshVersion,
                        const VersionRead& readVersion) {
  const ProbeValues& v = model == kModel1 ? kProbe1 : kProbe2;
  if (!link.SendCommand(v.command)) {
    link.ClosePort();
    ProbeResult lost = Result(ProbeOutcome::PortLost, kNoAdapterPort);
    lost.lostAt = link.commandFailed;
    return lost;
  }
  if (!link.ReadBytes(v.answerLength, link.rxBuf, v.answerWaitMs) ||
      (link.rxBuf[0] != v.accepted && link.rxBuf[0] != v.acceptedAlt)) {
    return Result(ProbeOutcome::DeviceSilent, kDeviceSilent);
  }
  if (state == kDeviceReady && !refreshVersion) {
    return Result(ProbeOutcome::DeviceStillReady, kDeviceReady);
  }
  ProbeResult result = Result(ProbeOutcome::VersionReadFailed, state);
  const bool read = readVersion ? readVersion(result.version) : ReadVersion(link, result.version);
  if (!read) return result;
  result.outcome = ProbeOutcome::VersionRead;
  result.state = kDeviceReady;
  result.versionRead = true;
  return result;
}

ProbeResult StepLink(SerialLink& link, PortPlatform& ports, int32_t model, LinkState state,
                     bool refreshVersion) {
  if (model != kModel1 && model != kModel2) return Result(ProbeOutcome::NoModel, state);
  if (state == kNoAdapterPort) {
    const AdapterSearch search = OpenAdapterPort(link, ports, model);
    return search.opened ? Result(ProbeOutcome::AdapterOpened, kDeviceSilent)
                         : Result(ProbeOutcome::NoAdapter, kNoAdapterPort);
  }
  return ProbeDevice(link, model, state, refreshVersion);
}

}  // namespace quorvel
