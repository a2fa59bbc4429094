// The link monitor in the window: every tick of the link timer runs one step
// of the link probe (link/LinkProbe.h) and shows what it found as lamp
// colours, version and hint texts. The model buttons belong here too.

#include <algorithm>
#include <array>
#include <string>

#include "link/AdapterDiscovery.h"
#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "serial/PortError.h"
#include "serial/PortList.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

namespace quorvel {

using namespace protocol;

namespace {

const char* StateName(LinkState state) {
  switch (state) {
    case kNoAdapterPort: return "no adapter";
    case kDeviceSilent: return "adapter found, device silent";
    case kDeviceReady: return "device ready";
    default: return "unknown";
  }
}

}  // namespace

void CQuorvelDlg::Trace(const std::string& line) const {
  if (m_env.trace) m_env.trace(line);
}

void CQuorvelDlg::OnLinkTimer() {
  const LinkState before = m_linkState;
  if (m_model == kModel1) ProbeModel1();
  else if (m_model == kModel2) ProbeModel2();
  if (m_linkState != before) {
    std::string line = "link state " + std::to_string(before) + " -> " +
                       std::to_string(m_linkState) + ": " + StateName(m_linkState);
    if (m_linkState == kDeviceReady) line += ", version " + ToUtf8(FormatVersion(m_model, m_version));
    Trace(line);
  }
}

void CQuorvelDlg::ProbeModel1() { ProbeStep(kModel1); }
void CQuorvelDlg::ProbeModel2() { ProbeStep(kModel2); }

void CQuorvelDlg::ProbeStep(DeviceModel model) {
  if (m_linkState == kNoAdapterPort) {
    FindAdapterPort();
    if (m_linkState == kDeviceSilent) ShowLinkStatus();
  } else {
    Probe(model);
  }
  // The device may be behind another adapter of the same kind; with one
  // adapter nothing changes.
  if (m_rotation.Tick(m_linkState)) MoveToNextAdapter();
}

void CQuorvelDlg::Probe(DeviceModel model) {
  const ProbeResult result =
      ProbeDevice(m_link, model, m_linkState, m_refreshVersion != 0, [this](VersionReply& version) {
        if (!ReadDeviceVersion()) return false;
        std::copy(m_version, m_version + 7, version.begin());
        return true;
      });
  if (result.versionRead) {
    // A re-read after an update keeps state 2; show the new version anyway,
    // the user has just updated and wants to see it.
    if (m_linkState == kDeviceReady) m_shownLinkState = kStateShownAnew;
    m_refreshVersion = 0;
  }
  m_linkState = result.state;
  if (SetsLinkState(result.outcome)) InvalidateLamps();
}

void CQuorvelDlg::MoveToNextAdapter() {
  Trace("no device reached behind " + ToUtf8(m_rotation.Current()) + ": trying the next adapter");
  m_link.ClosePort();
  m_linkState = kNoAdapterPort;
  FindAdapterPort();
  // Nothing opened (not even this adapter again): back to discovery.
  if (m_linkState == kNoAdapterPort) InvalidateLamps();
}

PortPlatform& CQuorvelDlg::Ports() {
  return m_env.portPlatform != nullptr ? *m_env.portPlatform : SystemPortPlatform();
}

// The version read of the probe step: stored in m_version only when the
// whole reply came.
bool CQuorvelDlg::ReadDeviceVersion() {
  VersionReply version{};
  if (!ReadVersion(m_link, version)) return false;
  std::copy(version.begin(), version.end(), m_version);
  return true;
}

void CQuorvelDlg::FindAdapterPort() {
  const AdapterSearch search = m_rotation.Open(m_link, Ports(), m_model);
  // An adapter that is there but that the user may not open, or that
  // another program holds, is told once, in the hint field and outside the
  // window, until the reason changes. Other failures (a port gone with its
  // adapter) leave the usual hint and show only in the trace.
  const Text reason = search.opened ? Text() : PortErrorMessage(search.openError);
  const PortFailure failure = ClassifyPortError(search.openError);
  const bool told = !search.opened && (failure == PortFailure::Permission || failure == PortFailure::Busy);
  const Text problem = told ? reason : Text();
  if (!reason.empty() && reason != m_lastPortFailure) Trace("port not opened: " + ToUtf8(reason));
  m_lastPortFailure = reason;
  if (problem != m_portProblem) {
    m_portProblem = problem;
    if (!problem.empty() && m_env.reportLine) m_env.reportLine(ToUtf8(problem));
    if (m_linkState == kNoAdapterPort) {
      m_shownLinkState = kStateShownAnew;  // the hint is shown anew
      InvalidateLamps();
    }
  }
  if (!search.opened) return;
  Trace("port " + ToUtf8(search.portName) + " opened at " +
        std::to_string(BaudRate(m_model)) + " baud");
  m_linkState = kDeviceSilent;
  InvalidateLamps();
}

void CQuorvelDlg::ShowLinkStatus() {
  if (m_linkState == m_shownLinkState) return;
  m_shownLinkState = m_linkState;
  switch (m_linkState) {
    case kNoAdapterPort:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
      m_wnd->SetDlgItemText(IDC_HINT_TEXT,
                            m_portProblem.empty() ? m_texts.m_strHintNoAdapter : m_portProblem);
      break;
    case kDeviceSilent:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
      m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_texts.m_strHintNoDevice);
      break;
    case kDeviceReady:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, FormatVersion(m_model, m_version));
      m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_texts.m_strHintReady);
      break;
    default:
      break;
  }
}

void CQuorvelDlg::SelectModel1() {
  if (m_jobRunning) return;
  SelectModel(kModel1, kBaudModel1);
}
void CQuorvelDlg::SelectModel2() {
  if (m_jobRunning) return;
  SelectModel(kModel2, kBaudModel2);
}

void CQuorvelDlg::SelectModel(DeviceModel model, int32_t baudRate) {
  m_wnd->KillTimer(kLinkTimerId);
  m_model = model;
  m_baudRate = baudRate;
  m_linkState = kNoAdapterPort;
  m_rotation.Reset();
  if (m_link.hPort != kInvalidPort) m_link.ClosePort();
  Trace("model " + ToUtf8(protocol::ModelName(model)) + " selected, " +
        std::to_string(baudRate) + " baud");
  m_wnd->SetTimer(kLinkTimerId, kMonitorPeriodMs);
}

}  // namespace quorvel
