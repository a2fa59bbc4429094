// The link monitor: every tick of timer 1 either looks for the adapter or
// probes the device, keeps the link state current and reads the version.

#include "link/Protocol.h"
#include "ui/DialogTemplates.h"
#include "ui/QuorvelDlg.h"

namespace quorvel {

using namespace protocol;

struct CQuorvelDlg::ProbeValues {
  uint8_t command;
  uint8_t answerLength;
  uint32_t answerWaitMs;
  uint8_t accepted;
  uint8_t acceptedAlt;
};

namespace {
constexpr CQuorvelDlg::ProbeValues kProbe1{kProbeModel1, kProbeAnswerLenModel1,
                                           kProbeAnswerWaitModel1Ms, kModel1Present,
                                           kModel1Present};
constexpr CQuorvelDlg::ProbeValues kProbe2{kProbeModel2, kProbeAnswerLenModel2,
                                           kProbeAnswerWaitModel2Ms, kModel2Present,
                                           kModel2PresentAlt};
}  // namespace

void CQuorvelDlg::OnLinkTimer() {
  if (m_model == kModel1) ProbeModel1();
  else if (m_model == kModel2) ProbeModel2();
}

void CQuorvelDlg::ProbeModel1() { ProbeStep(kProbe1); }
void CQuorvelDlg::ProbeModel2() { ProbeStep(kProbe2); }

void CQuorvelDlg::ProbeStep(const ProbeValues& v) {
  if (m_linkState == 0) {
    FindAdapterPort();
    if (m_linkState == 1) ShowLinkStatus();
    return;
  }
  if (!m_link.SendCommand(v.command)) {
    m_link.ClosePort();
    m_linkState = 0;
    InvalidateLamps();
    return;
  }
  if (!m_link.ReadBytes(v.answerLength, m_link.rxBuf, v.answerWaitMs) ||
      (m_link.rxBuf[0] != v.accepted && m_link.rxBuf[0] != v.acceptedAlt)) {
    m_linkState = 1;
    InvalidateLamps();
    return;
  }
  if (m_linkState == 2 && m_refreshVersion == 0) return;
  if (!ReadDeviceVersion()) return;
  const bool refreshedInState2 = m_linkState == 2;
  m_linkState = 2;
  m_refreshVersion = 0;
  // A re-read after an update keeps state 2; show the new version anyway, the
  // user has just updated and wants to see it.
  if (refreshedInState2) m_shownLinkState = 0xFF;
  InvalidateLamps();
}

bool CQuorvelDlg::ReadDeviceVersion() {
  if (!m_link.SendCommand(kVersionQuery)) return false;
  if (!m_link.ReadBytes(kVersionReplyLen, m_link.rxBuf, kVersionReplyWaitMs)) return false;
  for (int i = 0; i < kVersionReplyLen; ++i) m_version[i] = m_link.rxBuf[i];
  return true;
}

void CQuorvelDlg::ShowLinkStatus() {
  if (m_linkState == m_shownLinkState) return;
  m_shownLinkState = m_linkState;
  switch (m_linkState) {
    case 0:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
      m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_strHintNoAdapter);
      break;
    case 1:
      m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
      m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_strHintNoDevice);
      break;
    case 2:
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
  m_wnd->KillTimer(1);
  m_model = model;
  m_baudRate = baudRate;
  m_linkState = 0;
  if (m_link.hPort != kInvalidPort) m_link.ClosePort();
  m_wnd->SetTimer(1, kMonitorPeriodMs);
}

}  // namespace quorvel
