// The port list read from sysfs, over a small tree built from the input in a
// directory of its own (in /dev/shm when there is one), emptied for every
// input: tty class entries with and without device links, USB-to-serial
// adapters (usb-serial and ACM layouts, behind hubs), UARTs, identity files
// with any contents, and the odd things a tree can hold (dangling links,
// link loops, links out of the tree, directories where files should be,
// files where directories should be, long names).
//
// Checked: two listings give the same ports or the same error; every port's
// name is the tty name of the entry it came from, which appears once, and
// its device path and friendly name are made from that name; a port laid out
// as the kernel lays it out is listed, an adapter's with its identifiers; an
// error only for a tree the kernel cannot make (a class directory that is a
// link loop).

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "serial/PortList.h"
#include "serial/PortPlatform.h"

using namespace quorvel;

namespace {

namespace fs = std::filesystem;

// The tree's root lies a few levels below the directory of this process so
// that links climbing out of the tree stay inside it.
struct Scratch {
  Scratch() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir = std::string(base) + "/quorvel-fuzz-sysfs-" + std::to_string(getpid());
    root = dir + "/a/b/c/d/e/sys";
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(Instance().dir, ec);
    });
  }
  // Never destroyed: the exit handler above still needs it.
  static Scratch& Instance() {
    static Scratch* const instance = new Scratch;
    return *instance;
  }
  std::string dir;
  std::string root;
};

// What a port was built to be.
struct Expected {
  std::string name;
  bool adapter = false;  // identifiers 10c4/ea60
};

class TreeBuilder {
 public:
  TreeBuilder(const std::string& root, FuzzedDataProvider& in) : m_root(root), m_in(in) {}

  void Build() {
    MakeDirs("devices/virtual/tty");
    switch (m_in.ConsumeIntegralInRange(0, 15)) {
      case 0:
        break;  // no tty class at all
      case 1:
        WriteFile("class", "not a directory");
        break;
      case 2:
        MakeDirs("class");
        Link("class/tty", "nowhere");
        break;
      case 3:
        MakeDirs("class");
        Link("class/tty", "tty");
        m_classLoop = true;
        break;
      default:
        MakeDirs("class/tty");
        m_classDir = true;
        break;
    }
    const int ports = m_in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < ports && m_in.remaining_bytes() > 0; ++i) AddPort();
  }

  const std::set<std::string>& ClassNames() const { return m_classNames; }
  const std::vector<Expected>& MustList() const { return m_mustList; }
  bool ClassLoop() const { return m_classLoop; }

 private:
  // --- file system helpers; failures leave the tree as it is ---

  std::string Abs(const std::string& rel) const { return m_root + "/" + rel; }

  void MakeDirs(const std::string& rel) {
    for (size_t slash = rel.find('/');; slash = rel.find('/', slash + 1)) {
      mkdir(Abs(rel.substr(0, slash)).c_str(), 0755);
      if (slash == std::string::npos) break;
    }
  }

  void WriteFile(const std::string& rel, const std::string& text) {
    const int fd =
        open(Abs(rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (!text.empty() && write(fd, text.data(), text.size()) < 0) {
      // a short tree is still a tree
    }
    close(fd);
  }

  void Link(const std::string& rel, const std::string& target) {
    symlink(target.c_str(), Abs(rel).c_str());
  }

  static size_t Depth(const std::string& rel) {
    size_t depth = 1;
    for (char c : rel) depth += c == '/';
    return depth;
  }

  // A link at `rel` to the tree path `to`, written relative as the kernel does.
  void LinkInTree(const std::string& rel, const std::string& to) {
    std::string target;
    for (size_t i = 1; i < Depth(rel); ++i) target += "../";
    Link(rel, target + to);
  }

  // --- the parts of the tree ---

  // A tty name; `kernelLike` for the names drivers give.
  std::string Name(bool& kernelLike) {
    kernelLike = false;
    static const char* const kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS", "ttyAMA", "rfcomm"};
    std::string name;
    switch (m_in.ConsumeIntegralInRange(0, 7)) {
      case 0:
      case 1:
      case 2:
      case 3:
        kernelLike = true;
        name = kPrefixes[m_in.ConsumeIntegralInRange(0, 4)] +
               std::to_string(m_in.ConsumeIntegralInRange(0, 300));
        break;
      case 4:
      case 5:
        name = Chars(m_in.ConsumeIntegralInRange(1, 16));
        break;
      case 6:
        name = Chars(m_in.ConsumeIntegralInRange(64, 255));
        break;
      case 7: {
        static const char* const kOdd[] = {"COM",    "COM1",  "(COM", "x (COM:y",
                                           "COMCOM", "#usb#", "&"};
        name = kOdd[m_in.ConsumeIntegralInRange(0, 6)] + Chars(m_in.ConsumeIntegralInRange(0, 3));
        break;
      }
    }
    // NAME_MAX, cut before a character of several bytes.
    if (name.size() > 255) {
      name.resize(255);
      while (!name.empty() && static_cast<uint8_t>(name.back()) >= 0x80 &&
             static_cast<uint8_t>(name.back()) != 0xFF) {
        name.pop_back();
      }
    }
    // Names the tree itself uses would change the layout around them.
    static const std::set<std::string> kTaken = {
        "",     ".",   "..",       "tty",       "device",       "driver",  "subsystem",
        "type", "dev", "idVendor", "idProduct", "manufacturer", "product", "serial"};
    if (kTaken.count(name) != 0) name += "_";
    return name;
  }

  // Characters a file name can hold, but no ")": a tty name never has one,
  // and the port name is cut at the first.
  std::string Chars(int count) {
    static const char* const kMultiByte[] = {"\xc3\xa9", "\xe6\x97\xa5", "\xff"};
    std::string out;
    for (int i = 0; i < count; ++i) {
      const uint8_t b = m_in.ConsumeIntegral<uint8_t>();
      if (b >= 0xF0) {
        out += kMultiByte[b % 3];
      } else {
        char c = static_cast<char>(0x20 + b % 0x5F);
        if (c == '/' || c == ')') c = '_';
        if (b >= 0xE8) c = b % 2 ? '\t' : '\n';
        out += c;
      }
    }
    return out;
  }

  std::string Driver() {
    static const char* const kDrivers[] = {"cp210x",     "cdc_acm", "ftdi_sio",
                                           "serial8250", "serial",  "usb-serial"};
    const int pick = m_in.ConsumeIntegralInRange(0, 6);
    if (pick < 6) return kDrivers[pick];
    std::string driver = Chars(m_in.ConsumeIntegralInRange(1, 12));
    return driver == "." || driver == ".." ? "dot" : driver;
  }

  void Bind(const std::string& dir, const std::string& bus, const std::string& driver) {
    MakeDirs("bus/" + bus + "/drivers/" + driver);
    LinkInTree(dir + "/subsystem", "bus/" + bus);
    if (!driver.empty()) LinkInTree(dir + "/driver", "bus/" + bus + "/drivers/" + driver);
  }

  // An identity file of a USB device; true when it reads as an ordinary
  // short text (or is absent), as the kernel gives it.
  bool Attribute(const std::string& dir, const char* file, bool identifier, std::string& value) {
    static const char* const kIds[] = {"10c4", "ea60", "10C4", "EA60",  "10c8", "ea61",
                                       "0001", "1",    "",     "12345", "xyz",  "0x10"};
    const std::string rel = dir + "/" + file;
    switch (m_in.ConsumeIntegralInRange(0, 11)) {
      case 0:
      case 1:
        return true;  // absent
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
        value = identifier ? std::string(kIds[m_in.ConsumeIntegralInRange(0, 11)])
                           : m_in.ConsumeRandomLengthString(120);
        WriteFile(rel, value + "\n");
        return true;
      case 7:
        WriteFile(rel, m_in.ConsumeRandomLengthString(400));
        return false;
      case 8:
        MakeDirs(rel);
        return false;
      case 9:
        Link(rel, "nowhere");
        return false;
      case 10:
        Link(rel, "idVendor");
        return false;  // a loop for idVendor itself
      default:
        Link(rel, "/");
        return false;
    }
  }

  static bool IsId(const std::string& text, const char* id) {
    if (text.empty() || text.size() > 4) return false;
    const std::string padded = std::string(4 - text.size(), '0') + text;
    for (size_t i = 0; i < 4; ++i) {
      if (std::tolower(static_cast<unsigned char>(padded[i])) != id[i]) return false;
    }
    return true;
  }
  static bool IsHexId(const std::string& text) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
  }

  // The USB device at `busPath` ("1-2", "1-1.4"); hubs on the way are made
  // as needed; the device's identity is written when it is first made.
  // Returns its directory; `ordinary` tells whether its identity reads
  // cleanly, `adapter` whether it is the adapter.
  std::string UsbDevice(const std::string& busPath, bool& ordinary, bool& adapter) {
    std::string dir = "devices/pci0000:00/0000:00:14.0/usb1";
    MakeDirs(dir);
    for (size_t dot = busPath.find('.');; dot = busPath.find('.', dot + 1)) {
      dir += "/" + busPath.substr(0, dot);
      if (dot == std::string::npos) break;
      if (m_devices.emplace(dir, Identity{true, false}).second) {
        MakeDirs(dir);
        WriteFile(dir + "/idVendor", "abcd\n");
        WriteFile(dir + "/idProduct", "0001\n");
      }
    }
    const auto [it, made] = m_devices.emplace(dir, Identity{});
    if (made) {
      MakeDirs(dir);
      std::string vid, pid, text;
      bool ok = Attribute(dir, "idVendor", true, vid);
      ok = Attribute(dir, "idProduct", true, pid) && ok;
      ok = Attribute(dir, "manufacturer", false, text) && ok;
      ok = Attribute(dir, "product", false, text) && ok;
      ok = Attribute(dir, "serial", false, text) && ok;
      it->second.ordinary = ok && IsHexId(vid) && IsHexId(pid);
      it->second.adapter = IsId(vid, "10c4") && IsId(pid, "ea60");
    }
    ordinary = it->second.ordinary;
    adapter = it->second.adapter;
    return dir;
  }

  // The `device` link of a tty: to its device, or something odd. True for
  // the ordinary link.
  bool DeviceLink(const std::string& ttyDir, const std::string& deviceDir) {
    switch (m_in.ConsumeIntegralInRange(0, 15)) {
      case 0:
        Link(ttyDir + "/device", "nowhere");
        return false;
      case 1:
        Link(ttyDir + "/device", "/");
        return false;
      case 2:
        Link(ttyDir + "/device", ".");
        return false;
      case 3:
        Link(ttyDir + "/device", "device");
        return false;  // loop
      case 4:
        Link(ttyDir + "/device", "../../../../../../..");
        return false;
      case 5:
        WriteFile(ttyDir + "/device", "file");
        return false;
      case 6:
        MakeDirs(ttyDir + "/device");
        return false;
      case 7:
        Link(ttyDir + "/device", m_root + "/" + deviceDir);
        return false;  // absolute
      default:
        LinkInTree(ttyDir + "/device", deviceDir);
        return true;
    }
  }

  void AddPort() {
    bool kernelName = false;
    const std::string name = Name(kernelName);
    if (!m_classNames.insert(name).second) return;  // one entry per name
    const std::string classEntry = "class/tty/" + name;
    std::string ttyDir;
    bool ordinary = false;  // laid out as the kernel does: must be listed
    bool adapter = false;

    const int layout = m_in.ConsumeIntegralInRange(0, 9);
    switch (layout) {
      case 0:
      case 1:
      case 2: {  // USB: usb-serial port, or ACM
        const bool acm = layout == 2;
        std::string busPath = "1-" + std::to_string(m_in.ConsumeIntegralInRange(1, 3));
        const int hops = m_in.ConsumeIntegralInRange(0, 2);
        for (int h = 0; h < hops; ++h)
          busPath += "." + std::to_string(m_in.ConsumeIntegralInRange(1, 4));
        bool identity = false;
        const std::string device = UsbDevice(busPath, identity, adapter);
        const std::string interface = device + "/" + busPath + ":1.0";
        MakeDirs(interface);
        const std::string driver = acm ? "cdc_acm" : Driver();
        Bind(interface, "usb", driver);
        std::string portDir = interface;
        if (!acm) {
          portDir = interface + "/" + name;
          MakeDirs(portDir);
          Bind(portDir, "usb-serial", driver);
        }
        ttyDir = portDir + "/tty/" + name;
        MakeDirs(ttyDir);
        ordinary = DeviceLink(ttyDir, portDir) && identity;
        break;
      }
      case 3:
      case 4: {  // UART, with the serial core's devices between or not
        std::string device = "devices/platform/serial8250";
        MakeDirs(device);
        Bind(device, "platform", "serial8250");
        if (layout == 4) {
          device += "/serial8250:0";
          MakeDirs(device);
          Bind(device, "serial-base", "ctrl");
          device += "/serial8250:0." + std::to_string(m_uarts++);
          MakeDirs(device);
          Bind(device, "serial-base", "port");
        }
        ttyDir = device + "/tty/" + name;
        MakeDirs(ttyDir);
        bool listed = true;  // a UART is left out only for type 0
        switch (m_in.ConsumeIntegralInRange(0, 5)) {
          case 0:
            WriteFile(ttyDir + "/type", "0\n");
            listed = false;
            break;
          case 1:
            WriteFile(ttyDir + "/type", "0 \t\n");
            listed = false;
            break;
          case 2:
            WriteFile(ttyDir + "/type", "4\n");
            break;
          case 3:
            WriteFile(ttyDir + "/type", m_in.ConsumeRandomLengthString(8));
            listed = false;
            break;
          case 4:
            MakeDirs(ttyDir + "/type");
            break;
          default:
            break;  // no type file
        }
        ordinary = DeviceLink(ttyDir, device) && listed;
        break;
      }
      case 5:  // virtual terminal or pty: no device
        ttyDir = "devices/virtual/tty/" + name;
        MakeDirs(ttyDir);
        break;
      case 6:  // a class entry that is a directory of its own
        MakeDirs(classEntry);
        if (m_in.ConsumeBool()) DeviceLink(classEntry, "devices/virtual/tty");
        return;
      case 7:
        Link(classEntry, "nowhere");
        return;
      case 8:
        WriteFile(classEntry, "not a tty");
        return;
      default: {
        static const char* const kTargets[] = {"/", ".", "..", "../../..", "../../../../../..", ""};
        const char* target = kTargets[m_in.ConsumeIntegralInRange(0, 5)];
        Link(classEntry, *target ? std::string(target) : name);  // "" links to itself
        return;
      }
    }
    LinkInTree(classEntry, ttyDir);
    if (ordinary && kernelName && m_classDir) m_mustList.push_back(Expected{name, adapter});
  }

  struct Identity {
    bool ordinary = false;
    bool adapter = false;
  };

  const std::string& m_root;
  FuzzedDataProvider& m_in;
  std::set<std::string> m_classNames;
  std::vector<Expected> m_mustList;
  std::map<std::string, Identity> m_devices;
  bool m_classLoop = false;
  bool m_classDir = false;
  int m_uarts = 0;
};

struct Listing {
  std::vector<SSerInfo> ports;
  bool failed = false;
  Text message;

  bool operator==(const Listing& other) const {
    if (failed != other.failed || message != other.message || ports.size() != other.ports.size()) {
      return false;
    }
    for (size_t i = 0; i < ports.size(); ++i) {
      const SSerInfo& a = ports[i];
      const SSerInfo& b = other.ports[i];
      if (a.devicePath != b.devicePath || a.friendlyName != b.friendlyName || a.name != b.name ||
          a.description != b.description || a.usb != b.usb || a.vendorId != b.vendorId ||
          a.productId != b.productId || a.serialNumber != b.serialNumber ||
          a.location != b.location) {
        return false;
      }
    }
    return true;
  }
};

Listing List(PortPlatform& platform) {
  Listing listing;
  const PortListError error = ListSerialPorts(listing.ports, platform);
  listing.failed = error.Failed();
  listing.message = error.message;
  return listing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Scratch& scratch = Scratch::Instance();
  std::error_code ec;
  fs::remove_all(scratch.dir, ec);
  fs::create_directories(scratch.root, ec);
  if (ec) fuzz::Fail("cannot make the scratch tree");

  FuzzedDataProvider in(data, size);
  TreeBuilder tree(scratch.root, in);
  tree.Build();

  const auto platform = MakeSysfsPortPlatform(scratch.root);
  const Listing first = List(*platform);
  const Listing second = List(*platform);
  // QUORVEL_FUZZ_SHOW=1 shows what an input builds and lists, for making
  // seeds and reading reproducers.
  static const bool show = std::getenv("QUORVEL_FUZZ_SHOW") != nullptr;
  if (show) {
    for (const Expected& expected : tree.MustList()) {
      std::fprintf(stderr, "must list: %s%s\n", expected.name.c_str(),
                   expected.adapter ? " (adapter)" : "");
    }
    if (first.failed) std::fprintf(stderr, "error: %s\n", ToUtf8(first.message).c_str());
    for (const SSerInfo& port : first.ports) {
      std::fprintf(stderr, "port: %s | %s\n", ToUtf8(port.devicePath).c_str(),
                   ToUtf8(port.friendlyName).c_str());
    }
  }
  FUZZ_CHECK(first == second);

  if (first.failed) {
    FUZZ_CHECK(tree.ClassLoop());
    return 0;
  }

  std::map<Text, std::string> names;  // as listed -> as made
  for (const std::string& name : tree.ClassNames()) names.emplace(FromUtf8(name), name);
  std::set<std::string> listed;
  for (const SSerInfo& port : first.ports) {
    const auto it = names.find(port.name);
    FUZZ_CHECK(it != names.end());
    FUZZ_CHECK(listed.insert(it->second).second);
    FUZZ_CHECK(port.devicePath == u"/sys/class/tty/" + port.name);
    FUZZ_CHECK(!port.description.empty());
    FUZZ_CHECK(port.friendlyName == port.description + u" (" + port.name + u")");
    FUZZ_CHECK(port.usb || (port.vendorId == 0 && port.productId == 0 && port.location.empty()));
  }
  for (const Expected& expected : tree.MustList()) {
    FUZZ_CHECK(listed.count(expected.name) == 1);
    if (expected.adapter) {
      for (const SSerInfo& port : first.ports) {
        if (port.name == FromUtf8(expected.name)) FUZZ_CHECK(port.IsUsb(0x10c4, 0xea60));
      }
    }
  }
  return 0;
}
