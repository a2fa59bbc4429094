#pragma once
// The dialog templates as data: identifiers, kinds, positions in dialog
// units, template texts and styles, in template (= tab) order. Both window
// implementations build their dialogs from these.

#include <cstdint>
#include <vector>

#include "base/WideText.h"

namespace quorvel {

enum class ControlKind {
  GroupBox,
  PushButton,
  DefPushButton,
  StaticText,    // left-aligned text
  StaticBitmap,  // picture at its real size; `resource` names it
  StaticIcon,    // `resource` names the icon
  OwnerDrawStatic,
  Edit,
  AutoRadioButton,
};

enum ControlStyle : uint32_t {
  kTabStop = 1u << 0,
  kGroup = 1u << 1,      // starts a group (radio buttons, statics)
  kBorder = 1u << 2,
  kCentered = 1u << 3,   // centred text (edit)
  kAutoHScroll = 1u << 4,
  kNoPrefix = 1u << 5,   // "&" is shown as is
  kReadOnly = 1u << 6,   // an edit that shows the program's texts only
};

constexpr int kNoId = -1;

struct ControlTemplate {
  int id;
  ControlKind kind;
  int x, y, w, h;  // dialog units
  Text text;
  uint32_t styles = 0;
  int resource = 0;
};

struct DialogTemplate {
  int id;
  int w, h;  // dialog units
  Text caption;
  Text fontName;
  int pointSize;
  int weight;          // 700 = bold
  bool sizingFrame;    // resizable, with a minimise box
  bool appWindow;      // its own task-bar entry
  std::vector<ControlTemplate> controls;
};

// Resource identifiers.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_QUORVEL_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;   // icon
constexpr int IDB_LOGO = 129;        // bitmap
constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Control identifiers of the main dialog.
constexpr int IDC_UPDATE = 1000;
constexpr int IDC_STATUS_EDIT = 1001;
constexpr int IDC_SWVER_GROUP = 1002;
constexpr int IDC_CONN_GROUP = 1003;
constexpr int IDC_LINK_GROUP = 1004;
constexpr int IDC_USB_LABEL = 1005;
constexpr int IDC_DEVICE_LABEL = 1006;
constexpr int IDC_VERSION_TEXT = 1007;
constexpr int IDC_HINT_TEXT = 1008;
constexpr int IDC_USB_LAMP = 1009;
constexpr int IDC_DEVICE_LAMP = 1010;
constexpr int IDC_MODEL1_RADIO = 1011;
constexpr int IDC_MODEL2_RADIO = 1012;
constexpr int IDC_SELECT_GROUP = 1013;

// The template with this identifier, or null.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace quorvel
