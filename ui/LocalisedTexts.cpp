#include "ui/LocalisedTexts.h"

#include <optional>

#include "base/Version.h"
#include "ui/LanguageSwitch.h"
#include "base/ProfileFile.h"
#include "ui/QuorvelDlg.h"
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
    {&LocalisedTexts::caption, u"DLG_CAPTION", u"Update Routine"},
    {&LocalisedTexts::swVersionLabel, u"ESCVER", u"Device S/W Version"},
    {&LocalisedTexts::connStatusLabel, u"ConnState", u"Connection Status"},
    {&LocalisedTexts::deviceLinkLabel, u"DeviceLink", u"Device link"},
    {&LocalisedTexts::updateButton, u"Update", u"Update"},
    {&LocalisedTexts::usbStateLabel, u"USBState", u"USB Adapter State"},
    {&LocalisedTexts::deviceStateLabel, u"DeviceState", u"Device State"},
    {&LocalisedTexts::hintNoAdapter, u"USBESCNOCONN",
     u"Connect your USB adaptor to PC, Red signal change to Green."},
    {&LocalisedTexts::hintNoDevice, u"USBCONNESCNO",
     u"Connect your Device to USB adaptor, Red signal change to Green."},
    {&LocalisedTexts::hintReady, u"USBESCCONN", u"You can update the software."},
    {&LocalisedTexts::transferring, u"Transferring", kTransferringText},
    {&LocalisedTexts::successful, u"SUCCESSFUL", kSuccessfulText},
    {&LocalisedTexts::deviceSelect, u"DEVICE_SELECT", u"Device Selection"},
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
  texts.caption += kVersionSuffix;
  return texts;
}

void CQuorvelDlg::LoadLocalisedTexts() {
  LocalisedTexts texts = LoadTexts(m_env);
  m_strCaption = std::move(texts.caption);
  m_strSwVersionLabel = std::move(texts.swVersionLabel);
  m_strConnStatusLabel = std::move(texts.connStatusLabel);
  m_strDeviceLinkLabel = std::move(texts.deviceLinkLabel);
  m_strUpdateButton = std::move(texts.updateButton);
  m_strUsbStateLabel = std::move(texts.usbStateLabel);
  m_strDeviceStateLabel = std::move(texts.deviceStateLabel);
  m_strHintNoAdapter = std::move(texts.hintNoAdapter);
  m_strHintNoDevice = std::move(texts.hintNoDevice);
  m_strHintReady = std::move(texts.hintReady);
  m_strTransferring = std::move(texts.transferring);
  m_strSuccessful = std::move(texts.successful);
  m_strDeviceSelect = std::move(texts.deviceSelect);
}

}  // namespace quorvel
