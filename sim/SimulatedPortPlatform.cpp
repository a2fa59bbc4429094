#include "sim/SimulatedPortPlatform.h"

#include <utility>

namespace quorvel::sim {

SimulatedPortPlatform::SimulatedPortPlatform(PortPlatform& inner, const SimulatedLine& line,
                                             std::string deviceDir)
    : m_inner(inner), m_line(line), m_deviceDir(std::move(deviceDir)) {}

std::optional<SSerInfo> SimulatedPortPlatform::SimulatedEntry() const {
  const std::string slave = m_line.SlavePath();
  if (slave.empty() || m_deviceDir.empty() || !slave.starts_with(m_deviceDir)) return std::nullopt;
  const Text tty = FromUtf8(slave.substr(m_deviceDir.size()));
  if (tty.empty()) return std::nullopt;
  SSerInfo entry;
  entry.name = tty;
  entry.devicePath = FromUtf8(slave);
  entry.description = kSimulatedAdapterDescription;
  entry.friendlyName = entry.description + u" (" + tty + u")";
  entry.usb = true;
  entry.vendorId = 0x10c4;
  entry.productId = 0xea60;
  entry.serialNumber = u"DEMO";
  return entry;
}

PortListError SimulatedPortPlatform::ListPorts(std::vector<SSerInfo>& ports) {
  if (std::optional<SSerInfo> simulated = SimulatedEntry()) ports.push_back(std::move(*simulated));
  return m_inner.ListPorts(ports);
}

}  // namespace quorvel::sim
