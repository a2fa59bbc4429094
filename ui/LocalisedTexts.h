#pragma once
// The thirteen interface texts of the main dialog: built-in English, or read
// from section "Lab" of the language file beside the program when the
// language switch selects it.

#include "base/WideText.h"
#include "ui/Environment.h"

namespace quorvel {

struct LocalisedTexts {
  Text m_strCaption;  // with the version suffix " V1.1.1"
  Text m_strSwVersionLabel;
  Text m_strConnStatusLabel;
  Text m_strDeviceLinkLabel;
  Text m_strUpdateButton;
  Text m_strUsbStateLabel;
  Text m_strDeviceStateLabel;
  Text m_strHintNoAdapter;
  Text m_strHintNoDevice;
  Text m_strHintReady;
  Text m_strTransferring;
  Text m_strSuccessful;
  Text m_strDeviceSelect;
};

// Reads the language switch and, if it selects the language file, the file;
// every failure falls back silently (English without a switch, "df" for
// whatever the language file does not give).
LocalisedTexts LoadTexts(const Environment& env);

}  // namespace quorvel
