#pragma once
// A port platform that lists a simulated adapter beside the machine's own
// serial ports: the demo's port list.
//
// The simulated adapter is a SimulatedLine. While it is plugged in, it is the
// first port of every list, then come the ports of the inner platform in
// their order (so discovery opens the simulated adapter even when a real one
// is plugged in as well). Its entry is a USB port with the first adapter
// identifiers (10c4:ea60) and serial number "DEMO", named "pts/7": the line's
// pseudo-terminal relative to the device directory ("/dev/"), so
// SerialLink::OpenPort with the usual device directory opens "/dev/pts/7".
// The entry is made afresh for every list, so it follows the line across
// replugs; while the line is unplugged there is none.
//
// Usage:
//   SimulatedLine line;
//   DemoDevice device(line);
//   SimulatedPortPlatform ports(SystemPortPlatform(), line);
//   Environment env = Environment::System();
//   env.portPlatform = &ports;

#include <optional>
#include <string>

#include "serial/PortPlatform.h"
#include "sim/SimulatedLine.h"

namespace quorvel::sim {

class SimulatedPortPlatform final : public PortPlatform {
 public:
  // `deviceDir` must be the Environment's deviceDir.
  SimulatedPortPlatform(PortPlatform& inner, const SimulatedLine& line,
                        std::string deviceDir = "/dev/");

  // The simulated adapter's entry now; none while the line is unplugged or
  // its pseudo-terminal lies outside the device directory.
  std::optional<SSerInfo> SimulatedEntry() const;

  PortListError ListPorts(std::vector<SSerInfo>& ports) override;

 private:
  PortPlatform& m_inner;
  const SimulatedLine& m_line;
  const std::string m_deviceDir;
};

// The simulated adapter's description, shown before its name in brackets.
inline constexpr char16_t kSimulatedAdapterDescription[] = u"Simulated adapter";

}  // namespace quorvel::sim
