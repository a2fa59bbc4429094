// The station window against simulated devices, with the flasher's station
// as its child process.

#include <QAbstractButton>
#include <QFileDialog>
#include <QFrame>
#include <QLineEdit>
#include <QRadioButton>
#include <QMessageBox>
#include <QPushButton>

#include <signal.h>

#include <QProcess>

#include <fstream>
#include <string>
#include <vector>

#include "QtTestHelpers.h"
#include "support/posix/FlashRun.h"
#include "serial/PortPlatform.h"
#include "link/Protocol.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "ui/qt/StationWindow.h"
#include "update/UpdateImage.h"
#include "update/UpdateMessages.h"

namespace quorvel::qt {
namespace {

using sim::SimulatedDevice;
using test::WaitFor;
using test::WhenShown;

constexpr int kWaitMs = 15000;

struct Adapter {
  explicit Adapter(bool lineRate) : device(line, {.lineRate = lineRate}) {}
  SimulatedDevice& Olmar() { return device.Device(protocol::kModel2); }
  sim::SimulatedLine line;
  sim::DemoDevice device;
};

std::string Sample() { return QUORVEL_SAMPLES_DIR "/olmar-demo.pkc"; }

StationConfig Config(const std::vector<std::string>& ports, const std::string& log) {
  return {.model = protocol::kModel2, .ports = ports, .log = log, .count = 0, .file = Sample(),
          .flasherPath = QUORVEL_FLASH_PATH};
}

std::vector<std::string> LogLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The tile of `port` as a person sees it: its widget's accessible name.
QString TileName(const StationWindow& w, const std::string& port) {
  const QString label = QString::fromStdString(port.substr(5)) + QStringLiteral(": ");
  for (const QFrame* tile : w.findChildren<QFrame*>(QStringLiteral("tile"))) {
    if (tile->accessibleName().startsWith(label)) return tile->accessibleName();
  }
  return {};
}

const StationTile* TileOf(const StationWindow& w, const std::string& port) {
  if (w.Model() == nullptr) return nullptr;
  for (const StationTile& tile : w.Model()->Tiles()) {
    if (tile.port == port) return &tile;
  }
  return nullptr;
}

bool Shows(const StationWindow& w, const std::string& port, TileState state) {
  const StationTile* tile = TileOf(w, port);
  return tile != nullptr && tile->state == state;
}

TEST(StationWindow, TilesFollowTheirSlotsAFailureIsHeldUntilRemovalAndEachDeviceIsLogged) {
  sim::TempDir dir;
  const std::string log = (dir.Path() / "station.log").string();
  Adapter good(true), bad(false);  // at the line rate, its transfer is seen under way
  bad.Olmar().SetVerdictFunction([](size_t, const SimulatedDevice::Record&) { return SimulatedDevice::Answer::Reject(); });
  const std::string goodPort = good.line.SlavePath(), badPort = bad.line.SlavePath();
  std::vector<TileState> seen;
  StationWindow w(Config({goodPort, badPort}, log), Environment{});
  QObject::connect(&w, &StationWindow::tileChanged, [&] {
    const StationTile* tile = TileOf(w, goodPort);
    if (tile != nullptr && (seen.empty() || seen.back() != tile->state)) seen.push_back(tile->state);
  });
  w.show();

  ASSERT_TRUE(WaitFor([&] { return Shows(w, goodPort, TileState::Pass) && Shows(w, badPort, TileState::Fail); }, kWaitMs));
  EXPECT_EQ(w.Model()->Tiles().size(), 2u);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), TileState::Waiting);
  EXPECT_NE(std::find(seen.begin(), seen.end(), TileState::Flashing), seen.end());
  EXPECT_EQ(seen.back(), TileState::Pass);
  EXPECT_TRUE(TileName(w, goodPort).startsWith(QStringLiteral(": PASS, P1.06.00").prepend(QString::fromStdString(goodPort.substr(5)))))
      << TileName(w, goodPort).toStdString();
  EXPECT_TRUE(TileName(w, badPort).contains(QStringLiteral("FAIL, Update Error"))) << TileName(w, badPort).toStdString();

  // The grid reflows: side by side in a wide window, one above the other
  // in a narrow one.
  const QList<QFrame*> tiles = w.findChildren<QFrame*>(QStringLiteral("tile"));
  ASSERT_EQ(tiles.size(), 2);
  for (const bool wide : {false, true}) {
    w.resize(wide ? 1100 : 420, 700);
    ASSERT_TRUE(WaitFor([&] {
      return (tiles[0]->y() == tiles[1]->y()) == wide && (tiles[0]->x() == tiles[1]->x()) == !wide;
    }, kWaitMs)) << (wide ? "wide" : "narrow") << " " << tiles[0]->x() << "," << tiles[0]->y() << " "
                 << tiles[1]->x() << "," << tiles[1]->y();
  }

  // The failed device stays: probed on, its tile stays FAIL; taken away, it waits.
  const size_t probes = bad.Olmar().ProbeCount();
  ASSERT_TRUE(WaitFor([&] { return bad.Olmar().ProbeCount() >= probes + 4; }, kWaitMs));
  EXPECT_TRUE(Shows(w, badPort, TileState::Fail));
  bad.Olmar().SetSilent(true);
  ASSERT_TRUE(WaitFor([&] { return Shows(w, badPort, TileState::Waiting); }, kWaitMs));

  // Nothing under way: Stop asks nothing.
  w.findChild<QPushButton*>(QStringLiteral("stop"))->click();
  ASSERT_TRUE(WaitFor([&] { return !w.Running(); }, kWaitMs));
  EXPECT_EQ(w.StationExitStatus(), 130);
  const std::vector<std::string> lines = LogLines(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(w.Model()->Passed(), 1);
  EXPECT_EQ(w.Model()->Failed(), 1);
}

// With no port named, every adapter is a slot: one plugged in while the
// station runs gets a tile of its own, with its serial number, and its
// device is flashed.
TEST(StationWindow, AnAdapterPluggedInWhileItRunsGetsATile) {
  quorvel::test::Machine m;
  for (const std::string& env : m.Env()) {
    const size_t eq = env.find('=');
    setenv(env.substr(0, eq).c_str(), env.substr(eq + 1).c_str(), 1);  // NOLINT(concurrency-mt-unsafe): before the child starts
  }
  sim::TempDir dir;
  const std::string log = (dir.Path() / "station.log").string();
  const std::unique_ptr<PortPlatform> ports = MakeSysfsPortPlatform(m.sysfs.RootString());
  Environment env;
  env.portPlatform = ports.get();
  const auto first = m.Plug("ttyUSB0", "A10001");
  StationWindow w(Config({}, log), env);
  w.show();
  ASSERT_TRUE(WaitFor([&] { return Shows(w, m.Path("ttyUSB0"), TileState::Pass); }, kWaitMs));
  const auto second = m.Plug("ttyUSB1", "B20002");
  ASSERT_TRUE(WaitFor([&] { return Shows(w, m.Path("ttyUSB1"), TileState::Pass); }, kWaitMs));
  EXPECT_EQ(w.Model()->Tiles().size(), 2u);
  EXPECT_EQ(ToUtf8(TileOf(w, m.Path("ttyUSB1"))->serial), "B20002");
  w.findChild<QPushButton*>(QStringLiteral("stop"))->click();
  ASSERT_TRUE(WaitFor([&] { return !w.Running(); }, kWaitMs));
  EXPECT_EQ(LogLines(log).size(), 2u);
}

// Stop and closing the window during a transfer ask first, and the station
// ends once the transfer has.
TEST(StationWindow, StopOrCloseDuringATransferAsksAndLetsItEnd) {
  for (const bool byClosing : {false, true}) {
    SCOPED_TRACE(byClosing ? "closing the window" : "Stop");
    sim::TempDir dir;
    const std::string log = (dir.Path() / "station.log").string();
    Adapter a(true);
    StationWindow w(Config({a.line.SlavePath()}, log), Environment{});
    w.show();
    // Records on the way, as the tile shows: the handshake before them is
    // not yet a transfer.
    ASSERT_TRUE(WaitFor([&] { return w.Model() != nullptr && w.Model()->Transferring(); }, kWaitMs));
    QString asked;
    WhenShown(&w, [&](QWidget* shown) {
      auto* box = qobject_cast<QMessageBox*>(shown);
      if (box == nullptr) return;
      asked = box->text();
      box->button(QMessageBox::Yes)->click();
    });
    if (byClosing) w.close();
    else w.findChild<QPushButton*>(QStringLiteral("stop"))->click();
    ASSERT_TRUE(WaitFor([&] { return !w.Running(); }, kWaitMs));
    EXPECT_FALSE(asked.isEmpty());
    EXPECT_EQ(w.isVisible(), !byClosing);
    EXPECT_TRUE(Shows(w, a.line.SlavePath(), TileState::Pass));
    auto image = std::make_unique<UpdateImage>();
    ASSERT_EQ(LoadUpdateImage(FromUtf8(Sample()), *image), ImageLoadResult::Loaded);
    EXPECT_EQ(a.Olmar().AcceptedImage(), std::vector<uint8_t>(image->bytes, image->bytes + image->count));
    EXPECT_EQ(LogLines(log).size(), 1u);
  }
}

// The program itself: a termination signal during a transfer is passed on
// to the station, the transfer ends, and then the program, with 128+N.
TEST(StationWindow, TheProgramHoldsATerminationSignalUntilTheTransferHasEnded) {
  for (const int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    sim::TempDir dir;
    const std::string log = (dir.Path() / "station.log").string();
    Adapter a(true);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(QUORVEL_STATION_PATH),
                  {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--model"),
                   QStringLiteral("olmar"), QStringLiteral("--port"), QString::fromStdString(a.line.SlavePath()),
                   QStringLiteral("--log"), QString::fromStdString(log), QString::fromStdString(Sample())});
    ASSERT_TRUE(WaitFor([&] { return a.Olmar().ReceivedRecords().size() >= 2; }, kWaitMs));
    kill(static_cast<pid_t>(program.processId()), sig);
    ASSERT_TRUE(program.waitForFinished(kWaitMs));
    EXPECT_EQ(program.exitCode(), 128 + sig);
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"result\":\"success\""), std::string::npos) << lines[0];
  }
}

// Without a model and a file, the set-up form asks for them: the file
// dialog offers the model's files, a refused file is named with the usual
// text, and Start starts the station (on a named port: never on an adapter
// of the machine's).
TEST(StationWindow, TheSetUpFormRefusesAFileForTheOtherModelAndStarts) {
  sim::TempDir dir;
  Adapter a(false);
  a.Olmar().SetSilent(true);
  StationConfig config = Config({a.line.SlavePath()}, (dir.Path() / "station.log").string());
  config.model = 0;
  config.file.clear();
  StationWindow w(config, Environment{});
  w.show();
  QList<QRadioButton*> models = w.findChildren<QRadioButton*>();
  ASSERT_EQ(models.size(), 2);
  EXPECT_EQ(models[1]->text(), QStringLiteral("OLMAR I"));
  models[1]->click();
  QStringList offered;
  WhenShown(&w, [&](QWidget* shown) {
    auto* chooser = qobject_cast<QFileDialog*>(shown);
    if (chooser == nullptr) return;
    offered = chooser->nameFilters();
    test::AnswerFileDialog(chooser, QStringLiteral(QUORVEL_SAMPLES_DIR "/brenix-demo.kyc"));
  });
  w.findChild<QPushButton*>(QStringLiteral("browse"))->click();
  ASSERT_FALSE(offered.isEmpty());
  EXPECT_TRUE(offered[0].contains(QStringLiteral("*.pkc"))) << offered[0].toStdString();
  QString refusal;
  WhenShown(&w, [&](QWidget* shown) {
    if (auto* box = qobject_cast<QMessageBox*>(shown)) {
      refusal = box->text();
      box->button(QMessageBox::Ok)->click();
    }
  });
  w.findChild<QPushButton*>(QStringLiteral("start"))->click();
  EXPECT_EQ(refusal, ToQString(UpdateMessage(FileAcceptance::OtherModel, protocol::kModel2)));
  EXPECT_FALSE(w.Running());

  w.findChild<QLineEdit*>(QStringLiteral("file"))->setText(QString::fromStdString(Sample()));
  w.findChild<QPushButton*>(QStringLiteral("start"))->click();
  ASSERT_TRUE(WaitFor([&] { return Shows(w, a.line.SlavePath(), TileState::Waiting); }, kWaitMs));
  EXPECT_TRUE(w.Running());
  w.findChild<QPushButton*>(QStringLiteral("stop"))->click();
  ASSERT_TRUE(WaitFor([&] { return !w.Running(); }, kWaitMs));
}

}  // namespace
}  // namespace quorvel::qt
