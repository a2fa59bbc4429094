// The demo: the program's own window, with a simulated USB-to-serial adapter
// listed first among the machine's serial ports and a simulated device behind
// it that answers as "BRENIX" or "OLMAR I", whichever is selected, at that
// model's line speed. Pick a model, watch the lamps turn green, press
// "Update" and pick one of the sample files (tools/make_samples.py); the
// files named bad-crc show a failed transfer.
//
// Unlike the program, the demo prints where its adapter is and starts in the
// samples folder (sim/SampleFiles.h), so that the file dialog opens there.

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/Startup.h"
#include "serial/PortList.h"
#include "sim/DemoDevice.h"
#include "sim/SampleFiles.h"
#include "sim/SimulatedLine.h"
#include "sim/SimulatedPortPlatform.h"

namespace {

const quorvel::ProgramInfo kDemo{
    "quorvel-demo",
    "Update Routine with a simulated USB-to-serial adapter and device: try it\n"
    "without hardware. Select BRENIX or OLMAR I, press Update and pick a sample\n"
    "file; the bad-crc files show a failed transfer.",
    nullptr};

}  // namespace

int main(int argc, char* argv[]) {
  using namespace quorvel;
  try {
    sim::SimulatedLine line;
    sim::DemoDevice device(line);
    sim::SimulatedPortPlatform ports(SystemPortPlatform(), line);

    Environment environment = Environment::System();
    environment.portPlatform = &ports;
    const std::string samples = sim::FindSamples(environment.programPath);

    const auto announce = [&] {
      std::printf("Simulated adapter on %s: select BRENIX or OLMAR I, then press Update.\n",
                  line.SlavePath().c_str());
      if (!samples.empty() && chdir(samples.c_str()) == 0) {
        std::printf("Sample update files: %s\n", samples.c_str());
      }
      std::fflush(stdout);
    };
    return RunProgram(argc, argv, kDemo, std::move(environment), announce);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-demo: cannot start the simulated adapter: %s\n", e.what());
    return 1;
  }
}
