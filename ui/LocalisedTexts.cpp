#include "ui/QuorvelDlg.h"

namespace quorvel {

void CQuorvelDlg::LoadLocalisedTexts() {
  m_strCaption = u"Update Routine";
  m_strSwVersionLabel = u"Device S/W Version";
  m_strConnStatusLabel = u"Connection Status";
  m_strDeviceLinkLabel = u"Device link";
  m_strUpdateButton = u"Update";
  m_strUsbStateLabel = u"USB Adapter State";
  m_strDeviceStateLabel = u"Device State";
  m_strHintNoAdapter = u"Connect your USB adaptor to PC, Red signal change to Green.";
  m_strHintNoDevice = u"Connect your Device to USB adaptor, Red signal change to Green.";
  m_strHintReady = u"You can update the software.";
  m_strTransferring = u"Transferring..";
  m_strSuccessful = u"Updated successfully!";
  m_strDeviceSelect = u"Device Selection";
  m_strCaption = m_strCaption + u" V1.1.1";
}

}  // namespace quorvel
