#include "ui/qt/QtWindowSystem.h"

#include "ui/DialogEx.h"
#include "ui/DialogTemplates.h"
#include "ui/qt/QtDialogWindow.h"

// The resources are compiled into this static library; they must be
// registered by name from outside any namespace.
static void RegisterResources() { Q_INIT_RESOURCE(resources); }

namespace quorvel::qt {

namespace {

struct PictureResource {
  int id;
  const char* path;
};

constexpr PictureResource kPictures[] = {
    {IDR_MAINFRAME, ":/quorvel/icon.png"},
    {IDB_LOGO, ":/quorvel/logo.png"},
};

}  // namespace

QtWindowSystem::QtWindowSystem() { RegisterResources(); }

int QtWindowSystem::RunModal(CDialogEx& dlg, const DialogTemplate& tpl, CDialogEx* owner) {
  QWidget* ownerWidget = nullptr;
  if (owner != nullptr) ownerWidget = dynamic_cast<QtDialogWindow*>(owner->GetWindow());
  QtDialogWindow window(*this, dlg, tpl, ownerWidget);
  dlg.Attach(&window);
  const bool focusFirstTabStop = dlg.OnInitDialog();
  const int result = window.Run(focusFirstTabStop);
  dlg.Attach(nullptr);
  return result;
}

IconHandle QtWindowSystem::LoadIcon(int resourceId) {
  return (resourceId == IDR_MAINFRAME && !Picture(resourceId).isNull()) ? resourceId : 0;
}

Text QtWindowSystem::LoadString(int resourceId) {
  if (resourceId == IDS_ABOUTBOX) return u"About Update Routine(&A)...";
  return {};
}

QPixmap QtWindowSystem::Picture(int resourceId) const {
  for (const PictureResource& p : kPictures) {
    if (p.id == resourceId) return QPixmap(QString::fromLatin1(p.path));
  }
  return QPixmap();
}

QIcon ProgramIcon() {
  RegisterResources();
  return QIcon(QStringLiteral(":/quorvel/icon.png"));
}

}  // namespace quorvel::qt
