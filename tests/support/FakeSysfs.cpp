#include "support/FakeSysfs.h"

#include <fstream>
#include <stdexcept>

namespace quorvel::test {

namespace fs = std::filesystem;

namespace {

const fs::path kPciController = "devices/pci0000:00/0000:00:14.0";

}  // namespace

FakeSysfs::FakeSysfs() {
  MakeDir("class/tty");
  MakeDir("devices/virtual/tty");
}

fs::path FakeSysfs::MakeDir(const fs::path& relative) const {
  const fs::path dir = Root() / relative;
  fs::create_directories(dir);
  return dir;
}

void FakeSysfs::Link(const fs::path& link, const fs::path& target) const {
  fs::create_directories(target);
  if (fs::is_symlink(link)) return;  // devices shared by several ports
  fs::create_symlink(target.lexically_relative(link.parent_path()), link);
}

void FakeSysfs::Bind(const fs::path& dir, const std::string& bus, const std::string& driver) const {
  Link(dir / "subsystem", Root() / "bus" / bus);
  if (!driver.empty()) Link(dir / "driver", Root() / "bus" / bus / "drivers" / driver);
}

void FakeSysfs::AddToClass(const std::string& ttyName, const fs::path& ttyDir) const {
  Link(ttyDir / "subsystem", Root() / "class/tty");
  Write(ttyDir / "dev", "188:0");
  Link(Root() / "class/tty" / ttyName, ttyDir);
}

void FakeSysfs::Write(const fs::path& file, const std::string& text) const {
  std::ofstream out(file, std::ios::binary);
  out << text << '\n';
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

// The device at `busPath` ("1-1.4"), with the root hub and any hub between.
fs::path FakeSysfs::UsbDevice(const std::string& busPath, const std::string& vid,
                              const std::string& pid) const {
  const auto dash = busPath.find('-');
  if (dash == std::string::npos) throw std::invalid_argument("bus path without '-': " + busPath);
  const std::string bus = busPath.substr(0, dash);
  fs::path dir = MakeDir(kPciController / ("usb" + bus));
  if (!fs::exists(dir / "idVendor")) {
    Write(dir / "idVendor", "1d6b");
    Write(dir / "idProduct", "0002");
    Write(dir / "product", "xHCI Host Controller");
    Bind(dir, "usb", "usb");
  }
  for (size_t end = busPath.find('.', dash);; end = busPath.find('.', end + 1)) {
    const std::string hop = busPath.substr(0, end);
    dir /= hop;
    fs::create_directories(dir);
    const bool last = end == std::string::npos;
    if (last || !fs::exists(dir / "idVendor")) {
      Write(dir / "idVendor", last ? vid : "abcd");
      Write(dir / "idProduct", last ? pid : "0001");
      Bind(dir, "usb", "usb");
      if (!last) Write(dir / "product", "USB2.0 Hub");
    }
    if (last) return dir;
  }
}

fs::path FakeSysfs::AddUsbSerial(const std::string& ttyName, const std::string& vid,
                                 const std::string& pid, const std::optional<std::string>& product,
                                 const std::optional<std::string>& serial,
                                 const UsbSerialOptions& options) {
  const std::string busPath =
      options.busPath.empty() ? "1-" + std::to_string(++m_usbPorts) : options.busPath;
  const fs::path device = UsbDevice(busPath, vid, pid);
  if (options.manufacturer) Write(device / "manufacturer", *options.manufacturer);
  if (product) Write(device / "product", *product);
  if (serial) Write(device / "serial", *serial);

  const fs::path interface = device / (busPath + ":1.0");
  fs::create_directories(interface);
  Write(interface / "bInterfaceClass", options.acm ? "02" : "ff");
  Bind(interface, "usb", options.driver);

  fs::path tty;
  if (options.acm) {
    tty = interface / "tty" / ttyName;
    fs::create_directories(tty);
    Link(tty / "device", interface);
  } else {
    const fs::path port = interface / ttyName;
    fs::create_directories(port);
    Bind(port, "usb-serial", options.driver);
    tty = port / "tty" / ttyName;
    fs::create_directories(tty);
    Link(tty / "device", port);
  }
  AddToClass(ttyName, tty);
  return device;
}

fs::path FakeSysfs::AddLegacyUart(const std::string& ttyName, int type, UartLayout layout) {
  const int n = m_uarts++;
  fs::path device;
  switch (layout) {
    case UartLayout::Platform:
      device = MakeDir("devices/platform/serial8250");
      Bind(device, "platform", "serial8250");
      break;
    case UartLayout::SerialBase: {
      const fs::path owner = MakeDir("devices/platform/serial8250");
      Bind(owner, "platform", "serial8250");
      const fs::path controller = owner / "serial8250:0";
      fs::create_directories(controller);
      Bind(controller, "serial-base", "ctrl");
      device = controller / ("serial8250:0." + std::to_string(n));
      fs::create_directories(device);
      Bind(device, "serial-base", "port");
      break;
    }
    case UartLayout::Pnp: {
      const std::string id = "00:0" + std::to_string(n);
      const fs::path owner = MakeDir("devices/pnp0/" + id);
      Write(owner / "id", "PNP0501");
      Bind(owner, "pnp", "serial");
      const fs::path controller = owner / (id + ":0");
      fs::create_directories(controller);
      Bind(controller, "serial-base", "ctrl");
      device = controller / (id + ":0.0");
      fs::create_directories(device);
      Bind(device, "serial-base", "port");
      break;
    }
  }
  const fs::path tty = device / "tty" / ttyName;
  fs::create_directories(tty);
  Link(tty / "device", device);
  Write(tty / "type", std::to_string(type));
  AddToClass(ttyName, tty);
  return tty;
}

fs::path FakeSysfs::AddVirtual(const std::string& ttyName) {
  const fs::path tty = MakeDir(fs::path("devices/virtual/tty") / ttyName);
  AddToClass(ttyName, tty);
  return tty;
}

}  // namespace quorvel::test
