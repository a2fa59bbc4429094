// Finding the USB-to-serial adapter among the serial ports and opening it.

#include <string_view>

#include "link/AdapterDiscovery.h"
#include "serial/PortList.h"
#include "ui/QuorvelDlg.h"

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

void CQuorvelDlg::FindAdapterPort() {
  try {
    ListSerialPorts(m_link.ports,
                    m_env.portPlatform != nullptr ? *m_env.portPlatform : SystemPortPlatform());
  } catch (const PortListError&) {
    // An enumeration error ends this attempt quietly; the link state stays 0
    // and the next tick tries again.
    return;
  }
  const size_t n = m_link.ports.size();
  for (size_t i = 0; i < n; ++i) {
    const SSerInfo& port = m_link.ports[i];
    if (!IsAdapterPath(port.devicePath)) continue;
    const Text comName = CutComName(port.friendlyName);
    m_link.skipEcho = 0;
    if (m_link.hPort == kInvalidPort &&
        m_link.OpenPort(comName, static_cast<uint32_t>(m_baudRate))) {
      m_linkState = 1;
      InvalidateLamps();
      return;
    }
  }
}

}  // namespace quorvel
