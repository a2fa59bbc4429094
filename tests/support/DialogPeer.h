#pragma once
// The main dialog's state as tests read and set it, where the window does
// not show it: `Peer(dlg).m_linkState = static_cast<LinkState>(kDeviceReady);`. The references
// carry the dialog's own field names.

#include "support/DialogPeer.h"
#include "ui/QuorvelDlg.h"

namespace quorvel::test {

class DialogPeer {
 public:
  explicit DialogPeer(CQuorvelDlg& dlg)
      : m_texts(dlg.m_texts),
        m_rcUsbLamp(dlg.m_rcUsbLamp),
        m_rcDeviceLamp(dlg.m_rcDeviceLamp),
        m_rcLamps(dlg.m_rcLamps),
        m_linkState(dlg.m_linkState),
        m_version(dlg.m_version),
        m_link(dlg.m_link),
        m_refreshVersion(dlg.m_refreshVersion),
        m_model(dlg.m_model),
        m_baudRate(dlg.m_baudRate),
        m_env(dlg.m_env),
        m_jobRunning(dlg.m_jobRunning),
        m_closePending(dlg.m_closePending),
        m_dlg(dlg) {}

  LocalisedTexts& m_texts;
  Rect& m_rcUsbLamp;
  Rect& m_rcDeviceLamp;
  Rect& m_rcLamps;
  LinkState& m_linkState;
  uint8_t (&m_version)[7];
  SerialLink& m_link;
  int32_t& m_refreshVersion;
  protocol::DeviceModel& m_model;
  int32_t& m_baudRate;
  Environment& m_env;
  bool& m_jobRunning;
  bool& m_closePending;

  void SelectModel2() { m_dlg.SelectModel2(); }
  void FindAdapterPort() { m_dlg.FindAdapterPort(); }

 private:
  CQuorvelDlg& m_dlg;
};

inline DialogPeer Peer(CQuorvelDlg& dlg) { return DialogPeer(dlg); }

}  // namespace quorvel::test
