// ListSerialPorts over the sysfs platform, on fake sysfs trees laid out as
// the kernel lays them out: which ttys are serial ports, what each port's
// record holds, and one way from a fake adapter to an opened port.

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
  EXPECT_FALSE(ListSerialPorts(ports, *platform).Failed());
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
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "USB to UART Bridge", "0001",
                     Made("Acme", "cp210x", false, "1-4"));
  const auto ports = List(sysfs);
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].name, u"ttyUSB0");
  EXPECT_EQ(ports[0].devicePath, u"/sys/class/tty/ttyUSB0");
  EXPECT_EQ(ports[0].description, u"USB to UART Bridge");
  EXPECT_EQ(ports[0].friendlyName, u"USB to UART Bridge (ttyUSB0)");
  EXPECT_TRUE(ports[0].IsUsb(0x10c4, 0xea60));
  EXPECT_EQ(ports[0].serialNumber, u"0001");
  EXPECT_EQ(ports[0].location, u"1-4");
  EXPECT_TRUE(IsAdapter(ports[0]));
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

  const struct {
    std::string name, friendly;
    bool usb;
    uint16_t vid, pid;
    std::string serial;
  } expected[] = {
      {"ttyACM0", "Sensor Board (ttyACM0)", true, 0x1209, 0x0042, "8573"},
      {"ttyS0", "serial8250 (ttyS0)", false, 0, 0, ""},
      {"ttyS3", "serial8250 (ttyS3)", false, 0, 0, ""},
      {"ttyS4", "serial (ttyS4)", false, 0, 0, ""},
      {"ttyUSB0", "Bridge One (ttyUSB0)", true, 0x10c4, 0xea60, "0001"},
      {"ttyUSB2", "Bridge Two (ttyUSB2)", true, 0x10c8, 0xea61, ""},
      {"ttyUSB10", "Acme USB serial (ttyUSB10)", true, 0x0403, 0x6001, "A12345"},
  };
  const auto ports = List(sysfs);
  ASSERT_EQ(ports.size(), std::size(expected));
  for (size_t i = 0; i < ports.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(Utf8(ports[i].name), expected[i].name);
    EXPECT_EQ(Utf8(ports[i].devicePath), "/sys/class/tty/" + expected[i].name);
    EXPECT_EQ(Utf8(ports[i].friendlyName), expected[i].friendly);
    EXPECT_EQ(ports[i].usb, expected[i].usb);
    EXPECT_EQ(ports[i].vendorId, expected[i].vid);
    EXPECT_EQ(ports[i].productId, expected[i].pid);
    EXPECT_EQ(Utf8(ports[i].serialNumber), expected[i].serial);
    EXPECT_EQ(ports[i].location.empty(), !expected[i].usb);
  }
}

// Identifiers are hex numbers of up to four digits in either case; anything
// else leaves the port out, as discovery could not tell what it is.
TEST(SysfsPorts, IdentifiersAreHexNumbers) {
  const struct {
    const char *vid, *pid;
    bool listed;
    uint16_t vendor, product;
  } cases[] = {
      {"10c4", "ea60", true, 0x10c4, 0xea60}, {"10C8", "EA61", true, 0x10c8, 0xea61},
      {"4b3", "1", true, 0x04b3, 0x0001},     {"10c4x", "ea60", false, 0, 0},
      {"10c4", "", false, 0, 0},              {"zz", "ea60", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.vid) + ":" + c.pid);
    FakeSysfs sysfs;
    sysfs.AddUsbSerial("ttyUSB0", c.vid, c.pid, "Bridge", std::nullopt);
    const auto ports = List(sysfs);
    ASSERT_EQ(ports.size(), c.listed ? 1u : 0u);
    if (c.listed) {
      EXPECT_TRUE(ports[0].IsUsb(c.vendor, c.product));
    }
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
  EXPECT_TRUE(ports[0].IsUsb(0x10c4, 0xea60));
  EXPECT_EQ(ports[0].serialNumber, u"7");
  EXPECT_EQ(ports[0].location, u"1-1.4.2");
}

TEST(SysfsPorts, DescriptionFallsBackFromProductToMakerToDriver) {
  const struct {
    std::optional<std::string> product, manufacturer;
    bool acm;
    const char16_t* description;
  } cases[] = {
      {"Bridge", "Acme", false, u"Bridge"},
      {std::nullopt, "Acme", false, u"Acme USB serial"},
      {"", "Acme", false, u"Acme USB serial"},
      {std::nullopt, std::nullopt, false, u"cp210x"},
      {std::nullopt, std::nullopt, true, u"cdc_acm"},
      {"Brücke ä", std::nullopt, false, u"Brücke ä"},
      {"Dual COM Bridge (rev. 2)", std::nullopt, false, u"Dual COM Bridge (rev. 2)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.description));
    FakeSysfs sysfs;
    sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", c.product, "1",
                       Made(c.manufacturer, c.acm ? "cdc_acm" : "cp210x", c.acm));
    const auto ports = List(sysfs);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].description, c.description);
    EXPECT_EQ(ports[0].friendlyName, Text(c.description) + u" (ttyUSB0)");
    EXPECT_EQ(ports[0].name, u"ttyUSB0");
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
    EXPECT_EQ(ports[0].name, u"ttyUSB1");
  }
}

TEST(SysfsPorts, TwoCallsGiveTheSameListWithoutDuplicates) {
  FakeSysfs sysfs;
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "Bridge One", "1");
  sysfs.AddUsbSerial("ttyUSB1", "10c8", "ea61", "Bridge Two", "2");
  const auto platform = MakeSysfsPortPlatform(sysfs.RootString());
  std::vector<SSerInfo> first;
  std::vector<SSerInfo> second;
  ASSERT_FALSE(ListSerialPorts(first, *platform).Failed());
  ASSERT_FALSE(ListSerialPorts(second, *platform).Failed());
  ASSERT_FALSE(ListSerialPorts(second, *platform).Failed());
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].devicePath, second[i].devicePath);
    EXPECT_EQ(first[i].serialNumber, second[i].serialNumber);
    EXPECT_EQ(first[i].friendlyName, second[i].friendlyName);
  }
  EXPECT_NE(first[0].devicePath, first[1].devicePath);
}

// Deep hub chains and long serial numbers are common on real machines; they
// are listed whole.
TEST(SysfsPorts, DeepHubsAndLongSerialNumbersStillList) {
  FakeSysfs sysfs;
  sysfs.AddUsbSerial("ttyACM0", "1209", "0042", "Sensor Board", "1",
                     Made(std::nullopt, "cdc_acm", true, "1-3"));
  sysfs.AddUsbSerial("ttyUSB0", "10c4", "ea60", "Bridge", std::string(126, '9'),
                     Made(std::nullopt, "cp210x", false, "1-1.4.2.3.1"));
  sysfs.AddUsbSerial("ttyUSB1", "10c4", "ea60", "Bridge", "1");
  const auto ports = List(sysfs);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[1].name, u"ttyUSB0");
  EXPECT_EQ(ports[1].serialNumber, Text(126, u'9'));
  EXPECT_EQ(ports[1].location, u"1-1.4.2.3.1");
}

// From the kernel's view of an adapter to an opened port: the list names it
// and the serial channel opens the device file the name stands for (here a link to a pseudo-terminal).
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
  ASSERT_FALSE(ListSerialPorts(link.ports, *platform).Failed());
  const SSerInfo* adapter = nullptr;
  for (const SSerInfo& port : link.ports) {
    if (IsAdapter(port)) adapter = &port;
  }
  ASSERT_NE(adapter, nullptr);
  ASSERT_TRUE(link.OpenPort(adapter->name, 19200));

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
