// ListSerialPorts over a fake platform: the choice of method, the three
// methods, their buffer limits, their error texts and that every set and key
// taken is given back.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/PortList.h"
#include "serial/PortPlatform.h"
#include "support/FakePortPlatform.h"

namespace quorvel {
namespace {

using test::FakeInterface;
using test::FakeKey;
using test::FakePortPlatform;
using test::Key;

std::vector<SSerInfo> Stale() { return {SSerInfo{u"stale", u"stale (COM99)"}}; }

// Runs ListSerialPorts expecting an error; returns its message text.
Text ListExpectingError(std::vector<SSerInfo>& ports, PortPlatform& platform) {
  try {
    ListSerialPorts(ports, platform);
  } catch (const PortListError& error) {
    return error.Message();
  }
  ADD_FAILURE() << "no error raised";
  return Text();
}

FakeInterface Port(const std::string& path, const std::string& friendly) {
  return FakeInterface{FromUtf8(path), FromUtf8(friendly)};
}

TEST(PortListVersion, FailureRaisesWithCodeAndEmptiesTheList) {
  FakePortPlatform platform;
  platform.versionStatus = 0x1f;
  auto ports = Stale();
  EXPECT_EQ(ListExpectingError(ports, platform), u"Could not get OS version. (err=1f)");
  EXPECT_TRUE(ports.empty());
  EXPECT_EQ(platform.setsOpened, 0);
}

TEST(PortListVersion, ChoosesTheMethod) {
  enum Method { kInterfaces, kFixed, kRegistry };
  const struct {
    uint32_t major, platformId;
    Method method;
  } cases[] = {
      {10, kPlatformWin32Nt, kInterfaces},   {5, kPlatformWin32Windows, kInterfaces},
      {4, kPlatformWin32Nt, kFixed},         {3, kPlatformWin32Nt, kFixed},
      {4, kPlatformWin32Windows, kRegistry}, {4, 0, kRegistry},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "/" << c.platformId);
    FakePortPlatform platform;
    platform.version = {c.major, c.platformId};
    platform.interfaces = {Port("\\\\?\\acpi#pnp0501#1", "Port (COM1)")};
    platform.localMachine = Key(u"", {Key(u"Enum")});
    std::vector<SSerInfo> ports;
    ListSerialPorts(ports, platform);
    EXPECT_EQ(platform.setsOpened, c.method == kInterfaces ? 1 : 0);
    EXPECT_EQ(platform.keysOpened, c.method == kRegistry ? 1 : 0);
    EXPECT_EQ(ports.size(), c.method == kInterfaces ? 1u : c.method == kFixed ? 16u : 0u);
  }
}

TEST(PortListInterfaces, ListsReadablePortsInOrderAndReleasesTheSet) {
  FakePortPlatform platform;
  platform.interfaces = {
      Port("\\\\?\\usb#vid_10c4&pid_ea60#0001#{86e0d1e0}", "USB Bridge (COM7)"),
      FakeInterface{u"\\\\?\\no-friendly", std::nullopt},
      FakeInterface{u"\\\\?\\no-description", u"Port (COM4)", std::nullopt},
      Port("\\\\?\\acpi#pnp0501#1", "Communications Port (COM1)"),
  };
  auto ports = Stale();
  ListSerialPorts(ports, platform);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].devicePath, u"\\\\?\\usb#vid_10c4&pid_ea60#0001#{86e0d1e0}");
  EXPECT_EQ(ports[0].friendlyName, u"USB Bridge (COM7)");
  EXPECT_EQ(ports[1].devicePath, u"\\\\?\\acpi#pnp0501#1");
  EXPECT_EQ(ports[1].friendlyName, u"Communications Port (COM1)");
  EXPECT_EQ(platform.setsOpened, 1);
  EXPECT_EQ(platform.setsClosed, 1);
  EXPECT_TRUE(platform.NothingOpen());
}

TEST(PortListInterfaces, NoPortsIsAnEmptyListWithoutError) {
  FakePortPlatform platform;
  auto ports = Stale();
  ListSerialPorts(ports, platform);
  EXPECT_TRUE(ports.empty());
  EXPECT_EQ(platform.setsClosed, 1);
}

// The fixed buffers: 128 characters of device path, 255 of friendly name and
// description (512 bytes with the terminator).
TEST(PortListInterfaces, BufferLimits) {
  const Text path128 = u"\\\\?\\" + Text(124, u'p');
  const Text name255 = Text(248, u'n') + u" (COM1)";
  const struct {
    const char* what;
    FakeInterface port;
    size_t listed;
  } cases[] = {
      {"all at their limits", {path128, name255, Text(255, u'd')}, 1},
      {"friendly name of 256", {path128, name255 + u"x", Text(u"d")}, 0},
      {"description of 256", {path128, name255, Text(256, u'd')}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePortPlatform platform;
    platform.interfaces = {c.port, Port("\\\\?\\next", "Next (COM2)")};
    std::vector<SSerInfo> ports;
    ListSerialPorts(ports, platform);
    EXPECT_EQ(ports.size(), c.listed + 1);
    EXPECT_EQ(ports.back().devicePath, u"\\\\?\\next");
  }
}

TEST(PortListInterfaces, FailuresRaiseAfterReleasingTheSetAndKeepEarlierEntries) {
  const struct {
    const char* what;
    PlatformStatus setStatus;
    std::vector<FakeInterface> interfaces;
    const char16_t* message;
    size_t kept;
  } cases[] = {
      {"set", 0xe0000217, {}, u"SetupDiGetClassDevs failed. (err=e0000217)", 0},
      {"set, small code", 0x5, {}, u"SetupDiGetClassDevs failed. (err=5)", 0},
      {"enumeration halfway",
       kStatusOk,
       {Port("a", "A (COM1)"), Port("b", "B (COM2)"), FakeInterface{u"c", u"C", u"d", 0x3e6}},
       u"SetupDiEnumDeviceInterfaces failed. (err=3e6)",
       2},
      {"detail",
       kStatusOk,
       {Port("a", "A (COM1)"), FakeInterface{u"b", u"B", u"d", kStatusOk, 0x57}},
       u"SetupDiGetDeviceInterfaceDetail failed. (err=57)",
       1},
      {"device path of 129 characters",
       kStatusOk,
       {Port("a", "A (COM1)"), Port(std::string(129, 'p'), "B (COM2)"), Port("c", "C (COM3)")},
       u"SetupDiGetDeviceInterfaceDetail failed. (err=7a)",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePortPlatform platform;
    platform.setStatus = c.setStatus;
    platform.interfaces = c.interfaces;
    auto ports = Stale();
    EXPECT_EQ(ListExpectingError(ports, platform), c.message);
    EXPECT_EQ(ports.size(), c.kept);
    EXPECT_EQ(platform.setsClosed, platform.setsOpened);
    EXPECT_TRUE(platform.NothingOpen());
  }
}

TEST(PortListFixed, SixteenNamesWhetherOrNotThePortsExist) {
  FakePortPlatform platform;
  platform.version = {4, kPlatformWin32Nt};
  auto ports = Stale();
  ListSerialPorts(ports, platform);
  ASSERT_EQ(ports.size(), 16u);
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].devicePath, u"\\\\.\\COM" + DecimalText(static_cast<uint32_t>(i + 1)));
    EXPECT_TRUE(ports[i].friendlyName.empty());
  }
  EXPECT_EQ(platform.setsOpened, 0);
  EXPECT_EQ(platform.keysOpened, 0);
}

FakeKey Instance(Text name, std::vector<std::pair<Text, Text>> values) {
  return Key(std::move(name), {}, std::move(values));
}

// Ports of an old system below HKLM\Enum.
FakeKey OldMachine() {
  return Key(
      u"",
      {Key(
          u"Enum",
          {
              Key(u"Root", {Key(u"*PNP0A03", {Instance(u"0000", {{u"PORTNAME", u"COM8"}})}),
                            Key(u"*pnp0501", {Instance(u"0000", {{u"PORTNAME", u"COM9"}})})}),
              Key(u"BIOS",
                  {Key(u"*PNP0501",
                       {Instance(u"0000", {{u"PORTNAME", u"COM1"},
                                           {u"FRIENDLYNAME", u"Communications Port (COM1)"}}),
                        Instance(u"0001", {{u"FRIENDLYNAME", u"No name (COM6)"}}),
                        Instance(u"0002", {{u"PORTNAME", u"COM2"}})}),
                   Key(u"*PNP0500", {Instance(u"0000", {{u"PORTNAME", u"COM3"}})})}),
              Key(u"USBPORTS",
                  {Key(u"BRIDGE", {Instance(u"0000", {{u"PORTNAME", u"COM5"},
                                                      {u"FRIENDLYNAME", u"USB Bridge (COM5)"}})})}),
              Key(u"usbports", {Key(u"BRIDGE", {Instance(u"0000", {{u"PORTNAME", u"COM4"}})})}),
          })});
}

FakePortPlatform OldPlatform() {
  FakePortPlatform platform;
  platform.version = {4, kPlatformWin32Windows};
  platform.localMachine = OldMachine();
  return platform;
}

TEST(PortListRegistry, TakesSerialDevicesAndEveryUsbPortDevice) {
  FakePortPlatform platform = OldPlatform();
  auto ports = Stale();
  ListSerialPorts(ports, platform);
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].devicePath, u"\\\\.\\COM1");
  EXPECT_EQ(ports[0].friendlyName, u"Communications Port (COM1)");
  EXPECT_EQ(ports[1].devicePath, u"\\\\.\\COM2");  // without FRIENDLYNAME
  EXPECT_EQ(ports[1].friendlyName, u"");
  EXPECT_EQ(ports[2].devicePath, u"\\\\.\\COM3");
  EXPECT_EQ(ports[3].devicePath, u"\\\\.\\COM5");
  EXPECT_EQ(ports[3].friendlyName, u"USB Bridge (COM5)");
  // Names compare exactly: neither the lower-case device nor a device that is
  // not a serial port (outside USBPORTS) is opened.
  for (const Text& name : platform.keysOpenedByName) {
    EXPECT_NE(name, u"*pnp0501");
    EXPECT_NE(name, u"*PNP0A03");
  }
  EXPECT_EQ(platform.keysOpened, platform.keysClosed);
  EXPECT_TRUE(platform.NothingOpen());
}

// Key names up to 127 characters and values up to 63 fit their buffers; a
// longer key name ends its level, a longer value reads as absent.
TEST(PortListRegistry, BufferLimits) {
  const Text name127(127, u'k');
  const Text name128(128, u'k');
  const Text value63 = Text(57, u'v') + u"(COM1)";
  const Text value64 = u"v" + value63;
  FakePortPlatform platform;
  platform.version = {4, kPlatformWin32Windows};
  platform.localMachine = Key(
      u"", {Key(u"Enum",
                {Key(u"USBPORTS",
                     {
                         Key(name127,
                             {Instance(u"0", {{u"PORTNAME", u"COM1"}, {u"FRIENDLYNAME", value63}}),
                              Instance(u"1", {{u"PORTNAME", u"COM2"}, {u"FRIENDLYNAME", value64}}),
                              Instance(u"2", {{u"PORTNAME", Text(63, u'P')}}),
                              Instance(u"3", {{u"PORTNAME", Text(64, u'P')}})}),
                         Key(name128, {Instance(u"0", {{u"PORTNAME", u"COM8"}})}),
                         Key(u"AFTER", {Instance(u"0", {{u"PORTNAME", u"COM9"}})}),
                     })})});
  std::vector<SSerInfo> ports;
  ListSerialPorts(ports, platform);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].friendlyName, value63);
  EXPECT_EQ(ports[1].devicePath, u"\\\\.\\COM2");
  EXPECT_EQ(ports[1].friendlyName, u"");
  EXPECT_EQ(ports[2].devicePath, u"\\\\.\\" + Text(63, u'P'));
  EXPECT_TRUE(platform.NothingOpen());
}

TEST(PortListRegistry, FailuresRaiseAfterClosingEveryKey) {
  const struct {
    const char* what;
    std::vector<size_t> path;  // subkey indices from HKLM to the key that cannot be opened
    const char16_t* message;
    size_t kept;
  } cases[] = {
      {"Enum", {0}, u"Could not read from HKLM\\Enum", 0},
      {"enumerator", {0, 1}, u"Could not read from HKLM\\Enum\\BIOS", 0},
      {"device", {0, 1, 1}, u"Could not read from HKLM\\Enum\\BIOS\\*PNP0500", 2},
      {"instance", {0, 1, 0, 2}, u"Could not read from HKLM\\Enum\\...\\0002", 1},
      {"instance under USBPORTS", {0, 2, 0, 0}, u"Could not read from HKLM\\Enum\\...\\0000", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePortPlatform platform = OldPlatform();
    FakeKey* key = &platform.localMachine;
    for (const size_t index : c.path) key = &key->subkeys.at(index);
    key->openFails = true;
    auto ports = Stale();
    EXPECT_EQ(ListExpectingError(ports, platform), c.message);
    EXPECT_EQ(ports.size(), c.kept);
    EXPECT_EQ(platform.keysOpened, platform.keysClosed);
    EXPECT_TRUE(platform.NothingOpen());
  }
}

}  // namespace
}  // namespace quorvel
