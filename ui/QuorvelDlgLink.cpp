// The link monitor in the window: every tick of the link timer runs one step
// of the link probe (link/LinkProbe.h) and shows what it found as lamp
// colours, version and hint texts. The model buttons belong here too.

#include <algorithm>
#include <array>

#include "link/AdapterDiscovery.h"
#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "serial/PortList.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

namespace quorvel {

using namespace protocol;

void CQuorvelDlg::OnLinkTimer() {
  if (m_model == kModel1) ProbeModel1();
  else if (m_model == kModel2) ProbeModel2();
}

void CQuorvelDlg::ProbeModel1() { ProbeStep(kModel1); }
void CQuorvelDlg::ProbeModel2() { ProbeStep(kModel2); }

void CQuorvelDlg::ProbeStep(int32_t model) {
  if (m_linkState == kNoAdapterPort) {
    FindAdapterPort();
    if (m_linkState == kDeviceSilent) ShowLinkStatus();
    return;
  }
  const ProbeResult result = ProbeDevice(m_link, model, static_cast<LinkState>(m_linkState),
                                         m_refreshVersion != 0);
  if (result.versionRead) {
    std::copy(result.version.begin(), result.version.end(), m_version);
    // A re-read after an update keeps state 2; show the new version anyway,
    // the user has just updated and wants to see it.
    if (m_linkState == kDeviceReady) m_shownLinkState = 0xFF;
    m_refreshVersion = 0;
  }
  m_linkState = result.state;
  if (SetsLinkState(result.outcome)) InvalidateLamps();

  // A device that stays silent may be behind another adapter of the same
  // kind; with one adapter nothing changes.
  m_silentTicks = m_linkState == kDeviceSilent ? m_silentTicks + 1 : 0;
  if (m_silentTicks >= kSilentTicksBeforeNextAdapter && m_adapterCount > 1) MoveToNextAdapter();
}

void CQuorvelDlg::MoveToNextAdapter() {
  m_link.ClosePort();
  m_linkState = kNoAdapterPort;
  OpenAdapter(m_adapterPort);
  // Nothing opened (not even this adapter again): back to discovery.
  if (m_linkState == kNoAdapterPort) InvalidateLamps();
}

PortPlatform& CQuorvelDlg::Ports() {
  return m_env.portPlatform != nullptr ? *m_env.portPlatform : SystemPortPlatform();
}

bool CQuorvelDlg::ReadDeviceVersion() {
  std::array<uint8_t, kVersionReplyLen> version{};
  if (!ReadVersion(m_link, version)) return false;
  std::copy(version.begin(), version.end(), m_version);
  return true;
}

void CQuorvelDlg::FindAdapterPort() { OpenAdapter(Text()); }

void CQuorvelDlg::OpenAdapter(const Text& after) {
  const AdapterSearch search = OpenAdapterPort(m_link, Ports(), m_model, after);
  m_silentTicks = 0;
  if (!search.opened) return;
  m_adapterPort = search.portName;
  m_adapterCount = search.adapters;
  m_linkState = kDeviceSilent;
  InvalidateLamps();
}

void CQuorvelDlg::ShowLinkStatus() {
  if (m_linkState == m_shownLinkState) return;
  m_shownLinkState = m_linkState;
  switch (m_linkState) {
    case kNoAdapterPort:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
      m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_strHintNoAdapter);
      break;
    case kDeviceSilent:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
      m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_strHintNoDevice);
      break;
    case kDeviceReady:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, FormatVersion(m_model, m_version));
      m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_strHintReady);
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

void CQuorvelDlg::SelectModel(int32_t model, int32_t baudRate) {
  m_wnd->KillTimer(kLinkTimerId);
  m_model = model;
  m_baudRate = baudRate;
  m_linkState = kNoAdapterPort;
  m_silentTicks = 0;
  if (m_link.hPort != kInvalidPort) m_link.ClosePort();
  m_wnd->SetTimer(kLinkTimerId, kMonitorPeriodMs);
}

}  // namespace quorvel
