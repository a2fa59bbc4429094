#include "app/Startup.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/QuorvelApp.h"
#include "base/ClosedOutputs.h"
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
  // A reader of the --verbose lines that goes away ends no transfer.
  IgnoreClosedOutputs();
  if (const std::optional<int> answered = AnswerInformationOptions(argc, argv, program, environment.languageSwitchPath)) return *answered;
  const bool styleChosen = StyleChosen(argc, argv);

  // Our own option is taken out; Qt takes its own out of what is left.
  std::vector<char*> qtArgv;
  bool verbose = false;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], "--verbose") == 0) {
      verbose = true;
    } else {
      qtArgv.push_back(argv[i]);
    }
  }
  int qtArgc = static_cast<int>(qtArgv.size());
  qtArgv.push_back(nullptr);

  // Lines for the user outside the window go to standard error, one each,
  // at once.
  const std::string name = program.name;
  environment.reportLine = [name](const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), line.c_str());
    std::fflush(stderr);
  };
  if (verbose) environment.trace = environment.reportLine;
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
