#include "app/StationStartup.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "app/TerminationSignals.h"
#include "base/ClosedOutputs.h"
#include "base/Version.h"
#include "link/Protocol.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/qt/StationWindow.h"

namespace quorvel {

namespace {

constexpr char kName[] = "quorvel-station";

void PrintHelp() {
  std::printf(
      "Usage: %s [--model MODEL] [--port PORT]... [--log FILE] [--count N] [FILE]\n"
      "Update Station: flashes every device connected to the adapters, one after\n"
      "another on each, with a tile per adapter and a line in a log per device.\n"
      "\n"
      "  -m, --model MODEL  brenix or olmar\n"
      "  -p, --port PORT    a slot on this port (ttyUSB0, /dev/ttyUSB0); repeatable;\n"
      "                     without it, every adapter, also those plugged in later\n"
      "      --log FILE     the log, JSON Lines appended (default quorvel-station.log\n"
      "                     in the working directory)\n"
      "      --count N      stop once N devices have passed\n"
      "  -h, --help         show this help and exit\n"
      "      --version      show the version and exit\n"
      "\n"
      "With MODEL and FILE the station starts at once; otherwise a form asks for\n"
      "them. The work is done by quorvel-flash station, found beside this program\n"
      "or on the PATH. Qt's own options are passed on to Qt.\n"
      "\nSee %s(1).\n",
      kName, kName);
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s (see %s --help)\n", kName, message.c_str(), kName);
  return 2;
}

}  // namespace

int RunStationProgram(int argc, char* argv[], Environment environment,
                      const std::function<void(qt::StationWindow&)>& shown) {
  IgnoreClosedOutputs();
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      PrintHelp();
      return 0;
    }
  }
  const ProgramInfo program{kName, "Update Station", nullptr};
  if (const std::optional<int> answered = AnswerInformationOptions(argc, argv, program, {})) return *answered;

  // Our options first, so that a bad one is told without a display; what
  // is left goes to Qt, and what Qt leaves is the file.
  qt::StationConfig config;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::optional<std::string> missing;
    const auto value = [&](const char* longName, const char* shortName) -> std::optional<std::string> {
      const std::string prefix = std::string(longName) + "=";
      if (arg.starts_with(prefix)) return std::string(arg.substr(prefix.size()));
      if (arg != longName && (shortName == nullptr || arg != shortName)) return std::nullopt;
      if (i + 1 >= argc) {
        missing = longName;
        return std::string();
      }
      return std::string(argv[++i]);
    };
    if (const auto model = value("--model", "-m")) {
      if (*model == "brenix") config.model = protocol::kModel1;
      else if (*model == "olmar") config.model = protocol::kModel2;
      else return Usage("unknown model: " + *model + " (brenix or olmar)");
    } else if (const auto port = value("--port", "-p")) {
      if (port->empty()) return Usage("--port needs a port");
      config.ports.push_back(*port);
    } else if (const auto log = value("--log", nullptr)) {
      if (log->empty()) return Usage("--log needs a file");
      config.log = *log;
    } else if (const auto count = value("--count", nullptr)) {
      char* end = nullptr;
      const unsigned long long n = std::strtoull(count->c_str(), &end, 10);
      if (count->empty() || *end != '\0' || n == 0) return Usage("--count needs a number from 1");
      config.count = n;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int qtArgc = static_cast<int>(rest.size());
  rest.push_back(nullptr);

  std::optional<QApplication> application;
  {
    QtStartGuard guard(kName, qtArgc, rest.data());
    application.emplace(qtArgc, rest.data());
  }
  for (int i = 1; i < qtArgc; ++i) {
    const std::string_view arg = rest[static_cast<size_t>(i)];
    if (arg.starts_with("-") && arg != "-") return Usage("unknown option: " + std::string(arg));
    if (!config.file.empty()) return Usage("one update file only");
    config.file = std::string(arg);
  }
  config.flasherPath = qt::StationWindow::FindFlasher(environment.programPath);

  QApplication::setOrganizationName(QStringLiteral("Vendrall"));
  QApplication::setApplicationName(QStringLiteral("Quorvel"));
  QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  QApplication::setWindowIcon(qt::ProgramIcon());

  int exitCode = 0;
  {
    qt::StationWindow window(std::move(config), std::move(environment));
    // A termination signal stops the station as Stop does, without asking;
    // the window closes once its transfers have ended.
    TerminationSignals termination([&window, &termination] { window.HoldSignal(termination.Caught()); });
    window.setAttribute(Qt::WA_QuitOnClose, true);
    window.show();
    if (shown) shown(window);
    QApplication::exec();
    if (termination.Caught() != 0) exitCode = 128 + termination.Caught();
  }
  return exitCode;
}

}  // namespace quorvel
