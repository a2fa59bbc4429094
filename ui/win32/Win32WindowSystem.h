#pragma once
// Our windowing layer on USER32, GDI32 and COMCTL32: each dialog is built in
// memory from its template and run with the system's modal dialog loop; the
// messages go to the dialog object's handlers.

#include <vector>

#include "ui/Window.h"

namespace quorvel::win32 {

class Win32WindowSystem final : public WindowSystem {
 public:
  // Registers the common control classes the dialogs use.
  Win32WindowSystem();

  int RunModal(CDialogEx& dlg, const DialogTemplate& tpl, CDialogEx* owner) override;
  IconHandle LoadIcon(int resourceId) override;
  Text LoadString(int resourceId) override;
};

// Builds the in-memory dialog template (DLGTEMPLATEEX with its items) that
// the system's dialog functions take. Exposed for the tests.
std::vector<unsigned char> BuildDialogTemplate(const DialogTemplate& tpl);

}  // namespace quorvel::win32
