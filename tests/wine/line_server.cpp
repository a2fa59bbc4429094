// The Linux side of the Windows tests under Wine: a simulated adapter with
// the demo device behind it, on a pseudo-terminal that the Wine prefix maps
// as a COM port. Prints the terminal's path on its first line, then serves
// until it is told to stop (SIGTERM or SIGINT). With --no-device the line
// only echoes: an adapter with no device behind it. Each echo comes when its
// byte has crossed the wire at the port's rate, as on a real adapter behind
// a driver whose write returns once it has taken the bytes; the Windows
// port layer must wait for its bytes to leave.
//
// With --control DIR the tests under Wine see and change the device through
// files: DIR/accepted holds the image the device has accepted so far, and
// while DIR/removed exists the device is unplugged (silent), as a station
// sees a device taken away and the next one put in.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/ClosedOutputs.h"
#include "link/Protocol.h"
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
    std::filesystem::path control;
    bool withDevice = true;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--no-device") == 0) withDevice = false;
      else if (std::strcmp(argv[i], "--control") == 0 && i + 1 < argc) control = argv[++i];
    }
    if (withDevice) device = std::make_unique<sim::DemoDevice>(line);
    if (!control.empty()) std::filesystem::create_directories(control);
    std::printf("%s\n", line.SlavePath().c_str());
    std::fflush(stdout);
    // Without --control the signal alone is waited for; with it, the files
    // are looked at every 50 ms.
    const timespec period{0, control.empty() ? 0 : 50'000'000};
    std::vector<uint8_t> shown;
    bool wasRemoved = false;
    for (;;) {
      if (control.empty() || !device) {
        int signal = 0;
        sigwait(&stop, &signal);
        break;
      }
      if (sigtimedwait(&stop, nullptr, &period) > 0) break;
      const bool removed = std::filesystem::exists(control / "removed");
      if (removed != wasRemoved) {
        for (const int32_t model : {protocol::kModel1, protocol::kModel2}) device->Device(model).SetSilent(removed);
        wasRemoved = removed;
      }
      std::vector<uint8_t> accepted = device->Device(device->CurrentModel()).AcceptedImage();
      if (accepted != shown) {
        // Whole or not at all: written aside, then renamed over.
        const std::filesystem::path part = control / "accepted.part";
        std::ofstream(part, std::ios::binary).write(reinterpret_cast<const char*>(accepted.data()),
                                                    static_cast<std::streamsize>(accepted.size()));
        std::filesystem::rename(part, control / "accepted");
        shown = std::move(accepted);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "line_server: %s\n", e.what());
    return 1;
  }
  return 0;
}
