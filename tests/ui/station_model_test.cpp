#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/StationModel.h"

namespace quorvel {
namespace {

std::string Line(const char* port, const char* state, const char* version = nullptr, int progress = -1,
                 const char* result = nullptr, const char* message = nullptr) {
  const auto str = [](const char* s) { return s ? std::string("\"") + s + "\"" : std::string("null"); };
  return std::string("{\"port\":") + str(port) + ",\"device\":1,\"state\":" + str(state) +
         ",\"version\":" + str(version) + ",\"progress\":" + (progress < 0 ? "null" : std::to_string(progress)) +
         ",\"result\":" + str(result) + (result ? ",\"status\":0" : "") + ",\"message\":" + str(message) + "}";
}

StationLabels English() { return LoadStationLabels(Environment{}); }

// A slot's life, line by line: what its tile says after each.
TEST(StationModel, ATileFollowsItsSlotFromWaitingToTheResultHeldUntilRemoval) {
  struct Step {
    std::string line;
    TileState state;
    const char16_t* accessible;
    int passed, failed;
  };
  const char* usb = "/dev/ttyUSB0";
  const Step steps[] = {
      {Line(usb, "waiting", nullptr, -1, nullptr, "Waiting for a device"), TileState::Waiting,
       u"ttyUSB0: Waiting for a device", 0, 0},
      {Line(usb, "ready", "P1.05.12", -1, nullptr, "Device found"), TileState::Device, u"ttyUSB0: P1.05.12", 0, 0},
      {Line(usb, "handshake", "P1.05.12"), TileState::Flashing, u"ttyUSB0: Transferring.. 0%", 0, 0},
      {Line(usb, "transferring", "P1.05.12", 37, nullptr, "Transferring.. 37%"), TileState::Flashing,
       u"ttyUSB0: Transferring.. 37%", 0, 0},
      {Line(usb, "done", "P1.06.00", 100, "success", "Updated successfully!"), TileState::Pass,
       u"ttyUSB0: PASS, P1.06.00", 1, 0},
      {Line(usb, "remove", "P1.06.00", -1, nullptr, "Remove the device"), TileState::Pass,
       u"ttyUSB0: PASS, P1.06.00, Remove the device", 1, 0},
      {Line(usb, "waiting"), TileState::Waiting, u"ttyUSB0: Waiting for a device", 1, 0},
      {Line(usb, "done", nullptr, -1, "crc", "Update Error: Data transfer crc error!"), TileState::Fail,
       u"ttyUSB0: FAIL, Update Error: Data transfer crc error!", 1, 1},
      {Line(usb, "remove"), TileState::Fail, u"ttyUSB0: FAIL, Update Error: Data transfer crc error!, Remove the device", 1, 1},
      {Line(usb, "ended", nullptr, -1, "interrupted", "Stopped while waiting for the device's removal"),
       TileState::Fail, u"ttyUSB0: FAIL, Update Error: Data transfer crc error!, Stopped", 1, 1},
  };
  StationModel model(English(), 0, [](const std::string& port) { return FromUtf8("SN-" + port.substr(5)); });
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    EXPECT_EQ(model.Feed(step.line), 0u);
    ASSERT_EQ(model.Tiles().size(), 1u);
    const StationTile& tile = model.Tiles()[0];
    EXPECT_EQ(tile.state, step.state);
    EXPECT_EQ(model.AccessibleName(tile), step.accessible);
    EXPECT_EQ(tile.serial, u"SN-ttyUSB0");
    EXPECT_EQ(tile.passed, step.passed);
    EXPECT_EQ(tile.failed, step.failed);
    EXPECT_EQ(model.Transferring(), step.line.find("\"transferring\"") != std::string::npos);
  }
}

// A line for a port not seen yet (an adapter plugged in) adds a tile; a note
// for no port and what is not a line of the station's change none.
TEST(StationModel, ANewPortAddsATileAndTheTotalsCountEveryTile) {
  StationModel model(English(), 1000);
  EXPECT_EQ(model.Feed(Line("/dev/ttyUSB0", "waiting")), 0u);
  EXPECT_EQ(model.Feed(Line(nullptr, "waiting", nullptr, -1, nullptr, "No adapter: waiting")), std::nullopt);
  EXPECT_EQ(model.Note(), u"No adapter: waiting");
  for (const char* junk : {"", "quorvel-flash: passed over", "{\"port\":\"x\"", "{\"port\":\"/dev/x\"}"}) {
    EXPECT_EQ(model.Feed(junk), std::nullopt) << junk;
  }
  EXPECT_EQ(model.Feed(Line("/dev/ttyUSB1", "done", "P1.06.00", 100, "success", "Updated successfully!")), 1u);
  EXPECT_EQ(model.Note(), u"");  // an adapter came
  EXPECT_EQ(model.Feed(Line("/dev/ttyUSB2", "done", nullptr, -1, "repeats", "Update Error: \\\"x\\\" \\u00e9")), 2u);
  EXPECT_EQ(model.Tiles()[2].reason, u"Update Error: \"x\" é");
  EXPECT_EQ(model.Feed(Line("/dev/ttyUSB1", "done", "P1.06.00", 100, "success", "Updated successfully!")), 1u);
  ASSERT_EQ(model.Tiles().size(), 3u);
  EXPECT_EQ(model.Passed(), 2);
  EXPECT_EQ(model.Failed(), 1);
  // Two passed in the first hour and a half.
  EXPECT_DOUBLE_EQ(model.DevicesPerHour(1000 + 5400000), 2 / 1.5);
  EXPECT_EQ(model.TotalsText(1000 + 5400000), u"Passed 2  Failed 1   1 devices/h   Running 1:30:00");
}

}  // namespace
}  // namespace quorvel
