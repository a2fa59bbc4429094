// Ports for quorvel-flash: naming, the machine's port list with the adapters
// that discovery would take, and why a port cannot be opened.


#include "cli/Flash.h"
#include "link/AdapterDiscovery.h"
#include "link/AdapterRotation.h"
#include "serial/PortAccess.h"
#include "serial/PortLayer.h"
#include "serial/PortList.h"
#include "serial/SerialLink.h"

namespace quorvel::cli {

namespace {

constexpr uint32_t kListPeriodMs = 500;  // as often as the window's discovery

// "/sys/class/tty/ttyUSB0#usb#vid_10c4&pid_ea60#0001": the identifiers and
// the serial number behind "#usb#".
void ParseUsbPart(const std::string& path, ListedPort& port) {
  const auto usb = path.find("#usb#vid_");
  if (usb == std::string::npos) return;
  const std::string rest = path.substr(usb + 9);  // "10c4&pid_ea60#0001"
  const auto pid = rest.find("&pid_");
  if (pid == std::string::npos) return;
  const auto hash = rest.find('#', pid);
  port.usbIds = rest.substr(0, pid) + ":" + rest.substr(pid + 5, hash - (pid + 5));
  if (hash != std::string::npos) port.serial = rest.substr(hash + 1);
}

}  // namespace

std::string PortDevicePath(const std::string& name) {
  // A path from the root or from here ("./ttyX") as given; any other name
  // is below /dev/, also one in a subfolder ("pts/3").
  if (name.starts_with('/') || name.starts_with("./") || name.starts_with("../")) return name;
  return "/dev/" + name;
}

bool ListPorts(std::vector<ListedPort>& ports, std::string& error) {
  std::vector<SSerInfo> found;
  try {
    ListSerialPorts(found, SystemPortPlatform());
  } catch (const PortListError& e) {
    error = ToUtf8(e.Message());
    return false;
  }
  ports.clear();
  for (const SSerInfo& info : found) {
    ListedPort port;
    // "COM:ttyUSB0", the name the serial channel opens below /dev/.
    std::string name = ToUtf8(CutComName(info.friendlyName));
    if (name.starts_with("COM:")) name.erase(0, 4);
    if (name.empty()) continue;
    port.ttyName = name;
    port.devicePath = PortDevicePath(name);
    const std::string friendly = ToUtf8(info.friendlyName);
    const auto com = friendly.rfind(" (COM:");
    port.product = com == std::string::npos ? friendly : friendly.substr(0, com);
    ParseUsbPart(ToUtf8(info.devicePath), port);
    port.adapter = IsAdapterPath(info.devicePath);
    ports.push_back(std::move(port));
  }
  return true;
}

std::vector<std::string> FindAdapterPorts(uint32_t waitMs, const std::function<bool()>& stop,
                                          std::string& error) {
  const uint64_t deadline = MonotonicMs() + waitMs;
  for (;;) {
    std::vector<ListedPort> ports;
    std::vector<std::string> adapters;
    if (ListPorts(ports, error)) {
      for (const ListedPort& port : ports) {
        if (port.adapter) adapters.push_back(port.devicePath);
      }
    }
    if (!adapters.empty() || stop() || MonotonicMs() >= deadline) return adapters;
    SleepMs(kListPeriodMs);
  }
}

std::string AnsweringAdapterPort(int32_t model, uint32_t waitMs, const std::function<bool()>& stop) {
  SerialLink link;
  const AnsweringAdapter answer = FindAnsweringAdapter(link, SystemPortPlatform(), model, waitMs, stop);
  link.ClosePort();
  if (!answer.found) return {};
  // "COM:ttyUSB0", as the port list names it.
  std::string name = ToUtf8(answer.portName);
  if (name.starts_with("COM:")) name.erase(0, 4);
  return PortDevicePath(name);
}

std::string PortProblem(const std::string& devicePath) {
  const PortAccessResult r = CheckPortAccess(devicePath);
  switch (r.access) {
    case PortAccess::Available:
      return {};
    case PortAccess::Missing:
      return devicePath + ": no such serial port (see quorvel-flash list)";
    case PortAccess::NoPermission:
      return devicePath +
             ": permission denied. Install the package's udev rule "
             "(70-quorvel-adapters.rules) and plug the adapter in again, or join the dialout "
             "group: sudo usermod -aG dialout $USER, then log in again";
    case PortAccess::Held:
      return devicePath + ": the port is held by another program; close it and try again";
    case PortAccess::NotATerminal:
      return devicePath + ": not a serial port";
    case PortAccess::Failed:
      break;
  }
  return devicePath + ": cannot open the port: " + ErrnoText(r.error);
}

}  // namespace quorvel::cli
