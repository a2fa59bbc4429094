// Start-up of the program: --help and --version, Qt's own options, the
// machine's own files, devices and ports.

#include "app/Startup.h"

namespace {

const quorvel::ProgramInfo kProgram{
    "quorvel",
    "Update Routine: updates the firmware of BRENIX and OLMAR I devices through\n"
    "a USB-to-serial adapter.",
    nullptr};

}  // namespace

int main(int argc, char* argv[]) {
  return quorvel::RunProgram(argc, argv, kProgram, quorvel::Environment::System());
}
