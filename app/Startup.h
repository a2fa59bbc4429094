#pragma once
// Start-up, shared by the program and the demo: the command line, the Qt
// application with the program's names, icon and style, then the
// application object that runs the main dialog until it closes.

#include <functional>

#include "app/CommandLine.h"
#include "ui/Environment.h"

namespace quorvel {

// Runs the program on `environment`; returns the process's exit code.
// --help and --version are answered without a window; every other argument
// goes to Qt, and one Qt does not know ends the program with exit code 2.
// `started` runs once the window system is up, before the window opens.
int RunProgram(int argc, char* argv[], const ProgramInfo& program, Environment environment,
               const std::function<void()>& started = {});

}  // namespace quorvel
