#pragma once
// The thirteen interface texts of the main dialog: built-in English, or read
// from section "Lab" of the language file beside the program when the
// language switch selects it.

#include "base/WideText.h"
#include "ui/Environment.h"

namespace quorvel {

struct LocalisedTexts {
  Text caption;  // with the version suffix " V1.1.1"
  Text swVersionLabel;
  Text connStatusLabel;
  Text deviceLinkLabel;
  Text updateButton;
  Text usbStateLabel;
  Text deviceStateLabel;
  Text hintNoAdapter;
  Text hintNoDevice;
  Text hintReady;
  Text transferring;
  Text successful;
  Text deviceSelect;
};

// Reads the language switch and, if it selects the language file, the file;
// every failure falls back silently (English without a switch, "df" for
// whatever the language file does not give).
LocalisedTexts LoadTexts(const Environment& env);

}  // namespace quorvel
