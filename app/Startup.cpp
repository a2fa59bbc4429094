#include "app/Startup.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "app/QuorvelApp.h"
#include "base/Version.h"
#include "ui/qt/QtWindowSystem.h"

namespace quorvel {

namespace {

// A style named on the command line or in the environment is the user's
// choice; otherwise the dialog's classic look.
bool StyleChosen(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-style") == 0 || std::strncmp(argv[i], "-style=", 7) == 0 ||
        std::strcmp(argv[i], "--style") == 0 || std::strncmp(argv[i], "--style=", 8) == 0)
      return true;
  }
  return !qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE");
}

}  // namespace

int RunProgram(int argc, char* argv[], const ProgramInfo& program, Environment environment,
               const std::function<void()>& started) {
  if (const std::optional<int> answered = AnswerInformationOptions(argc, argv, program, environment.languageSwitchPath)) return *answered;
  const bool styleChosen = StyleChosen(argc, argv);

  // Qt takes its own options out of the list it is given.
  int qtArgc = argc;
  std::vector<char*> qtArgv(argv, argv + argc);
  qtArgv.push_back(nullptr);
  std::optional<QApplication> application;
  {
    QtStartGuard guard(program.name, qtArgc, qtArgv.data());
    application.emplace(qtArgc, qtArgv.data());
  }
  if (const std::optional<std::string> unknown = FirstUnknownArgument(qtArgc, qtArgv.data())) {
    std::fprintf(stderr, "%s: unknown option: %s (see %s --help)\n", program.name, unknown->c_str(),
                 program.name);
    return 2;
  }
  QApplication::setOrganizationName(QStringLiteral("Vendrall"));
  QApplication::setApplicationName(QStringLiteral("Quorvel"));
  QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  QApplication::setWindowIcon(qt::ProgramIcon());
  // The dialog's controls are drawn in the classic, unthemed style.
  if (!styleChosen) {
    if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) {
      QApplication::setStyle(classic);
    }
  }
  if (started) started();

  CQuorvelApp app(std::move(environment));
  app.InitInstance();
  return app.ExitCode();
}

}  // namespace quorvel
