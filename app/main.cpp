// Start-up of the program: no command line (Qt sees only the program's
// name), the machine's own files, devices and ports.

#include "app/Startup.h"

int main(int argc, char* argv[]) {
  (void)argc;
  return quorvel::RunProgram(argv[0], quorvel::Environment::System());
}
