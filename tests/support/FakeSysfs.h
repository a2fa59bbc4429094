#pragma once
// A fake sysfs tree in a temporary directory, laid out as the kernel lays out
// the tty class and the devices behind it, for the sysfs port platform
// (MakeSysfsPortPlatform(fake.Root())).
//
//   devices/pci0000:00/0000:00:14.0/usb1/1-2          USB device: idVendor, idProduct,
//                                                     manufacturer, product, serial
//   .../1-2/1-2:1.0                                   interface, driver -> cp210x
//   .../1-2/1-2:1.0/ttyUSB0                           usb-serial port, driver -> cp210x
//   .../1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0               tty, device -> ../.. (the port)
//   class/tty/ttyUSB0 -> ../../devices/.../ttyUSB0/tty/ttyUSB0
//
// ACM ports hang their tty straight below the interface (.../1-3:1.0/tty/
// ttyACM0, device -> the interface). Legacy UARTs live below the platform
// device serial8250 (or a PNP device) with a `type` file in the tty
// directory; virtual terminals and ptys live below devices/virtual/tty and
// have no device link.

#include <filesystem>
#include <optional>
#include <string>

#include "sim/TempDir.h"

namespace quorvel::test {

struct UsbSerialOptions {
  std::optional<std::string> manufacturer;
  // The port's driver; "cdc_acm" with `acm` set.
  std::string driver = "cp210x";
  // The cdc-acm layout: the tty below the interface, no usb-serial port.
  bool acm = false;
  // Bus path of the device, such as "1-1.4" behind the hub at "1-1" (hubs
  // are made as needed); empty for the next free port of the root hub.
  std::string busPath;
};

enum class UartLayout {
  Platform,    // devices/platform/serial8250/tty/ttyS1, driver serial8250
  SerialBase,  // newer kernels: devices/platform/serial8250/serial8250:0/serial8250:0.1/tty/ttyS1
  Pnp,         // devices/pnp0/00:01/00:01:0/00:01:0.0/tty/ttyS0, driver "serial"
};

class FakeSysfs {
 public:
  FakeSysfs();

  // The tree's root, to be given to MakeSysfsPortPlatform.
  const std::filesystem::path& Root() const { return m_dir.Path(); }
  std::string RootString() const { return m_dir.Path().string(); }

  // A USB-to-serial adapter whose port is `ttyName`. Identifiers are written
  // as given ("10c4"); an absent text leaves its file out. Returns the USB
  // device directory.
  std::filesystem::path AddUsbSerial(const std::string& ttyName, const std::string& vid,
                                     const std::string& pid,
                                     const std::optional<std::string>& product,
                                     const std::optional<std::string>& serial,
                                     const UsbSerialOptions& options = {});
  // An on-board style UART port; `type` 0 is the kernel's "no UART here".
  // Returns the tty directory.
  std::filesystem::path AddLegacyUart(const std::string& ttyName, int type,
                                      UartLayout layout = UartLayout::Platform);
  // A virtual terminal, console or pty: in the class, without a device.
  std::filesystem::path AddVirtual(const std::string& ttyName);

 private:
  std::filesystem::path MakeDir(const std::filesystem::path& relative) const;
  // A symbolic link at `link` to `target`, written relative as the kernel does.
  void Link(const std::filesystem::path& link, const std::filesystem::path& target) const;
  void Bind(const std::filesystem::path& dir, const std::string& bus,
            const std::string& driver) const;
  void AddToClass(const std::string& ttyName, const std::filesystem::path& ttyDir) const;
  void Write(const std::filesystem::path& file, const std::string& text) const;
  std::filesystem::path UsbDevice(const std::string& busPath, const std::string& vid,
                                  const std::string& pid) const;

  sim::TempDir m_dir;
  int m_usbPorts = 0;
  int m_uarts = 0;
};

}  // namespace quorvel::test
