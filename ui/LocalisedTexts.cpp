#include "ui/LocalisedTexts.h"

#include <optional>

#include "base/Version.h"
#include "ui/LanguageSwitch.h"
#include "base/ProfileFile.h"
#include "update/UpdateMessages.h"

namespace quorvel {

namespace {

struct TextEntry {
  Text LocalisedTexts::*field;
  const char16_t* iniKey;
  const char16_t* english;
};

// In the order in which the texts are read.
constexpr TextEntry kTexts[] = {
    {&LocalisedTexts::m_strCaption, u"DLG_CAPTION", u"Update Routine"},
    {&LocalisedTexts::m_strSwVersionLabel, u"ESCVER", u"Device S/W Version"},
    {&LocalisedTexts::m_strConnStatusLabel, u"ConnState", u"Connection Status"},
    {&LocalisedTexts::m_strDeviceLinkLabel, u"DeviceLink", u"Device link"},
    {&LocalisedTexts::m_strUpdateButton, u"Update", u"Update"},
    {&LocalisedTexts::m_strUsbStateLabel, u"USBState", u"USB Adapter State"},
    {&LocalisedTexts::m_strDeviceStateLabel, u"DeviceState", u"Device State"},
    {&LocalisedTexts::m_strHintNoAdapter, u"USBESCNOCONN",
     u"Connect your USB adaptor to PC, Red signal change to Green."},
    {&LocalisedTexts::m_strHintNoDevice, u"USBCONNESCNO",
     u"Connect your Device to USB adaptor, Red signal change to Green."},
    {&LocalisedTexts::m_strHintReady, u"USBESCCONN", u"You can update the software."},
    {&LocalisedTexts::m_strTransferring, u"Transferring", kTransferringText},
    {&LocalisedTexts::m_strSuccessful, u"SUCCESSFUL", kSuccessfulText},
    {&LocalisedTexts::m_strDeviceSelect, u"DEVICE_SELECT", u"Device Selection"},
};

constexpr const char16_t* kSection = u"Lab";
constexpr const char16_t* kDefault = u"df";
// Each value is read into a buffer of 260 characters.
constexpr size_t kValueCapacity = 260;
constexpr const char16_t* kVersionSuffix = u" V" QUORVEL_VERSION;

}  // namespace

LocalisedTexts LoadTexts(const Environment& env) {
  LocalisedTexts texts;
  const std::optional<Text> language =
      env.languageSwitch ? env.languageSwitch() : ReadLanguageSwitch(env.languageSwitchPath);
  if (SelectsLanguageFile(language)) {
    // Read once; a missing or unreadable file gives the default everywhere.
    const ProfileFile file =
        ProfileFile::Load(LanguageFilePath(env.programPath)).value_or(ProfileFile());
    for (const TextEntry& entry : kTexts) {
      texts.*entry.field = file.GetString(kSection, entry.iniKey, kDefault, kValueCapacity);
    }
  } else {
    for (const TextEntry& entry : kTexts) texts.*entry.field = entry.english;
  }
  texts.m_strCaption += kVersionSuffix;
  return texts;
}

}  // namespace quorvel
