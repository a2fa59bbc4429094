#include "ui/DialogTemplates.h"

#include "base/Version.h"
#include "link/Protocol.h"
#include "ui/Window.h"

namespace quorvel {

namespace {

const DialogTemplate kMainDialog{
    IDD_QUORVEL_DIALOG, 240, 154, u" ", u"MS PGothic", 12, 700, true, true,
    {
        {kNoId, ControlKind::GroupBox, 7, 106, 226, 41, u""},
        {IDC_UPDATE, ControlKind::PushButton, 136, 58, 90, 15, u"Update", kTabStop},
        {IDC_DEVICE_LABEL, ControlKind::StaticText, 41, 83, 81, 8, u"Device State", kGroup},
        {IDC_SWVER_GROUP, ControlKind::GroupBox, 7, 3, 97, 35, u""},
        {kNoId, ControlKind::StaticBitmap, 170, 8, 55, 29, u"", 0, IDB_LOGO},
        {IDC_CONN_GROUP, ControlKind::GroupBox, 7, 41, 119, 64, u""},
        {IDC_LINK_GROUP, ControlKind::GroupBox, 130, 41, 103, 64, u""},
        {IDC_STATUS_EDIT, ControlKind::Edit, 136, 80, 90, 12, u"",
         kTabStop | kBorder | kCentered | kAutoHScroll | kReadOnly},
        {IDC_USB_LABEL, ControlKind::StaticText, 41, 60, 81, 8, u"USB State", kGroup},
        {IDC_USB_LAMP, ControlKind::OwnerDrawStatic, 21, 58, 12, 12, u""},
        {IDC_DEVICE_LAMP, ControlKind::OwnerDrawStatic, 21, 81, 12, 12, u""},
        {IDC_VERSION_TEXT, ControlKind::StaticText, 31, 19, 64, 8, u"Static", kGroup},
        {IDC_HINT_TEXT, ControlKind::StaticText, 12, 115, 219, 27, u"Static", kGroup},
        {IDC_SELECT_GROUP, ControlKind::GroupBox, 107, 3, 59, 35, u""},
        {IDC_MODEL1_RADIO, ControlKind::AutoRadioButton, 115, 13, 44, 10,
         protocol::ModelName(protocol::kModel1), kGroup},
        {IDC_MODEL2_RADIO, ControlKind::AutoRadioButton, 115, 25, 36, 10,
         protocol::ModelName(protocol::kModel2)},
    }};

const DialogTemplate kAboutDialog{
    IDD_ABOUTBOX, 170, 62, u"About Update Routine", u"MS Shell Dlg", 9, 400, false, false,
    {
        {kNoId, ControlKind::StaticIcon, 14, 14, 20, 20, u"", 0, IDR_MAINFRAME},
        {kNoId, ControlKind::StaticText, 42, 14, 114, 8, u"Update Routine\uFF0CV" QUORVEL_VERSION, kNoPrefix},
        {IDOK, ControlKind::DefPushButton, 113, 41, 50, 14, u"确定", kTabStop | kGroup},
        {kNoId, ControlKind::StaticText, 42, 26, 114, 8, u"Build 2019-03-22"},
    }};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
  if (id == IDD_QUORVEL_DIALOG) return &kMainDialog;
  if (id == IDD_ABOUTBOX) return &kAboutDialog;
  return nullptr;
}

}  // namespace quorvel
