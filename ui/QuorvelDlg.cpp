#include "ui/QuorvelDlg.h"

#include "link/Protocol.h"
#include "ui/AboutDlg.h"
#include "ui/DialogTemplates.h"

namespace quorvel {

CQuorvelDlg::CQuorvelDlg(WindowSystem& windowSystem, Environment environment)
    : CDialogEx(IDD_QUORVEL_DIALOG, windowSystem, nullptr), m_env(std::move(environment)) {
  m_hIcon = windowSystem.LoadIcon(IDR_MAINFRAME);
  m_link.deviceDir = m_env.deviceDir;
  if (m_env.port != nullptr) m_link.port = m_env.port;
}

CQuorvelDlg::~CQuorvelDlg() {
  if (m_link.hPort != kInvalidPort) m_link.ClosePort();
}

bool CQuorvelDlg::OnInitDialog() {
  CDialogEx::OnInitDialog();

  // The About item; on Windows it sits in the system menu.
  const Text about = GetWindowSystem().LoadString(IDS_ABOUTBOX);
  if (!about.empty()) m_wnd->AppendSystemMenuItem(IDM_ABOUTBOX, about);

  m_wnd->SetIcon(m_hIcon, true);
  m_wnd->SetIcon(m_hIcon, false);

  LoadLocalisedTexts();
  m_wnd->SetWindowText(m_strCaption);

  m_wnd->SetDlgItemText(IDC_SWVER_GROUP, m_strSwVersionLabel);
  m_wnd->SetDlgItemText(IDC_CONN_GROUP, m_strConnStatusLabel);
  m_wnd->SetDlgItemText(IDC_USB_LABEL, m_strUsbStateLabel);
  m_wnd->SetDlgItemText(IDC_DEVICE_LABEL, m_strDeviceStateLabel);
  m_wnd->SetDlgItemText(IDC_UPDATE, m_strUpdateButton);
  m_wnd->SetDlgItemText(IDC_LINK_GROUP, m_strDeviceLinkLabel);
  m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
  m_wnd->SetDlgItemText(IDC_HINT_TEXT, m_strHintNoAdapter);
  m_wnd->SetDlgItemText(IDC_SELECT_GROUP, m_strDeviceSelect);

  m_rcUsbLamp = m_wnd->GetDlgItemClientRect(IDC_USB_LAMP);
  m_rcDeviceLamp = m_wnd->GetDlgItemClientRect(IDC_DEVICE_LAMP);
  m_rcLamps = Rect{m_rcUsbLamp.left, m_rcUsbLamp.top, m_rcDeviceLamp.right,
                   m_rcDeviceLamp.bottom};

  m_wnd->SetTimer(kLinkTimerId, protocol::kMonitorPeriodMs);
  return true;
}

void CQuorvelDlg::OnSysCommand(unsigned nID, long lParam) {
  if (((nID & 0xFFF0u) & 0xFFFFu) == IDM_ABOUTBOX) {
    // A modal box would hold a job up until it is closed; one asked for
    // during a job (a command already queued) is dropped.
    if (m_jobRunning) return;
    CAboutDlg about(GetWindowSystem(), this);
    about.DoModal();
  } else {
    CDialogEx::OnSysCommand(nID, lParam);
  }
}

IconHandle CQuorvelDlg::OnQueryDragIcon() { return m_hIcon; }

void CQuorvelDlg::OnTimer(uintptr_t nIDEvent) {
  if (nIDEvent == kLinkTimerId) OnLinkTimer();
  CDialogEx::OnTimer(nIDEvent);
}

void CQuorvelDlg::OnCommand(int id) {
  switch (id) {
    case IDC_UPDATE: OnUpdateClicked(); break;
    case IDC_MODEL1_RADIO: SelectModel1(); break;
    case IDC_MODEL2_RADIO: SelectModel2(); break;
    default: CDialogEx::OnCommand(id); break;
  }
}

// A close request while a job holds the port waits for the job's end, so the
// device is never left halfway through an update.
void CQuorvelDlg::OnOK() {
  if (m_jobRunning) {
    m_closePending = true;
    return;
  }
  CDialogEx::OnOK();
}

void CQuorvelDlg::OnCancel() {
  if (m_jobRunning) {
    m_closePending = true;
    return;
  }
  CDialogEx::OnCancel();
}

void CQuorvelDlg::InvalidateLamps() { m_wnd->InvalidateRect(m_rcLamps, true); }

}  // namespace quorvel
