#include "sim/SimulatedPortPlatform.h"

#include <cerrno>

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
  entry.devicePath = u"/sys/class/tty/" + tty + u"#usb#vid_10c4&pid_ea60#DEMO";
  entry.friendlyName = Text(kSimulatedAdapterDescription) + u" (COM:" + tty + u")";
  return entry;
}

PlatformStatus SimulatedPortPlatform::QueryVersion(OsVersion& version) {
  return m_inner.QueryVersion(version);
}

PlatformStatus SimulatedPortPlatform::OpenPortInterfaces(PlatformHandle& set) {
  PlatformHandle inner = kNoHandle;
  if (const PlatformStatus status = m_inner.OpenPortInterfaces(inner); status != kStatusOk) {
    return status;
  }
  set = m_nextHandle++;
  m_sets.emplace(set, Set{inner, SimulatedEntry()});
  return kStatusOk;
}

PlatformStatus SimulatedPortPlatform::Locate(PlatformHandle set, uint32_t index, const Set*& found,
                                             std::optional<uint32_t>& innerIndex) const {
  const auto it = m_sets.find(set);
  if (it == m_sets.end()) return EBADF;
  found = &it->second;
  if (!found->simulated) {
    innerIndex = index;
  } else if (index == 0) {
    innerIndex.reset();
  } else {
    innerIndex = index - 1;
  }
  return kStatusOk;
}

PlatformStatus SimulatedPortPlatform::EnumInterface(PlatformHandle set, uint32_t index) {
  const Set* s = nullptr;
  std::optional<uint32_t> innerIndex;
  if (const PlatformStatus status = Locate(set, index, s, innerIndex); status != kStatusOk) return status;
  return innerIndex ? m_inner.EnumInterface(s->inner, *innerIndex) : kStatusOk;
}

PlatformStatus SimulatedPortPlatform::InterfacePath(PlatformHandle set, uint32_t index,
                                                    Text& devicePath) {
  const Set* s = nullptr;
  std::optional<uint32_t> innerIndex;
  if (const PlatformStatus status = Locate(set, index, s, innerIndex); status != kStatusOk) return status;
  if (innerIndex) return m_inner.InterfacePath(s->inner, *innerIndex, devicePath);
  devicePath = s->simulated->devicePath;
  return kStatusOk;
}

PlatformStatus SimulatedPortPlatform::FriendlyName(PlatformHandle set, uint32_t index, Text& name) {
  const Set* s = nullptr;
  std::optional<uint32_t> innerIndex;
  if (const PlatformStatus status = Locate(set, index, s, innerIndex); status != kStatusOk) return status;
  if (innerIndex) return m_inner.FriendlyName(s->inner, *innerIndex, name);
  name = s->simulated->friendlyName;
  return kStatusOk;
}

PlatformStatus SimulatedPortPlatform::DeviceDescription(PlatformHandle set, uint32_t index,
                                                        Text& description) {
  const Set* s = nullptr;
  std::optional<uint32_t> innerIndex;
  if (const PlatformStatus status = Locate(set, index, s, innerIndex); status != kStatusOk) return status;
  if (innerIndex) return m_inner.DeviceDescription(s->inner, *innerIndex, description);
  description = kSimulatedAdapterDescription;
  return kStatusOk;
}

void SimulatedPortPlatform::CloseInterfaces(PlatformHandle set) {
  const auto it = m_sets.find(set);
  if (it == m_sets.end()) return;
  m_inner.CloseInterfaces(it->second.inner);
  m_sets.erase(it);
}

PlatformStatus SimulatedPortPlatform::OpenKey(PlatformHandle parent, const Text& subKey,
                                              PlatformHandle& key) {
  return m_inner.OpenKey(parent, subKey, key);
}

PlatformStatus SimulatedPortPlatform::EnumSubKey(PlatformHandle key, uint32_t index, Text& name) {
  return m_inner.EnumSubKey(key, index, name);
}

PlatformStatus SimulatedPortPlatform::QueryStringValue(PlatformHandle key, const Text& valueName,
                                                       Text& value) {
  return m_inner.QueryStringValue(key, valueName, value);
}

void SimulatedPortPlatform::CloseKey(PlatformHandle key) { m_inner.CloseKey(key); }

}  // namespace quorvel::sim
