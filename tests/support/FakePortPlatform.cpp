#include "support/FakePortPlatform.h"

#include <algorithm>
#include <cerrno>

namespace quorvel::test {

FakeKey Key(Text name, std::vector<FakeKey> subkeys, std::vector<std::pair<Text, Text>> values) {
  return FakeKey{std::move(name), std::move(subkeys), std::move(values), false};
}

PlatformStatus FakePortPlatform::QueryVersion(OsVersion& out) {
  if (versionStatus == kStatusOk) out = version;
  return versionStatus;
}

PlatformStatus FakePortPlatform::OpenPortInterfaces(PlatformHandle& set) {
  if (setStatus != kStatusOk) return setStatus;
  set = m_next++;
  m_openSets.push_back(set);
  ++setsOpened;
  return kStatusOk;
}

const FakeInterface* FakePortPlatform::Interface(PlatformHandle set, uint32_t index) {
  if (std::find(m_openSets.begin(), m_openSets.end(), set) == m_openSets.end()) {
    ++badHandles;
    return nullptr;
  }
  return index < interfaces.size() ? &interfaces[index] : nullptr;
}

PlatformStatus FakePortPlatform::EnumInterface(PlatformHandle set, uint32_t index) {
  const FakeInterface* item = Interface(set, index);
  if (item == nullptr) return kErrorNoMoreItems;
  return item->enumStatus;
}

PlatformStatus FakePortPlatform::InterfacePath(PlatformHandle set, uint32_t index,
                                               Text& devicePath) {
  const FakeInterface* item = Interface(set, index);
  if (item == nullptr) return EINVAL;
  if (item->detailStatus == kStatusOk) devicePath = item->devicePath;
  return item->detailStatus;
}

PlatformStatus FakePortPlatform::FriendlyName(PlatformHandle set, uint32_t index, Text& name) {
  const FakeInterface* item = Interface(set, index);
  if (item == nullptr || !item->friendlyName) return EIO;
  name = *item->friendlyName;
  return kStatusOk;
}

PlatformStatus FakePortPlatform::DeviceDescription(PlatformHandle set, uint32_t index,
                                                   Text& description) {
  const FakeInterface* item = Interface(set, index);
  if (item == nullptr || !item->description) return EIO;
  description = *item->description;
  return kStatusOk;
}

void FakePortPlatform::CloseInterfaces(PlatformHandle set) {
  const auto it = std::find(m_openSets.begin(), m_openSets.end(), set);
  if (it == m_openSets.end()) {
    ++badHandles;
    return;
  }
  m_openSets.erase(it);
  ++setsClosed;
}

const FakeKey* FakePortPlatform::Key(PlatformHandle key) {
  if (key == kLocalMachineKey) return &localMachine;
  const auto it = m_openKeys.find(key);
  if (it == m_openKeys.end()) {
    ++badHandles;
    return nullptr;
  }
  return it->second;
}

PlatformStatus FakePortPlatform::OpenKey(PlatformHandle parent, const Text& subKey,
                                         PlatformHandle& key) {
  const FakeKey* node = Key(parent);
  if (node == nullptr) return EBADF;
  for (const FakeKey& child : node->subkeys) {
    if (child.name != subKey) continue;
    if (child.openFails) return 5;  // access denied
    key = m_next++;
    m_openKeys.emplace(key, &child);
    ++keysOpened;
    keysOpenedByName.push_back(subKey);
    return kStatusOk;
  }
  return kErrorFileNotFound;
}

PlatformStatus FakePortPlatform::EnumSubKey(PlatformHandle key, uint32_t index, Text& name) {
  const FakeKey* node = Key(key);
  if (node == nullptr) return EBADF;
  if (index >= node->subkeys.size()) return kErrorNoMoreItems;
  name = node->subkeys[index].name;
  return kStatusOk;
}

PlatformStatus FakePortPlatform::QueryStringValue(PlatformHandle key, const Text& valueName,
                                                  Text& value) {
  const FakeKey* node = Key(key);
  if (node == nullptr) return EBADF;
  for (const auto& [name, data] : node->values) {
    if (name == valueName) {
      value = data;
      return kStatusOk;
    }
  }
  return kErrorFileNotFound;
}

void FakePortPlatform::CloseKey(PlatformHandle key) {
  if (m_openKeys.erase(key) == 0) {
    ++badHandles;
    return;
  }
  ++keysClosed;
}

}  // namespace quorvel::test
