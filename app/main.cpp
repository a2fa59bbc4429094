// Start-up: the Qt application, then the application object that runs the
// main dialog.

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include "app/QuorvelApp.h"
#include "ui/qt/QtWindowSystem.h"

int main(int argc, char* argv[]) {
  // The program takes no command line: Qt sees only the program's name.
  (void)argc;
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  QApplication::setOrganizationName(QStringLiteral("Vendrall"));
  QApplication::setApplicationName(QStringLiteral("Quorvel"));
  QApplication::setApplicationVersion(QStringLiteral("1.1.1"));
  QApplication::setWindowIcon(quorvel::qt::ProgramIcon());
  // The dialog's controls are drawn in the classic, unthemed style.
  if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) {
    QApplication::setStyle(classic);
  }

  quorvel::CQuorvelApp app;
  app.InitInstance();
  return 0;
}
