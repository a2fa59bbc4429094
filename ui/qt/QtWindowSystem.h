#pragma once
// The windowing layer on Qt Widgets: runs our dialogs modally as QDialogs
// and hands out the program's icon, pictures and strings.

#include <QIcon>
#include <QPixmap>

#include "ui/Window.h"

namespace quorvel::qt {

class QtWindowSystem : public WindowSystem {
 public:
  // Needs a QApplication.
  QtWindowSystem();

  int RunModal(CDialogEx& dlg, const DialogTemplate& tpl, CDialogEx* owner) override;
  // The identifier itself if the program has that icon, else 0.
  IconHandle LoadIcon(int resourceId) override;
  Text LoadString(int resourceId) override;

  // The picture of an icon or bitmap resource at its real size; null if
  // there is none.
  QPixmap Picture(int resourceId) const;
};

// The program icon (resource 128), for the application and its windows.
QIcon ProgramIcon();

}  // namespace quorvel::qt
