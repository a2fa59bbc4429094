// ListSerialPorts' own contract over a fake platform, and the text helpers
// of the platforms' listings.

#include <gtest/gtest.h>

#include <vector>

#include "serial/PortList.h"
#include "serial/PortPlatform.h"
#include "support/FakePortPlatform.h"

namespace quorvel {
namespace {

using test::FakePortPlatform;
using test::UsbPort;

TEST(PortList, StartsEmptyAndKeepsWhatCameBeforeAFailure) {
  const struct {
    const char* what;
    const char16_t* failure;
  } cases[] = {{"listed", u""}, {"failed after two", u"Could not read /sys/class/tty: I/O error"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePortPlatform platform;
    platform.ports = {UsbPort(u"ttyUSB0"), UsbPort(u"ttyUSB1", 0x10c8, 0xea61)};
    platform.failure = c.failure;
    std::vector<SSerInfo> ports = {UsbPort(u"stale")};
    const PortListError error = ListSerialPorts(ports, platform);
    EXPECT_EQ(error.message, c.failure);
    EXPECT_EQ(error.Failed(), !error.message.empty());
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, u"ttyUSB0");
    EXPECT_EQ(ports[1].name, u"ttyUSB1");
  }
}

TEST(ComNameCut, TakesFromTheFirstComToTheNextParenthesis) {
  const struct {
    const char16_t* friendly;
    const char16_t* name;
  } cases[] = {
      {u"Serial Adapter (COM7)", u"COM7"},
      {u"Adapter (COM12)", u"COM12"},
      {u"COM3", u""},                       // no ")"
      {u"", u""},
      {u"No port here)", u"No port here"},  // no "COM": from the start
      {u"A (COM1) B (COM2)", u"COM1"},
      {u"com4 (COM5)", u"COM5"},            // case-sensitive
      {u"Odd) (COM6)", u"COM6"},            // a ")" before "COM" does not end it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CutComName(c.friendly), c.name) << ToUtf8(c.friendly);
  }
}

TEST(UsbIdParse, ReadsFourHexDigitsAfterVidAndPid) {
  const struct {
    const char16_t* id;
    bool parsed;
    uint16_t vendor, product;
  } cases[] = {
      {u"USB\\VID_10C4&PID_EA60&REV_0100", true, 0x10c4, 0xea60},
      {u"USB\\VID_10C8&PID_EA61", true, 0x10c8, 0xea61},
      {u"usb\\vid_0403&pid_6001\\A12345", true, 0x0403, 0x6001},  // letter case ignored
      {u"FTDIBUS\\COMPORT&VID_0403&PID_6015", true, 0x0403, 0x6015},
      {u"ACPI\\PNP0501", false, 0, 0},
      {u"USB\\VID_10C4", false, 0, 0},                 // no product
      {u"USB\\VID_10C&PID_EA60", false, 0, 0},         // three digits
      {u"USB\\VID_10CG&PID_EA60", false, 0, 0},        // not hex
      {u"USB\\VID_10C4&PID_EA6", false, 0, 0},         // cut short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.id));
    uint16_t vendor = 0;
    uint16_t product = 0;
    EXPECT_EQ(ParseUsbIds(c.id, vendor, product), c.parsed);
    EXPECT_EQ(vendor, c.vendor);
    EXPECT_EQ(product, c.product);
  }
}

}  // namespace
}  // namespace quorvel
