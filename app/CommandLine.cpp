#include "app/CommandLine.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/Version.h"

namespace quorvel {

namespace {

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-help") == 0;
}

bool IsVersion(const char* arg) { return std::strcmp(arg, "--version") == 0; }

void PrintHelp(const ProgramInfo& program, const std::string& languageSwitchPath) {
  std::printf(
      "Usage: %s [OPTION]... [QT OPTION]...\n"
      "%s\n"
      "\n"
      "  -h, --help     show this help and exit\n"
      "      --version  show the version and exit\n"
      "      --verbose  write what the link and the update jobs do to standard\n"
      "                 error, one line an event (for support requests)\n"
      "\n"
      "Qt's own options are passed on to Qt, for example -platform wayland,\n"
      "-display :1 or -style fusion.\n",
      program.name, program.summary);
  if (program.more != nullptr) std::printf("\n%s", program.more);
  if (!languageSwitchPath.empty()) {
    std::printf("\nJapanese texts: set Language=Japanese in section [General] of\n%s.\n",
                languageSwitchPath.c_str());
  }
  std::printf("\nSee %s(1).\n", program.name);
}

// The Qt messages held back during the start.
struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};

const char* g_programName = nullptr;
QtMessageHandler g_previousHandler = nullptr;
std::vector<HeldMessage> g_held;

bool g_platformChosen = false;

bool IsSet(const char* variable) { return !qEnvironmentVariableIsEmpty(variable); }

// Whether the user named a display or a platform: then Qt's complaint is
// the reason; otherwise there simply is no desktop session.
bool DisplayNamed() {
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM") || g_platformChosen;
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    g_held.push_back(HeldMessage{type, QByteArray(context.category), text});
    return;
  }
  // Qt could start no platform: its first complaint names the reason (such
  // as "could not connect to display :1"); its fatal message only advises
  // reinstalling.
  QString reason = QStringLiteral("DISPLAY and WAYLAND_DISPLAY are not set; start it from a desktop session");
  if (DisplayNamed()) {
    reason = (g_held.empty() ? text : g_held.front().text).section(QLatin1Char('\n'), 0, 0).trimmed();
  }
  std::fprintf(stderr, "%s: no display: %s\n", g_programName, reason.toLocal8Bit().constData());
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

std::optional<int> AnswerInformationOptions(int argc, char* argv[], const ProgramInfo& program,
                                            const std::string& languageSwitchPath) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (IsHelp(argv[i])) {
      PrintHelp(program, languageSwitchPath);
      return 0;
    }
    if (IsVersion(argv[i])) {
      std::printf("%s %s\n", program.name, kProgramVersion);
      return 0;
    }
  }
  return std::nullopt;
}

std::optional<std::string> FirstUnknownArgument(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") != 0) return std::string(argv[i]);
  }
  return std::nullopt;
}

QtStartGuard::QtStartGuard(const char* programName, int argc, char* argv[]) {
  g_programName = programName;
  g_platformChosen = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0 ||
        std::strcmp(argv[i], "--platform") == 0 || std::strncmp(argv[i], "--platform=", 11) == 0)
      g_platformChosen = true;
  }
  g_held.clear();
  g_previousHandler = qInstallMessageHandler(HoldMessage);
}

QtStartGuard::~QtStartGuard() {
  qInstallMessageHandler(g_previousHandler);
  for (const HeldMessage& m : g_held) {
    const QMessageLogContext context(nullptr, 0, nullptr, m.category.isEmpty() ? nullptr : m.category.constData());
    if (g_previousHandler != nullptr) g_previousHandler(m.type, context, m.text);
  }
  g_held.clear();
}

}  // namespace quorvel
