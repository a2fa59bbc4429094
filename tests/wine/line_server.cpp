// The Linux side of the Windows tests under Wine: a simulated adapter with
// the demo device behind it, on a pseudo-terminal that the Wine prefix maps
// as a COM port. Prints the terminal's path on its first line, then serves
// until it is told to stop (SIGTERM or SIGINT). With --no-device the line
// only echoes: an adapter with no device behind it. Each echo comes when its
// byte has crossed the wire at the port's rate, as on a real adapter behind
// a driver whose write returns once it has taken the bytes; the Windows
// port layer must wait for its bytes to leave.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "base/ClosedOutputs.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"

int main(int argc, char* argv[]) {
  using namespace quorvel;
  // The reader of its first line may be gone by the time it is written.
  IgnoreClosedOutputs();
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  // Blocked before the line's thread starts, so only sigwait sees them.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  try {
    sim::SimulatedLine::Options options;
    options.echoOnTheWire = true;
    sim::SimulatedLine line(options);
    std::unique_ptr<sim::DemoDevice> device;
    if (argc < 2 || std::strcmp(argv[1], "--no-device") != 0) {
      device = std::make_unique<sim::DemoDevice>(line);
    }
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
