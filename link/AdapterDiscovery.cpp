// Finding the USB-to-serial adapter among the serial ports and opening it.

#include "link/AdapterDiscovery.h"

#include <string_view>
#include <vector>

#include "link/Protocol.h"
#include "serial/PortList.h"
#include "serial/SerialLink.h"

namespace quorvel {

namespace {

constexpr std::u16string_view kAdapterIds[] = {u"vid_10c4&pid_ea60", u"vid_10c8&pid_ea61"};

}  // namespace

// An adapter's identifiers stand inside the device path, never at its start.
bool IsAdapterPath(const Text& devicePath) {
  for (const auto id : kAdapterIds) {
    const auto pos = devicePath.find(id);
    if (pos != Text::npos && pos > 0) return true;
  }
  return false;
}

// The port name is cut from the friendly name: from the first "COM" (or from
// the start when there is none) up to the next ")"; no ")" gives no name.
Text CutComName(const Text& friendlyName) {
  auto start = friendlyName.find(u"COM");
  if (start == Text::npos) start = 0;
  const Text rest = friendlyName.substr(start);
  const auto end = rest.find(u')');
  if (end == Text::npos) return Text();
  return rest.substr(0, end);
}

AdapterSearch OpenAdapterPort(SerialLink& link, PortPlatform& ports, int32_t model,
                              const Text& adapter, ScanStart start) {
  AdapterSearch search;
  try {
    ListSerialPorts(link.ports, ports);
  } catch (const PortListError& error) {
    // The attempt ends quietly; the caller tries again later.
    search.listFailed = true;
    search.listError = error.Message();
    return search;
  }
  // The adapters in list order, with their port names. The list is read by
  // index within the count taken once, after the refresh.
  std::vector<Text> names;
  const size_t n = link.ports.size();
  for (size_t i = 0; i < n; ++i) {
    if (IsAdapterPath(link.ports[i].devicePath)) names.push_back(CutComName(link.ports[i].friendlyName));
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
