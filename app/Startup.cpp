#include "app/Startup.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include <utility>

#include "app/QuorvelApp.h"
#include "base/Version.h"
#include "ui/qt/QtWindowSystem.h"

namespace quorvel {

int RunProgram(char* programName, Environment environment) {
  int qtArgc = 1;
  char* qtArgv[] = {programName, nullptr};
  QApplication application(qtArgc, qtArgv);
  QApplication::setOrganizationName(QStringLiteral("Vendrall"));
  QApplication::setApplicationName(QStringLiteral("Quorvel"));
  QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  QApplication::setWindowIcon(qt::ProgramIcon());
  // The dialog's controls are drawn in the classic, unthemed style.
  if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) {
    QApplication::setStyle(classic);
  }

  CQuorvelApp app(std::move(environment));
  app.InitInstance();
  return app.ExitCode();
}

}  // namespace quorvel
