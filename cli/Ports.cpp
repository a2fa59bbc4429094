// Ports for quorvel-flash: naming, the machine's port list with the adapters
// that discovery would take, and why a port cannot be opened.


#include "cli/Flash.h"
#include "base/MachineLocations.h"
#include "link/AdapterDiscovery.h"
#include "link/AdapterRotation.h"
#include "serial/PortAccess.h"
#include "serial/PortLayer.h"
#include "serial/PortList.h"
#include "serial/SerialLink.h"

namespace quorvel::cli {

namespace {

constexpr uint32_t kListPeriodMs = 500;  // as often as the window's discovery

// "10c4:ea60": four lower-case hex digits each.
std::string UsbIds(const SSerInfo& info) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string ids;
  for (const uint16_t id : {info.vendorId, info.productId}) {
    if (!ids.empty()) ids += ':';
    for (int shift = 12; shift >= 0; shift -= 4) ids += kDigits[(id >> shift) & 0xF];
  }
  return ids;
}

// Where port names are opened: the machine's device folder ("/dev/").
const std::string& DeviceDir() {
  static const std::string dir = RunningMachineLocations().deviceDir;
  return dir;
}

}  // namespace

bool ListPorts(std::vector<ListedPort>& ports, std::string& error) {
  std::vector<SSerInfo> found;
  if (const PortListError e = ListSerialPorts(found, SystemPortPlatform()); e.Failed()) {
    error = ToUtf8(e.message);
    return false;
  }
  ports.clear();
  for (const SSerInfo& info : found) {
    if (info.name.empty()) continue;
    ListedPort port;
    port.ttyName = ToUtf8(info.name);
    port.devicePath = PortDevicePath(port.ttyName);
    port.product = ToUtf8(info.description);
    if (info.usb) {
      port.usbIds = UsbIds(info);
      port.serial = ToUtf8(info.serialNumber);
    }
    port.adapter = IsAdapter(info);
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
  link.deviceDir = DeviceDir();
  const AnsweringAdapter answer = FindAnsweringAdapter(link, SystemPortPlatform(), model, waitMs, stop);
  link.ClosePort();
  if (!answer.found) return {};
  return PortLabel(PortDevicePath(ToUtf8(answer.portName)));
}

std::string PortProblem(const std::string& devicePath) {
  const PortAccessResult r = CheckPortAccess(PortDevicePath(devicePath));
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
