// ListSerialPorts over the sysfs platform, on fake sysfs trees laid out as
// the kernel lays them out: which ttys are serial ports, the device paths
// adapter discovery searches and the friendly names it cuts the port name
// from, and one way from a fake adapter to an opened port.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/AdapterDiscovery.h"
#include "serial/PortList.h"
#include "serial/PortPlatform.h"
#include "serial/SerialLink.h"
#include "support/FakeSysfs.h"
#include "sim/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::FakeSysfs;
using test::UartLayout;
using test::UsbSerialOptions;

std::vector<SSerInfo> List(const std::string& root) {
  const auto platform = MakeSysfsPortPlatform(root);
  std::vector<SSerInfo> ports;
  ListSerialPorts(ports, *platform);
  return ports;
}

std::vector<SSerInfo> List(const FakeSysfs& sysfs) { return List(sysfs.RootString()); }

std::string Utf8(const Text& text) { return ToUtf8(text); }

UsbSerialOptions Made(std::optional<std::string> manufacturer, std::string driver = "cp210x",
                      bool acm = false, std::string busPath = "") {
  return UsbSerialOptions{std::move(manufacturer), std::move(driver), acm, std::move(busPath)};
}

TEST(SysfsPorts, VirtualTerminalsAndPtysAreNoSerialPorts) {
  FakeSysfs sysfs;
  for (const char* name : {"tty", "tty0", "tty1", "console", "ptmx", "ptyp0", "ttyp0"}) {
    sysfs.AddVirtual(name);
  }
  EXPECT_TRUE(List(sysfs).empty());
  EXPECT_TRUE(List(sysfs.RootString() + "/no-such-tree").empty());
}

TEST(SysfsPorts, OneAdapter) {
  FakeSysfs sysfs;
  sysfs.AddVirtual("tty0");
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "USB to UART Bridge", "0001", Made("Acme"));
  const auto ports = List(sysfs);
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(Utf8(ports[0].devicePath), "/sys/class/tty/ttyUSB0#usb#vid_10c4&pid_ea60#0001");
  const auto pos = ports[0].devicePath.find(u"vid_10c4&pid_ea60");
  ASSERT_NE(pos, Text::npos);
  EXPECT_GT(pos, 0u);
  EXPECT_EQ(ports[0].friendlyName, u"USB to UART Bridge (COM:ttyUSB0)");
  EXPECT_EQ(CutComName(ports[0].friendlyName), u"COM:ttyUSB0");
}

// A machine with something of each kind, listed in name order with runs of
// digits compared by value.
TEST(SysfsPorts, MixedMachine) {
  FakeSysfs sysfs;
  sysfs.AddVirtual("tty0");
  sysfs.AddVirtual("console");
  sysfs.AddVirtual("ptmx");
  sysfs.AddLegacyUart("ttyS0", 4, UartLayout::Platform);
  sysfs.AddLegacyUart("ttyS1", 0, UartLayout::Platform);    // no UART: left out
  sysfs.AddLegacyUart("ttyS2", 0, UartLayout::SerialBase);  // no UART: left out
  sysfs.AddLegacyUart("ttyS3", 4, UartLayout::SerialBase);
  sysfs.AddLegacyUart("ttyS4", 4, UartLayout::Pnp);
  sysfs.AddUsbSerial("ttyUSB10", "0403", "6001", std::nullopt, "A12345", Made("Acme", "ftdi_sio"));
  sysfs.AddUsbSerial("ttyUSB2", "10c8", "ea61", "Bridge Two", std::nullopt);
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "Bridge One", "0001");
  sysfs.AddUsbSerial("ttyACM0", "1209", "0042", "Sensor Board", "8573",
                     Made(std::nullopt, "cdc_acm", true));

  const std::string cls = "/sys/class/tty/";
  const struct {
    std::string path, friendly;
  } expected[] = {
      {cls + "ttyACM0#usb#vid_1209&pid_0042#8573", "Sensor Board (COM:ttyACM0)"},
      {cls + "ttyS0", "serial8250 (COM:ttyS0)"},
      {cls + "ttyS3", "serial8250 (COM:ttyS3)"},
      {cls + "ttyS4", "serial (COM:ttyS4)"},
      {cls + "ttyUSB0#usb#vid_10c4&pid_ea60#0001", "Bridge One (COM:ttyUSB0)"},
      {cls + "ttyUSB2#usb#vid_10c8&pid_ea61#", "Bridge Two (COM:ttyUSB2)"},
      {cls + "ttyUSB10#usb#vid_0403&pid_6001#A12345",
       "Acme USB serial (COM:ttyUSB10)"},
  };
  const auto ports = List(sysfs);
  ASSERT_EQ(ports.size(), std::size(expected));
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(Utf8(ports[i].devicePath), expected[i].path);
    EXPECT_EQ(Utf8(ports[i].friendlyName), expected[i].friendly);
  }
}

TEST(SysfsPorts, IdentifiersAreFourLowerCaseHexDigits) {
  const struct {
    const char *vid, *pid, *inPath;
  } cases[] = {
      {"10c4", "ea60", "#usb#vid_10c4&pid_ea60#"},
      {"10C8", "EA61", "#usb#vid_10c8&pid_ea61#"},
      {"4b3", "1", "#usb#vid_04b3&pid_0001#"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vid);
    FakeSysfs sysfs;
    sysfs.AddUsbSerial("ttyUSB0", c.vid, c.pid, "Bridge", std::nullopt);
    const auto ports = List(sysfs);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_NE(Utf8(ports[0].devicePath).find(c.inPath), std::string::npos)
        << Utf8(ports[0].devicePath);
  }
}

// The nearest USB device above the port is the adapter, not the hubs or the
// root hub it sits behind (which have identifiers too).
TEST(SysfsPorts, AdapterBehindHubs) {
  FakeSysfs sysfs;
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "Bridge", "7",
                     Made(std::nullopt, "cp210x", false, "1-1.4.2"));
  const auto ports = List(sysfs);
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(Utf8(ports[0].devicePath),
            "/sys/class/tty/ttyUSB0#usb#vid_10c4&pid_ea60#7");
}

TEST(SysfsPorts, DescriptionFallsBackFromProductToMakerToDriver) {
  const struct {
    std::optional<std::string> product, manufacturer;
    bool acm;
    const char16_t* friendly;
  } cases[] = {
      {"Bridge", "Acme", false, u"Bridge (COM:ttyUSB0)"},
      {std::nullopt, "Acme", false, u"Acme USB serial (COM:ttyUSB0)"},
      {"", "Acme", false, u"Acme USB serial (COM:ttyUSB0)"},
      {std::nullopt, std::nullopt, false, u"cp210x (COM:ttyUSB0)"},
      {std::nullopt, std::nullopt, true, u"cdc_acm (COM:ttyUSB0)"},
      {"Brücke ä", std::nullopt, false, u"Brücke ä (COM:ttyUSB0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.friendly));
    FakeSysfs sysfs;
    sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", c.product, "1",
                       Made(c.manufacturer, c.acm ? "cdc_acm" : "cp210x", c.acm));
    const auto ports = List(sysfs);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].friendlyName, c.friendly);
  }
}

// Discovery cuts from the first "COM" to the next ")": neither may come from
// the product text.
TEST(SysfsPorts, ProductTextCannotDisturbTheCut) {
  const struct {
    const char* product;
    const char16_t* friendly;
  } cases[] = {
      {"Dual COM Bridge (rev. 2)", u"Dual Com Bridge (rev. 2] (COM:ttyUSB0)"},
      {"COMCOM))", u"ComCom]] (COM:ttyUSB0)"},
      {"Bridge)", u"Bridge] (COM:ttyUSB0)"},
      {"COM", u"Com (COM:ttyUSB0)"},
      {"CCOMOM", u"CComOM (COM:ttyUSB0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.product);
    FakeSysfs sysfs;
    sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", c.product, "1");
    const auto ports = List(sysfs);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].friendlyName, c.friendly);
    EXPECT_EQ(CutComName(ports[0].friendlyName), u"COM:ttyUSB0");
  }
}

// A USB text that exists but cannot be read leaves its port out, and the
// listing goes on. Tests run as root, where mode 000 does not stop a read, so
// the file is replaced by things whose read fails for any user.
TEST(SysfsPorts, PortWhoseTextsCannotBeReadIsLeftOut) {
  const struct {
    const char* what;
    const char* file;
    void (*spoil)(const fs::path&);
  } cases[] = {
      {"product is a directory", "product", [](const fs::path& p) { fs::create_directory(p); }},
      {"product is a dangling link", "product",
       [](const fs::path& p) { fs::create_symlink("no-such-file", p); }},
      {"product is a link loop", "product",
       [](const fs::path& p) { fs::create_symlink(p.filename(), p); }},
      {"serial is a directory", "serial", [](const fs::path& p) { fs::create_directory(p); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSysfs sysfs;
    const fs::path broken = sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "Bridge One", "1");
    sysfs.AddUsbSerial("ttyUSB1", "10c4", "ea60", "Bridge Two", "2");
    fs::remove(broken / c.file);
    c.spoil(broken / c.file);
    const auto ports = List(sysfs);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].friendlyName, u"Bridge Two (COM:ttyUSB1)");
  }
}

TEST(SysfsPorts, TwoCallsGiveTheSameListWithoutDuplicates) {
  FakeSysfs sysfs;
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "Bridge One", "1");
  sysfs.AddUsbSerial("ttyUSB1", "10c8", "ea61", "Bridge Two", "2");
  const auto platform = MakeSysfsPortPlatform(sysfs.RootString());
  std::vector<SSerInfo> first;
  std::vector<SSerInfo> second;
  ListSerialPorts(first, *platform);
  ListSerialPorts(second, *platform);
  ListSerialPorts(second, *platform);
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].devicePath, second[i].devicePath);
    EXPECT_EQ(first[i].friendlyName, second[i].friendlyName);
  }
  EXPECT_NE(first[0].devicePath, first[1].devicePath);
}

// Device paths are held to 128 characters: a longer one ends the listing with
// an error, keeping the ports before it.
// Deep hub chains and long serial numbers are common on real machines; the
// path is kept short enough that they never stop the enumeration.
TEST(SysfsPorts, DeepHubsAndLongSerialNumbersStillList) {
  FakeSysfs sysfs;
  sysfs.AddUsbSerial("ttyACM0", "1209", "0042", "Sensor Board", "1",
                     Made(std::nullopt, "cdc_acm", true, "1-3"));
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "Bridge", std::string(126, '9'),
                     Made(std::nullopt, "cp210x", false, "1-1.4.2.3.1"));
  sysfs.AddUsbSerial("ttyUSB1", "10c4", "ea60", "Bridge", "1");
  const auto platform = MakeSysfsPortPlatform(sysfs.RootString());
  std::vector<SSerInfo> ports;
  ASSERT_NO_THROW(ListSerialPorts(ports, *platform));
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(CutComName(ports[1].friendlyName), u"COM:ttyUSB0");
  EXPECT_LE(ports[1].devicePath.size(), 128u);
  EXPECT_EQ(ports[1].devicePath.substr(0, 45), u"/sys/class/tty/ttyUSB0#usb#vid_10c4&pid_ea60#");
}

// From the kernel's view of an adapter to an opened port: the list names it,
// discovery's cut gives the name, and the serial channel opens the device file
// it stands for (here a link to a pseudo-terminal).
TEST(SysfsPorts, FromSysfsToAnOpenedPort) {
  int master = -1;
  int slave = -1;
  char slaveName[256] = {};
  ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
  close(slave);

  FakeSysfs sysfs;
  sysfs.AddVirtual("tty0");
  sysfs.AddLegacyUart("ttyS0", 4);
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "USB to UART Bridge", "0001");
  sim::TempDir devices;
  fs::create_symlink(slaveName, devices.Path() / "ttyUSB0");

  const auto platform = MakeSysfsPortPlatform(sysfs.RootString());
  SerialLink link;
  link.deviceDir = devices.Path().string() + "/";
  ListSerialPorts(link.ports, *platform);
  const SSerInfo* adapter = nullptr;
  for (const SSerInfo& port : link.ports) {
    const auto pos = port.devicePath.find(u"vid_10c4&pid_ea60");
    if (pos != Text::npos && pos > 0) adapter = &port;
  }
  ASSERT_NE(adapter, nullptr);
  ASSERT_TRUE(link.OpenPort(CutComName(adapter->friendlyName), 19200));

  // The byte written arrives at the pseudo-terminal's other end.
  const uint8_t probe = 0xD4;
  ASSERT_TRUE(link.WriteBytes(1, &probe));
  pollfd ready{master, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 5000), 1);
  uint8_t received = 0;
  EXPECT_EQ(read(master, &received, 1), 1);
  EXPECT_EQ(received, probe);
  link.ClosePort();
  close(master);
}

}  // namespace
}  // namespace quorvel
