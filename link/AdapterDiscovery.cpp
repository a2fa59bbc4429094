// Finding the USB-to-serial adapter among the serial ports and opening it.

#include "link/AdapterDiscovery.h"

#include <vector>

#include "link/Protocol.h"
#include "serial/PortList.h"
#include "serial/SerialLink.h"

namespace quorvel {

namespace {

struct UsbIds {
  uint16_t vendor;
  uint16_t product;
};
constexpr UsbIds kAdapterIds[] = {{0x10c4, 0xea60}, {0x10c8, 0xea61}};

}  // namespace

bool IsAdapter(const SSerInfo& port) {
  for (const UsbIds& ids : kAdapterIds) {
    if (port.IsUsb(ids.vendor, ids.product)) return true;
  }
  return false;
}

AdapterSearch OpenAdapterPort(SerialLink& link, PortPlatform& ports, int32_t model,
                              const Text& adapter, ScanStart start) {
  AdapterSearch search;
  if (const PortListError error = ListSerialPorts(link.ports, ports); error.Failed()) {
    // The attempt ends quietly; the caller tries again later.
    search.listFailed = true;
    search.listError = error.message;
    return search;
  }
  // The adapters in list order, with their port names. The list is read by
  // index within the count taken once, after the refresh.
  std::vector<Text> names;
  const size_t n = link.ports.size();
  for (size_t i = 0; i < n; ++i) {
    if (IsAdapter(link.ports[i])) names.push_back(link.ports[i].name);
  }
  search.adapters = names.size();

  // With `adapter` among them, start with it or right behind it.
  size_t first = 0;
  if (!adapter.empty()) {
    for (size_t k = 0; k < names.size(); ++k) {
      if (names[k] == adapter) {
        first = start == ScanStart::AtIt ? k : k + 1;
        break;
      }
    }
  }
  const uint32_t baudRate = protocol::BaudRate(model);
  for (size_t k = 0; k < names.size(); ++k) {
    const Text& name = names[(first + k) % names.size()];
    link.skipEcho = 0;
    if (link.hPort == kInvalidPort && link.OpenPort(name, baudRate)) {
      search.opened = true;
      search.portName = name;
      search.openError = PortError{};
      return search;
    }
    if (!search.openError.Failed()) search.openError = link.lastError;
  }
  return search;
}

bool OpenNamedPort(SerialLink& link, const Text& portName, int32_t model) {
  link.skipEcho = 0;
  link.ClosePort();
  return link.OpenPort(portName, protocol::BaudRate(model));
}

}  // namespace quorvel
