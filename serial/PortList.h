#pragma once
// The machine's serial ports, one record each, for adapter discovery and the
// flasher's port list.
//
//   std::vector<SSerInfo> ports;
//   if (const PortListError e = ListSerialPorts(ports, SystemPortPlatform()); e.Failed()) ...
//   for (const SSerInfo& port : ports) if (port.IsUsb(0x10c4, 0xea60)) link.OpenPort(port.name, ...);

#include <cstdint>
#include <vector>

#include "base/WideText.h"

namespace quorvel {

// One serial port as the platform lists it. Texts the platform does not
// know are empty; the USB fields are set for a port on a USB device only.
struct SSerInfo {
  // The path by which the platform names the port's device: the device
  // interface path on Windows, "/sys/class/tty/<tty>" on Linux.
  Text devicePath;
  // The name shown to users: the description followed by the port's name in
  // brackets ("USB to UART Bridge (COM7)", "Bridge (ttyUSB0)").
  Text friendlyName;
  // The name SerialLink::OpenPort takes: "COM7", "ttyUSB0". Empty when the
  // platform gives none; such a port cannot be opened.
  Text name;
  // What the port is: the USB product text, else what the driver calls it.
  Text description;
  bool usb = false;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  Text serialNumber;
  // Where the USB device sits, as the platform names it ("1-1.4",
  // "Port_#0002.Hub_#0001"); stays the same across replugs into one socket.
  Text location;

  bool IsUsb(uint16_t vendor, uint16_t product) const {
    return usb && vendorId == vendor && productId == product;
  }
};

// Why the ports could not be listed; nothing failed when the message is
// empty. No front end shows it to the user but the flasher's list.
struct PortListError {
  Text message;
  bool Failed() const { return !message.empty(); }
};

class PortPlatform;  // serial/PortPlatform.h

// Empties `ports` and fills it with every serial port the platform reports,
// in its order. On a failure `ports` keeps what was appended before it.
[[nodiscard]] PortListError ListSerialPorts(std::vector<SSerInfo>& ports, PortPlatform& platform);

// The platform of the running machine (sysfs under "/sys" on Linux, the
// device installation services on Windows).
PortPlatform& SystemPortPlatform();

}  // namespace quorvel
