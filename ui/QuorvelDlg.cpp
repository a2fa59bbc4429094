#include "ui/QuorvelDlg.h"

#include "link/Protocol.h"
#include "ui/AboutDlg.h"
#include "ui/DialogTemplates.h"

namespace quorvel {

using namespace protocol;

namespace {

constexpr ColorRef kRed = 0x0000FF;
constexpr ColorRef kGreen = 0x00FF00;

struct LampColours {
  ColorRef usb;
  ColorRef device;
};

LampColours ColoursFor(LinkState linkState) {
  switch (linkState) {
    case kDeviceSilent:
      return {kGreen, kRed};
    case kDeviceReady:
      return {kGreen, kGreen};
    default:
      return {kRed, kRed};
  }
}

}  // namespace

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
  const LocalisedTexts& t = m_texts;
  m_wnd->SetWindowText(t.m_strCaption);

  m_wnd->SetDlgItemText(IDC_SWVER_GROUP, t.m_strSwVersionLabel);
  m_wnd->SetDlgItemText(IDC_CONN_GROUP, t.m_strConnStatusLabel);
  m_wnd->SetDlgItemText(IDC_USB_LABEL, t.m_strUsbStateLabel);
  m_wnd->SetDlgItemText(IDC_DEVICE_LABEL, t.m_strDeviceStateLabel);
  m_wnd->SetDlgItemText(IDC_UPDATE, t.m_strUpdateButton);
  m_wnd->SetDlgItemText(IDC_LINK_GROUP, t.m_strDeviceLinkLabel);
  m_wnd->SetDlgItemText(IDC_VERSION_TEXT, u"");
  m_wnd->SetDlgItemText(IDC_HINT_TEXT, t.m_strHintNoAdapter);
  m_wnd->SetDlgItemText(IDC_SELECT_GROUP, t.m_strDeviceSelect);

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

void CQuorvelDlg::LoadLocalisedTexts() { m_texts = LoadTexts(m_env); }

// The two status lamps, or the icon while minimised.
void CQuorvelDlg::OnPaint() {
  if (m_wnd->IsIconic()) {
    m_wnd->IconEraseBackground();
    const int cxIcon = m_wnd->IconWidth();
    const int cyIcon = m_wnd->IconHeight();
    const Rect rect = m_wnd->GetClientRect();
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    m_wnd->DrawIcon(x, y, m_hIcon);
    return;
  }
  const LampColours colours = ColoursFor(m_linkState);
  m_wnd->Rectangle(m_rcUsbLamp, colours.usb);
  m_wnd->Rectangle(m_rcDeviceLamp, colours.device);
  m_wnd->DrawEdge(m_rcUsbLamp, EDGE_SUNKEN, BF_RECT);
  m_wnd->DrawEdge(m_rcDeviceLamp, EDGE_SUNKEN, BF_RECT);
  ShowLinkStatus();
  CDialogEx::OnPaint();
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

void CQuorvelDlg::CloseUnattended() {
  m_closeUnattended = true;
  OnCommand(IDCANCEL);
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
