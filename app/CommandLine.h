#pragma once
// The command line of the program and the demo: --help and --version are
// answered at once, without a window system; every other argument is Qt's
// (-platform, -display, -style ...). When Qt cannot open a display, the
// program says so in one line and ends, instead of Qt's several lines of
// advice followed by an abort.

#include <optional>
#include <string>

namespace quorvel {

struct ProgramInfo {
  const char* name;     // the command, as in messages: "quorvel"
  const char* summary;  // one sentence: what the program does
  const char* more;     // further help paragraphs, each ending in '\n'; may be null
};

// Answers -h/--help and --version on standard output; the help names the
// settings file that holds the language switch. Returns the exit code when
// the program is to end now, nothing when it is to go on. The scan stops at
// "--".
std::optional<int> AnswerInformationOptions(int argc, char* argv[], const ProgramInfo& program,
                                            const std::string& languageSwitchPath);

// What is left after Qt has taken its own options: the first argument that
// is no one's, or nothing.
std::optional<std::string> FirstUnknownArgument(int argc, char* argv[]);

// Holds back Qt's messages while it starts its window system. If the start
// fails (Qt's fatal message), prints one line naming the reason and ends the
// process with exit code 1. Once destroyed, hands what it held to the
// previous message handler, so a successful start prints what it printed
// before.
class QtStartGuard {
 public:
  // `argc`, `argv`: the command line Qt is given (a -platform in it makes
  // Qt's complaint the reason, rather than the missing desktop session).
  QtStartGuard(const char* programName, int argc, char* argv[]);
  ~QtStartGuard();
  QtStartGuard(const QtStartGuard&) = delete;
  QtStartGuard& operator=(const QtStartGuard&) = delete;
};

}  // namespace quorvel
