// Painting of the two status lamps, or of the icon while minimised.

#include "ui/QuorvelDlg.h"

namespace quorvel {

namespace {

constexpr ColorRef kRed = 0x0000FF;
constexpr ColorRef kGreen = 0x00FF00;

struct LampColours {
  ColorRef usb;
  ColorRef device;
};

LampColours ColoursFor(uint8_t linkState) {
  switch (linkState) {
    case 1: return {kGreen, kRed};
    case 2: return {kGreen, kGreen};
    default: return {kRed, kRed};
  }
}

}  // namespace

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

}  // namespace quorvel
