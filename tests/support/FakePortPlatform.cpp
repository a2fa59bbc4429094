#include "support/FakePortPlatform.h"

namespace quorvel::test {

SSerInfo UsbPort(const Text& name, uint16_t vendorId, uint16_t productId) {
  SSerInfo port;
  port.name = name;
  port.devicePath = u"/sys/class/tty/" + name;
  port.description = u"Bridge";
  port.friendlyName = u"Bridge (" + name + u")";
  port.usb = true;
  port.vendorId = vendorId;
  port.productId = productId;
  return port;
}

}  // namespace quorvel::test
