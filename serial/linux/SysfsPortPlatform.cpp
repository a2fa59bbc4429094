// The serial ports of a Linux machine, read from the kernel's sysfs (no udev
// daemon or library needed), presented as the device-interface set that
// ListSerialPorts walks.
//
// A port is an entry of <root>/class/tty with a `device` link: virtual
// terminals and pseudo-terminals have none. 8250-type ports the kernel
// registered without a UART behind them (driver serial8250, `type` 0, the
// kernel's PORT_UNKNOWN) are left out as well. Entries are listed in name
// order, runs of digits compared by value (ttyUSB2 before ttyUSB10).
//
// What each port gives:
// - device path: "/sys/class/tty/<tty name>", for a USB port followed by
//   "#usb#vid_xxxx&pid_yyyy#<serial>", the identifiers in lower-case hex of
//   four digits and the serial number (empty when the device has none), so
//   adapter discovery finds "vid_10c4&pid_ea60" inside the path. The class
//   name rather than the device directory, and a serial number cut short where
//   needed, keep every path within the 128 characters ListSerialPorts takes:
//   a deep hub chain or a long serial number must not stop discovery.
// - friendly name: "<description> (COM:<tty name>)". Discovery cuts the port
//   name from the first "COM" to the next ")", which gives "COM:<tty name>";
//   SerialLink::OpenPort takes that name to the tty's device file. So that
//   the cut cannot start or end inside the description, every "COM" in it is
//   written "Com" and every ")" is written "]".
// - description: the USB product text, else "<manufacturer> USB serial",
//   else the driver's name, else "Serial port".
// A USB identity text (vendor, product, manufacturer, product text, serial)
// that exists but cannot be read makes the port's friendly name unreadable,
// which leaves the port out; a missing one only changes the texts above.
//
// The platform reports itself as a current system (major version 10, NT
// platform), so ListSerialPorts takes the device-interface method; there is
// no registry here.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/PortList.h"
#include "serial/PortPlatform.h"

namespace quorvel {

namespace {

struct PortEntry {
  Text devicePath;
  Text friendlyName;
  Text description;
  PlatformStatus nameStatus = kStatusOk;  // what reading the texts above gives
};

// A sysfs attribute: its text without trailing white space, or why not.
struct Attribute {
  enum Kind { kPresent, kMissing, kUnreadable } kind = kMissing;
  std::string text;
  PlatformStatus status = kStatusOk;  // errno when unreadable
};

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Missing means no such name at all; a name that exists but cannot be read
// (a directory, a dangling link, an I/O or permission error) is unreadable.
Attribute ReadAttribute(const std::string& path) {
  Attribute attribute;
  if (!Exists(path)) return attribute;
  attribute.kind = Attribute::kUnreadable;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    attribute.status = static_cast<PlatformStatus>(errno);
    return attribute;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      attribute.status = static_cast<PlatformStatus>(errno);
      close(fd);
      return attribute;
    }
    attribute.text.append(buffer, static_cast<size_t>(n));
    if (attribute.text.size() > 65536) break;  // attributes are a page at most
  }
  close(fd);
  while (!attribute.text.empty() &&
         std::string_view(" \t\r\n").find(attribute.text.back()) != std::string_view::npos) {
    attribute.text.pop_back();
  }
  attribute.kind = Attribute::kPresent;
  return attribute;
}

std::optional<std::string> ResolvedPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  free(resolved);
  return result;
}

// Last component of a symbolic link's target ("" when there is no link).
std::string LinkName(const std::string& link) {
  char target[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return std::string();
  const std::string text(target, static_cast<size_t>(n));
  const auto slash = text.find_last_of('/');
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

std::string Parent(const std::string& dir) {
  const auto slash = dir.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : dir.substr(0, slash);
}

// Natural order: runs of digits compare by value.
bool NameLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      size_t ei = i;
      size_t ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      size_t si = i;
      size_t sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      if (const int c = a.compare(si, ei - si, b, sj, ej - sj); c != 0) return c < 0;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
  return a < b;
}

// A USB identifier as four lower-case hex digits; nullopt if it is not one.
std::optional<std::string> UsbId(const std::string& text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  std::string id(4 - text.size(), '0');
  for (char c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    id += c;
  }
  return id;
}

Text EscapeDescription(const Text& description) {
  Text escaped;
  for (size_t i = 0; i < description.size(); ++i) {
    if (description.compare(i, 3, u"COM") == 0) {
      escaped += u"Com";
      i += 2;
    } else {
      escaped += description[i] == u')' ? u']' : description[i];
    }
  }
  return escaped;
}

class SysfsPortPlatform final : public PortPlatform {
 public:
  explicit SysfsPortPlatform(std::string root) : m_root(std::move(root)) {}

  PlatformStatus QueryVersion(OsVersion& version) override {
    version = OsVersion{10, kPlatformWin32Nt};
    return kStatusOk;
  }

  PlatformStatus OpenPortInterfaces(PlatformHandle& set) override {
    std::vector<PortEntry> ports;
    if (const PlatformStatus status = Scan(ports); status != kStatusOk) return status;
    set = m_nextHandle++;
    m_sets.emplace(set, std::move(ports));
    return kStatusOk;
  }

  PlatformStatus EnumInterface(PlatformHandle set, uint32_t index) override {
    const PortEntry* port = nullptr;
    return Find(set, index, port);
  }

  PlatformStatus InterfacePath(PlatformHandle set, uint32_t index, Text& devicePath) override {
    const PortEntry* port = nullptr;
    const PlatformStatus status = Find(set, index, port);
    if (status == kStatusOk) devicePath = port->devicePath;
    return status;
  }

  PlatformStatus FriendlyName(PlatformHandle set, uint32_t index, Text& name) override {
    const PortEntry* port = nullptr;
    PlatformStatus status = Find(set, index, port);
    if (status == kStatusOk) status = port->nameStatus;
    if (status == kStatusOk) name = port->friendlyName;
    return status;
  }

  PlatformStatus DeviceDescription(PlatformHandle set, uint32_t index, Text& description) override {
    const PortEntry* port = nullptr;
    PlatformStatus status = Find(set, index, port);
    if (status == kStatusOk) status = port->nameStatus;
    if (status == kStatusOk) description = port->description;
    return status;
  }

  void CloseInterfaces(PlatformHandle set) override { m_sets.erase(set); }

  PlatformStatus OpenKey(PlatformHandle, const Text&, PlatformHandle&) override {
    return kErrorFileNotFound;
  }
  PlatformStatus EnumSubKey(PlatformHandle, uint32_t, Text&) override { return kErrorNoMoreItems; }
  PlatformStatus QueryStringValue(PlatformHandle, const Text&, Text&) override {
    return kErrorFileNotFound;
  }
  void CloseKey(PlatformHandle) override {}

 private:
  PlatformStatus Find(PlatformHandle set, uint32_t index, const PortEntry*& port) const {
    const auto it = m_sets.find(set);
    if (it == m_sets.end()) return EBADF;
    if (index >= it->second.size()) return kErrorNoMoreItems;
    port = &it->second[index];
    return kStatusOk;
  }

  // Every serial port below the root. No tty class (or no tree at all) is a
  // machine without serial ports.
  PlatformStatus Scan(std::vector<PortEntry>& ports) const {
    const std::string classDir = m_root + "/class/tty";
    DIR* dir = opendir(classDir.c_str());
    if (dir == nullptr) {
      return errno == ENOENT || errno == ENOTDIR ? kStatusOk : static_cast<PlatformStatus>(errno);
    }
    std::vector<std::string> names;
    // readdir is safe here: this stream is read by this call alone.
    while (const dirent* entry = readdir(dir)) {  // NOLINT(concurrency-mt-unsafe)
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), NameLess);

    const std::string root = ResolvedPath(m_root).value_or(m_root);
    for (const std::string& name : names) {
      PortEntry port;
      if (Describe(root, classDir + "/" + name, name, port)) ports.push_back(std::move(port));
    }
    return kStatusOk;
  }

  static constexpr size_t kMaxPathLength = 128;

  // Fills `port` for the tty entry `ttyDir`; false if it is not a serial port.
  static bool Describe(const std::string& root, const std::string& ttyDir, const std::string& name,
                       PortEntry& port) {
    const std::optional<std::string> deviceDir = ResolvedPath(ttyDir + "/device");
    if (!deviceDir) return false;  // virtual terminals, pseudo-terminals
    const std::string driver = DriverName(root, *deviceDir);
    if (driver == "serial8250") {
      const Attribute type = ReadAttribute(ttyDir + "/type");
      if (type.kind == Attribute::kPresent && type.text == "0") return false;  // no UART
    }

    std::string path = "/sys/class/tty/" + name;
    Text description;
    if (const std::optional<std::string> usbDir = UsbDeviceDir(root, *deviceDir)) {
      const Attribute vendor = ReadAttribute(*usbDir + "/idVendor");
      const Attribute product = ReadAttribute(*usbDir + "/idProduct");
      const Attribute manufacturer = ReadAttribute(*usbDir + "/manufacturer");
      const Attribute productText = ReadAttribute(*usbDir + "/product");
      const Attribute serial = ReadAttribute(*usbDir + "/serial");
      for (const Attribute* a : {&vendor, &product, &manufacturer, &productText, &serial}) {
        if (a->kind == Attribute::kUnreadable) port.nameStatus = a->status != 0 ? a->status : EIO;
      }
      const std::optional<std::string> vid = UsbId(vendor.text);
      const std::optional<std::string> pid = UsbId(product.text);
      if (port.nameStatus == kStatusOk && (!vid || !pid)) port.nameStatus = EINVAL;
      path += "#usb#vid_" + vid.value_or("") + "&pid_" + pid.value_or("") + "#";
      path += serial.text.substr(0, path.size() < kMaxPathLength ? kMaxPathLength - path.size() : 0);
      if (!productText.text.empty()) {
        description = FromUtf8(productText.text);
      } else if (!manufacturer.text.empty()) {
        description = FromUtf8(manufacturer.text) + u" USB serial";
      }
    }
    if (description.empty()) description = driver.empty() ? Text(u"Serial port") : FromUtf8(driver);

    port.devicePath = FromUtf8(path);
    port.description = description;
    port.friendlyName = EscapeDescription(description) + u" (COM:" + FromUtf8(name) + u")";
    return true;
  }

  // The driver bound to the port's device. The serial core's own port and
  // controller devices (bus serial-base, newer kernels) stand between a
  // UART's tty and the device of its driver; they are passed over.
  static std::string DriverName(const std::string& root, std::string dir) {
    while (LinkName(dir + "/subsystem") == "serial-base" && dir.size() > root.size() &&
           dir != "/") {
      dir = Parent(dir);
    }
    return LinkName(dir + "/driver");
  }

  // The nearest directory at or above the port's device that is a USB
  // device, which has idVendor and idProduct (interfaces have not).
  static std::optional<std::string> UsbDeviceDir(const std::string& root, std::string dir) {
    const std::string stop = dir.starts_with(root + "/") ? root : std::string("/");
    while (dir.size() > stop.size()) {
      if (Exists(dir + "/idVendor") && Exists(dir + "/idProduct")) return dir;
      dir = Parent(dir);
    }
    return std::nullopt;
  }

  std::string m_root;
  std::map<PlatformHandle, std::vector<PortEntry>> m_sets;
  PlatformHandle m_nextHandle = 1;
};

}  // namespace

std::unique_ptr<PortPlatform> MakeSysfsPortPlatform(std::string sysfsRoot) {
  return std::make_unique<SysfsPortPlatform>(std::move(sysfsRoot));
}

PortPlatform& SystemPortPlatform() {
  static const std::unique_ptr<PortPlatform> platform = MakeSysfsPortPlatform("/sys");
  return *platform;
}

}  // namespace quorvel
