// How soon a tile of the station window shows a line of the station: a
// stand-in station (a shell script) writes a FAIL line per tile every
// 100 ms, each carrying the wall-clock time it was written, for 16 tiles;
// the window's tiles are painted and the delay from the write to the
// painted tile is measured.
//
//   cmake --build build --target station_window_bench && build/station_window_bench

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "sim/TempDir.h"
#include "ui/qt/StationWindow.h"

int main(int argc, char* argv[]) {
  using namespace quorvel;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  sim::TempDir dir;
  const std::string script = (dir.Path() / "station.sh").string();
  {
    QFile f(QString::fromStdString(script));
    if (!f.open(QIODevice::WriteOnly)) return 1;
    // A line per tile, 20 rounds; the message is the time of the write.
    f.write("#!/bin/sh\n"
            "trap 'exit 130' INT\n"
            "for round in $(seq 20); do for t in $(seq 16); do\n"
            "  printf '{\"port\":\"/dev/ttyUSB%d\",\"device\":1,\"state\":\"done\",\"version\":null,"
            "\"progress\":null,\"result\":\"crc\",\"status\":7,\"message\":\"%s\"}\\n' $t $(date +%s%N)\n"
            "  sleep 0.006\n"
            "done; done\n"
            "sleep 600 & wait\n");
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
  qt::StationConfig config;
  config.model = protocol::kModel2;
  config.file = QUORVEL_SAMPLES_DIR "/olmar-demo.pkc";
  config.log = (dir.Path() / "station.log").string();
  config.flasherPath = script;
  qt::StationWindow window(config, Environment{});
  window.resize(1400, 900);
  window.show();
  std::vector<double> delaysMs;
  QObject::connect(&window, &qt::StationWindow::tileChanged, [&](int index) {
    window.repaint();  // as the next pass of the event loop paints it
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    const Text& sent = window.Model()->Tiles()[static_cast<size_t>(index)].reason;
    delaysMs.push_back(static_cast<double>(now - std::stoll(ToUtf8(sent))) / 1e6);
  });
  QElapsedTimer clock;
  clock.start();
  while (delaysMs.size() < 320 && clock.elapsed() < 60000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  if (delaysMs.empty()) return 1;
  std::sort(delaysMs.begin(), delaysMs.end());
  std::printf("16 tiles, %zu lines: from the station's write to the painted tile: median %.1f ms, "
              "95th percentile %.1f ms, max %.1f ms\n",
              delaysMs.size(), delaysMs[delaysMs.size() / 2], delaysMs[delaysMs.size() * 95 / 100], delaysMs.back());
  window.close();
  QApplication::processEvents();
  return 0;
}
