// The serial ports of a Linux machine, read from the kernel's sysfs (no udev
// daemon or library needed).
//
// A port is an entry of <root>/class/tty with a `device` link: virtual
// terminals and pseudo-terminals have none. 8250-type ports the kernel
// registered without a UART behind them (driver serial8250, `type` 0, the
// kernel's PORT_UNKNOWN) are left out as well. Entries are listed in name
// order, runs of digits compared by value (ttyUSB2 before ttyUSB10).
//
// What each port gives:
// - name: the tty's name, which SerialLink::OpenPort opens below /dev/;
// - device path: "/sys/class/tty/<tty name>";
// - description: the USB product text, else "<manufacturer> USB serial",
//   else the driver's name, else "Serial port";
// - friendly name: "<description> (<tty name>)";
// - for a port on a USB device (the nearest directory above the port's
//   device with idVendor and idProduct): the identifiers, the serial number
//   and the device's directory name as its location ("1-1.4").
// A USB identity text (vendor, product, manufacturer, product text, serial)
// that exists but cannot be read, or identifiers that are not hexadecimal
// numbers of up to four digits, leave the port out: what discovery would
// match it by is unknown. A missing text only changes the texts above.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "serial/PortPlatform.h"

namespace quorvel {

namespace {

// A sysfs attribute: its text without trailing white space, or why not.
struct Attribute {
  enum Kind { kPresent, kMissing, kUnreadable } kind = kMissing;
  std::string text;
  int error = 0;  // errno when unreadable
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
    attribute.error = errno;
    return attribute;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      attribute.error = errno;
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

// A USB identifier: one to four hexadecimal digits; nullopt if it is not one.
std::optional<uint16_t> UsbId(const std::string& text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  uint16_t id = 0;
  for (const char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    id = static_cast<uint16_t>(id * 16 + digit);
  }
  return id;
}

std::string BaseName(const std::string& dir) {
  const auto slash = dir.find_last_of('/');
  return slash == std::string::npos ? dir : dir.substr(slash + 1);
}

// The driver bound to the port's device. The serial core's own port and
// controller devices (bus serial-base, newer kernels) stand between a UART's
// tty and the device of its driver; they are passed over.
std::string DriverName(const std::string& root, std::string dir) {
  while (LinkName(dir + "/subsystem") == "serial-base" && dir.size() > root.size() && dir != "/") {
    dir = Parent(dir);
  }
  return LinkName(dir + "/driver");
}

// The nearest directory at or above the port's device that is a USB device,
// which has idVendor and idProduct (interfaces have not).
std::optional<std::string> UsbDeviceDir(const std::string& root, std::string dir) {
  const std::string stop = dir.starts_with(root + "/") ? root : std::string("/");
  while (dir.size() > stop.size()) {
    if (Exists(dir + "/idVendor") && Exists(dir + "/idProduct")) return dir;
    dir = Parent(dir);
  }
  return std::nullopt;
}

// Fills `port` for the tty entry `ttyDir`; false if it is not a serial port
// or is left out.
bool Describe(const std::string& root, const std::string& ttyDir, const std::string& name,
              SSerInfo& port) {
  const std::optional<std::string> deviceDir = ResolvedPath(ttyDir + "/device");
  if (!deviceDir) return false;  // virtual terminals, pseudo-terminals
  const std::string driver = DriverName(root, *deviceDir);
  if (driver == "serial8250") {
    const Attribute type = ReadAttribute(ttyDir + "/type");
    if (type.kind == Attribute::kPresent && type.text == "0") return false;  // no UART
  }

  Text description;
  if (const std::optional<std::string> usbDir = UsbDeviceDir(root, *deviceDir)) {
    const Attribute vendor = ReadAttribute(*usbDir + "/idVendor");
    const Attribute product = ReadAttribute(*usbDir + "/idProduct");
    const Attribute manufacturer = ReadAttribute(*usbDir + "/manufacturer");
    const Attribute productText = ReadAttribute(*usbDir + "/product");
    const Attribute serial = ReadAttribute(*usbDir + "/serial");
    for (const Attribute* a : {&vendor, &product, &manufacturer, &productText, &serial}) {
      if (a->kind == Attribute::kUnreadable) return false;
    }
    const std::optional<uint16_t> vid = UsbId(vendor.text);
    const std::optional<uint16_t> pid = UsbId(product.text);
    if (!vid || !pid) return false;
    port.usb = true;
    port.vendorId = *vid;
    port.productId = *pid;
    port.serialNumber = FromUtf8(serial.text);
    port.location = FromUtf8(BaseName(*usbDir));
    if (!productText.text.empty()) {
      description = FromUtf8(productText.text);
    } else if (!manufacturer.text.empty()) {
      description = FromUtf8(manufacturer.text) + u" USB serial";
    }
  }
  if (description.empty()) description = driver.empty() ? Text(u"Serial port") : FromUtf8(driver);

  port.name = FromUtf8(name);
  port.devicePath = u"/sys/class/tty/" + port.name;
  port.description = description;
  port.friendlyName = description + u" (" + port.name + u")";
  return true;
}


class SysfsPortPlatform final : public PortPlatform {
 public:
  explicit SysfsPortPlatform(std::string root) : m_root(std::move(root)) {}
  PortListError ListPorts(std::vector<SSerInfo>& ports) override {
    return ListSysfsPorts(m_root, ports);
  }

 private:
  std::string m_root;
};

}  // namespace

// Every serial port below the root. No tty class (or no tree at all) is a
// machine without serial ports.
PortListError ListSysfsPorts(const std::string& sysfsRoot, std::vector<SSerInfo>& ports) {
  const std::string classDir = sysfsRoot + "/class/tty";
  DIR* dir = opendir(classDir.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    const std::string reason = std::generic_category().message(errno);
    return {FromUtf8("Could not read " + classDir + ": " + reason)};
  }
  std::vector<std::string> names;
  // readdir is safe here: this stream is read by this call alone.
  while (const dirent* entry = readdir(dir)) {  // NOLINT(concurrency-mt-unsafe)
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), NameLess);

  const std::string root = ResolvedPath(sysfsRoot).value_or(sysfsRoot);
  for (const std::string& name : names) {
    SSerInfo port;
    if (Describe(root, classDir + "/" + name, name, port)) ports.push_back(std::move(port));
  }
  return {};
}

std::unique_ptr<PortPlatform> MakeSysfsPortPlatform(std::string sysfsRoot) {
  return std::make_unique<SysfsPortPlatform>(std::move(sysfsRoot));
}

PortPlatform& SystemPortPlatform() {
  // QUORVEL_SYSFS_ROOT: a tree laid out as /sys, listed in its place, so
  // that tests can plug and unplug adapters for a whole program.
  static const std::unique_ptr<PortPlatform> platform = [] {
    const char* root = std::getenv("QUORVEL_SYSFS_ROOT");  // NOLINT(concurrency-mt-unsafe): read once
    return MakeSysfsPortPlatform(root != nullptr && *root != '\0' ? root : "/sys");
  }();
  return *platform;
}

}  // namespace quorvel
