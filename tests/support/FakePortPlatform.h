#pragma once
// A port platform whose answers the test sets: the version, the serial
// device interfaces (with failures at chosen places) and a registry tree.
// It counts what is opened and closed, so tests can check that
// ListSerialPorts gives back everything it took, on every path.

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "serial/PortPlatform.h"

namespace quorvel::test {

struct FakeInterface {
  Text devicePath;
  std::optional<Text> friendlyName;  // nullopt: reading it fails
  std::optional<Text> description = Text(u"Serial port");
  PlatformStatus enumStatus = kStatusOk;    // enumerating this index fails with it
  PlatformStatus detailStatus = kStatusOk;  // reading its path fails with it
};

struct FakeKey {
  Text name;
  std::vector<FakeKey> subkeys;  // in enumeration order
  std::vector<std::pair<Text, Text>> values;
  bool openFails = false;
};

class FakePortPlatform final : public PortPlatform {
 public:
  // What the platform answers.
  PlatformStatus versionStatus = kStatusOk;
  OsVersion version{10, kPlatformWin32Nt};
  PlatformStatus setStatus = kStatusOk;
  std::vector<FakeInterface> interfaces;
  FakeKey localMachine;  // its subkeys are the top-level keys ("Enum")

  // What was done with it.
  int setsOpened = 0;
  int setsClosed = 0;
  int keysOpened = 0;
  int keysClosed = 0;
  int badHandles = 0;  // calls with a handle that is not open (double closes included)
  std::vector<Text> keysOpenedByName;

  bool NothingOpen() const { return m_openSets.empty() && m_openKeys.empty() && badHandles == 0; }

  PlatformStatus QueryVersion(OsVersion& out) override;
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
  const FakeInterface* Interface(PlatformHandle set, uint32_t index);
  const FakeKey* Key(PlatformHandle key);

  PlatformHandle m_next = 100;
  std::vector<PlatformHandle> m_openSets;
  std::map<PlatformHandle, const FakeKey*> m_openKeys;
};

// Registry tree helpers: Key("Enum", {Key("Root", {...})}).
FakeKey Key(Text name, std::vector<FakeKey> subkeys = {},
            std::vector<std::pair<Text, Text>> values = {});

}  // namespace quorvel::test
