// The Linux side of the Windows tests under Wine: a simulated adapter with
// the demo device behind it, on a pseudo-terminal that the Wine prefix maps
// as a COM port. Prints the terminal's path on its first line, then serves
// until it is told to stop (SIGTERM or SIGINT).

#include <signal.h>

#include <cstdio>
#include <exception>

#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"

int main() {
  using namespace quorvel;
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  // Blocked before the line's thread starts, so only sigwait sees them.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  try {
    sim::SimulatedLine line;
    sim::DemoDevice device(line);
    std::printf("%s\n", line.SlavePath().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "line_server: %s\n", e.what());
    return 1;
  }
  return 0;
}
