// The demo: the program's own window, with a simulated USB-to-serial adapter
// listed first among the machine's serial ports and a simulated device behind
// it that answers as "BRENIX" or "OLMAR I", whichever is selected, at that
// model's line speed. Pick a model, watch the lamps turn green, press
// "Update" and pick one of the sample files (tools/make_samples.py); the
// files named bad-crc show a failed transfer.
//
// Unlike the program, the demo prints where its adapter is and starts in the
// samples folder, so that the file dialog opens there.

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/Startup.h"
#include "serial/PortList.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/SimulatedPortPlatform.h"

int main(int argc, char* argv[]) {
  (void)argc;
  using namespace quorvel;
  try {
    sim::SimulatedLine line;
    sim::DemoDevice device(line);
    sim::SimulatedPortPlatform ports(SystemPortPlatform(), line);

    Environment environment = Environment::System();
    environment.portPlatform = &ports;

    const char* samples = nullptr;
    for (const char* dir : {QUORVEL_DEMO_SAMPLES_DIR, QUORVEL_DEMO_INSTALLED_SAMPLES_DIR}) {
      std::error_code ec;
      if (std::filesystem::is_directory(dir, ec) && chdir(dir) == 0) {
        samples = dir;
        break;
      }
    }
    std::printf("Simulated adapter on %s: select BRENIX or OLMAR I, then press Update.\n",
                line.SlavePath().c_str());
    if (samples != nullptr) std::printf("Sample update files: %s\n", samples);
    std::fflush(stdout);

    return RunProgram(argv[0], std::move(environment));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-demo: cannot start the simulated adapter: %s\n", e.what());
    return 1;
  }
}
