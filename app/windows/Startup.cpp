// Start-up on Windows: the application object runs the main dialog until it
// closes. The manifest makes the program aware of each monitor's DPI and
// brings the common controls of version 6.

#include "app/Startup.h"

#include <utility>

#include "app/QuorvelApp.h"

namespace quorvel {

int RunProgram(char* programName, Environment environment) {
  (void)programName;
  CQuorvelApp app(std::move(environment));
  app.InitInstance();
  return 0;
}

}  // namespace quorvel
