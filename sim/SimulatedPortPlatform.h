#pragma once
// A port platform that lists a simulated adapter beside the machine's own
// serial ports: the demo's port list.
//
// The simulated adapter is a SimulatedLine. While it is plugged in, it is the
// first port of every list, then come the ports of the inner platform in
// their order (so discovery opens the simulated adapter even when a real one
// is plugged in as well). Its entry follows the Linux port list's scheme:
//   device path    "/sys/class/tty/pts/7#usb#vid_10c4&pid_ea60#DEMO"
//   friendly name  "Simulated adapter (COM:pts/7)"
// "pts/7" is the line's pseudo-terminal relative to the device directory
// ("/dev/"), so SerialLink::OpenPort with the usual device directory opens
// "/dev/pts/7". The entry is made afresh for every list, so it follows the
// line across replugs; while the line is unplugged there is none.
//
// Usage:
//   SimulatedLine line;
//   DemoDevice device(line);
//   SimulatedPortPlatform ports(SystemPortPlatform(), line);
//   Environment env = Environment::System();
//   env.portPlatform = &ports;

#include <map>
#include <optional>
#include <string>

#include "serial/PortList.h"
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

  PlatformStatus QueryVersion(OsVersion& version) override;
  PlatformStatus OpenPortInterfaces(PlatformHandle& set) override;
  PlatformStatus EnumInterface(PlatformHandle set, uint32_t index) override;
  PlatformStatus InterfacePath(PlatformHandle set, uint32_t index, Text& devicePath) override;
  PlatformStatus FriendlyName(PlatformHandle set, uint32_t index, Text& name) override;
  PlatformStatus DeviceDescription(PlatformHandle set, uint32_t index, Text& description) override;
  void CloseInterfaces(PlatformHandle set) override;
  PlatformStatus OpenKey(PlatformHandle parent, const Text& subKey, PlatformHandle& key) override;
  PlatformStatus EnumSubKey(PlatformHandle key, uint32_t index, Text& name) override;
  PlatformStatus QueryStringValue(PlatformHandle key, const Text& valueName, Text& value) override;
  void CloseKey(PlatformHandle key) override;

 private:
  struct Set {
    PlatformHandle inner;
    std::optional<SSerInfo> simulated;  // index 0 when present
  };

  // The set, and the index within the inner set (nullopt: the simulated entry).
  PlatformStatus Locate(PlatformHandle set, uint32_t index, const Set*& found,
                        std::optional<uint32_t>& innerIndex) const;

  PortPlatform& m_inner;
  const SimulatedLine& m_line;
  const std::string m_deviceDir;
  std::map<PlatformHandle, Set> m_sets;
  PlatformHandle m_nextHandle = 1;
};

// The simulated adapter's description, shown before "(COM:...)".
inline constexpr char16_t kSimulatedAdapterDescription[] = u"Simulated adapter";

}  // namespace quorvel::sim
