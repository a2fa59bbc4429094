#pragma once
// Start-up, shared by the program and the demo: the Qt application with the
// program's names, icon and style, then the application object that runs the
// main dialog until it closes.

#include "ui/Environment.h"

namespace quorvel {

// Runs the program on `environment`; returns the process's exit code.
// `programName` is argv[0]: Qt sees no other argument.
int RunProgram(char* programName, Environment environment);

}  // namespace quorvel
