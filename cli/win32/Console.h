#pragma once
// Shared by the Windows parts of quorvel-flash.

#include <windows.h>

#include <string>

namespace quorvel::cli {

// The system's text of a GetLastError code, in UTF-8.
std::string SystemErrorText(DWORD code);

// Tells a console close, logoff or shutdown that waits for the program that
// it has ended: called once its output is finished.
void ProgramEnded();

}  // namespace quorvel::cli
