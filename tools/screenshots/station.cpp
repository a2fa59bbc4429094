// The README's picture of the station window (tools/take_screenshots.sh):
// four simulated adapters whose devices are waited for, flashed, passed and
// failed, with the flasher's station as the window's child process.
//
//   quorvel-station-screenshot FLASHER OUTPUT.png [set-up]
//
// With "set-up", the form shown when the model and the file are not given.

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "ui/qt/StationWindow.h"

int main(int argc, char* argv[]) {
  using namespace quorvel;
  using Answer = sim::SimulatedDevice::Answer;
  const bool setUp = argc == 4 && std::string(argv[3]) == "set-up";
  if (argc != 3 && !setUp) {
    std::fprintf(stderr, "usage: %s FLASHER OUTPUT.png [set-up]\n", argv[0]);
    return 2;
  }
  const std::string flasher = argv[1];
  const QString out = QString::fromLocal8Bit(argv[2]);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  if (setUp) {
    qt::StationConfig config;
    config.flasherPath = flasher;
    qt::StationWindow window(config, Environment{});
    window.resize(640, 200);
    window.show();
    QApplication::processEvents();
    return window.grab().toImage().save(out, "PNG") ? 0 : 1;
  }
  try {
    sim::TempDir dir;
    struct Adapter {
      std::unique_ptr<sim::SimulatedLine> line;
      std::unique_ptr<sim::DemoDevice> device;
    };
    std::vector<Adapter> adapters(4);
    std::vector<std::string> ports;
    for (size_t i = 0; i < adapters.size(); ++i) {
      sim::SimulatedLine::Options options;
      options.linkName = "ttyUSB" + std::to_string(i);
      options.directory = dir.Path().string();
      adapters[i].line = std::make_unique<sim::SimulatedLine>(options);
      // The one being flashed goes at the line's pace, the others at once.
      adapters[i].device = std::make_unique<sim::DemoDevice>(*adapters[i].line, sim::DemoDevice::Options{.lineRate = i == 1});
      ports.push_back(adapters[i].line->DeviceDir() + "ttyUSB" + std::to_string(i));
    }
    sim::SimulatedDevice& waiting = adapters[0].device->Device(protocol::kModel2);
    sim::SimulatedDevice& flashing = adapters[1].device->Device(protocol::kModel2);
    sim::SimulatedDevice& failing = adapters[3].device->Device(protocol::kModel2);
    waiting.SetSilent(true);
    flashing.SetVerdictFunction([](size_t, const sim::SimulatedDevice::Record&) { return Answer::Accept(400); });
    failing.SetVerdictFunction([](size_t, const sim::SimulatedDevice::Record&) { return Answer::Reject(); });

    Environment env;  // English, no port list
    qt::StationConfig config{.model = protocol::kModel2, .ports = ports,
                             .log = (dir.Path() / "station.log").string(), .count = 0,
                             .file = QUORVEL_SCREENSHOT_SAMPLES_DIR "/olmar-demo.pkc", .flasherPath = flasher};
    qt::StationWindow window(config, env);
    window.resize(980, 640);
    window.show();
    const auto state = [&](size_t i) {
      const StationModel* model = window.Model();
      if (model == nullptr) return TileState::Waiting;
      for (const StationTile& tile : model->Tiles()) {
        if (tile.port == ports[i]) return tile.state;
      }
      return TileState::Waiting;
    };
    const auto progress = [&] {
      for (const StationTile& tile : window.Model()->Tiles()) {
        if (tile.port == ports[1]) return tile.progress;
      }
      return 0;
    };
    QElapsedTimer clock;
    clock.start();
    while (!(window.Model() != nullptr && window.Model()->Tiles().size() == 4 && state(2) == TileState::Pass &&
             state(3) == TileState::Fail && state(1) == TileState::Flashing && progress() >= 30)) {
      if (clock.elapsed() > 30000) {
        std::fprintf(stderr, "quorvel-station-screenshot: the tiles did not reach their states\n");
        return 1;
      }
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // Painted as shown.
    QApplication::processEvents();
    if (!window.grab().toImage().save(out, "PNG")) {
      std::fprintf(stderr, "quorvel-station-screenshot: cannot write %s\n", argv[2]);
      return 1;
    }
    std::printf("%s\n", argv[2]);
    return 0;  // the window's end stops the station and waits for its transfer
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-station-screenshot: cannot start the simulated adapters: %s\n", e.what());
    return 1;
  }
}
