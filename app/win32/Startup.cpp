// Start-up on Windows: the application object runs the main dialog until it
// closes. The manifest makes the program aware of each monitor's DPI and
// brings the common controls of version 6. A Windows program of this kind
// has no console: the command line is not read.

#include "app/Startup.h"

#include <utility>

#include "app/QuorvelApp.h"

namespace quorvel {

int RunProgram(int argc, char* argv[], const ProgramInfo& program, Environment environment,
               const std::function<void()>& started) {
  (void)argc;
  (void)argv;
  (void)program;
  if (started) started();
  CQuorvelApp app(std::move(environment));
  app.InitInstance();
  return 0;
}

}  // namespace quorvel
