// quorvel-sim: the demo's simulated USB-to-serial adapter and device as a
// program of its own, for trying quorvel-flash without hardware. Each
// adapter is a pseudo-terminal with a device behind it that answers as
// "BRENIX" or "OLMAR I", whichever the program speaks to, at that model's
// line speed. The program names the pseudo-terminal with --port; the port
// list of the machine does not show it.
//
//   quorvel-sim [--count N] [--no-line-rate]
//
// Serves until SIGINT or SIGTERM.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/ClosedOutputs.h"
#include "sim/DemoDevice.h"
#include "sim/SampleFiles.h"
#include "sim/SimulatedLine.h"
#include "ui/Environment.h"

namespace {

constexpr int kMaxCount = 64;

void PrintUsage(FILE* out) {
  std::fputs(
      "Usage: quorvel-sim [--count N] [--no-line-rate]\n"
      "Serves N simulated adapters (default 1), each with a BRENIX / OLMAR I device\n"
      "behind it, until stopped with Ctrl+C or SIGTERM. Name a printed port with\n"
      "quorvel-flash --port.\n"
      "  --count N         serve N adapters (1 to 64)\n"
      "  --no-line-rate    bytes take no time on the wire (faster than a real line)\n",
      out);
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace quorvel::sim;
  // Its lines may go to a pipe whose reader has gone; the adapters serve on.
  quorvel::IgnoreClosedOutputs();
  int count = 1;
  bool lineRate = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--count" && i + 1 < argc) {
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(argv[++i], &end, 10);
      if (errno != 0 || *end != '\0' || n < 1 || n > kMaxCount) {
        std::fprintf(stderr, "quorvel-sim: --count takes a number from 1 to %d\n", kMaxCount);
        return 2;
      }
      count = static_cast<int>(n);
    } else if (arg == "--no-line-rate") {
      lineRate = false;
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "quorvel-sim: unknown argument '%s'\n", argv[i]);
      PrintUsage(stderr);
      return 2;
    }
  }

  // The lines' threads inherit this mask, so the signals reach sigwait below
  // and the adapters are torn down in order.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  struct Adapter {
    std::unique_ptr<SimulatedLine> line;
    std::unique_ptr<DemoDevice> device;
  };
  std::vector<Adapter> adapters;
  try {
    for (int i = 0; i < count; ++i) {
      SimulatedLine::Options options;
      options.linkName = "ttySIM" + std::to_string(i);
      Adapter adapter;
      adapter.line = std::make_unique<SimulatedLine>(options);
      DemoDevice::Options deviceOptions;
      deviceOptions.lineRate = lineRate;
      adapter.device = std::make_unique<DemoDevice>(*adapter.line, deviceOptions);
      adapters.push_back(std::move(adapter));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-sim: cannot start a simulated adapter: %s\n", e.what());
    return 1;
  }

  std::string ports;
  for (const Adapter& adapter : adapters) {
    const std::string path = adapter.line->SlavePath();
    std::printf("Simulated adapter on %s\n", path.c_str());
    ports += " --port " + path;
  }
  // A command that can be pasted as it is: the samples of this program's own
  // installation (or build tree), by their absolute path.
  const std::string samples = FindSamples(quorvel::Environment::System().programPath);
  const std::string sample = samples.empty() ? "FILE.pkc" : samples + "/olmar-demo.pkc";
  std::printf("Try: quorvel-flash update --model olmar%s %s\n", ports.c_str(), sample.c_str());
  std::printf("Serving until Ctrl+C.\n");
  std::fflush(stdout);

  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  // Devices before their lines.
  for (Adapter& adapter : adapters) adapter.device.reset();
  adapters.clear();
  return 0;
}
