// The Windows platform facts: the language switch in the registry's 32-bit
// view, the program's own path, the machine's port list.

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "serial/PortList.h"
#include "serial/PortPlatform.h"
#include "serial/win32/DeviceInterfaceList.h"
#include "ui/Environment.h"
#include "ui/LanguageSwitch.h"

namespace quorvel {
namespace {

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

constexpr const wchar_t* kSwitchKey = L"Software\\Vendrall\\Quorvel";

// Sets (or with null deletes) the switch value in one view of the registry.
void WriteSwitch(REGSAM view, const wchar_t* value, DWORD bytes = 0) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSwitchKey, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (value == nullptr) {
    RegDeleteValueW(key, L"Language");
  } else {
    if (bytes == 0) bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    ASSERT_EQ(RegSetValueExW(key, L"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                             bytes),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

class RegistrySwitchTest : public testing::Test {
 protected:
  void SetUp() override {
    // Writes to the machine's registry: only in the throw-away prefix.
    if (!UnderWine()) GTEST_SKIP() << "changes the machine's registry";
  }
  void TearDown() override {
    if (!UnderWine()) return;
    WriteSwitch(KEY_WOW64_32KEY, nullptr);
    WriteSwitch(KEY_WOW64_64KEY, nullptr);
  }
  std::optional<Text> Read() { return Environment::System().languageSwitch(); }
};

TEST_F(RegistrySwitchTest, IsReadFromThe32BitViewOnly) {
  EXPECT_EQ(Read(), std::nullopt);
  WriteSwitch(KEY_WOW64_64KEY, L"Japanese");
  EXPECT_FALSE(SelectsLanguageFile(Read())) << "the 64-bit view is not the switch";
  WriteSwitch(KEY_WOW64_32KEY, L"Japanese");
  EXPECT_TRUE(SelectsLanguageFile(Read()));
  WriteSwitch(KEY_WOW64_32KEY, L"japanese");
  EXPECT_FALSE(SelectsLanguageFile(Read()));
}

TEST_F(RegistrySwitchTest, TakesAtMost260BytesAndEndsAtTheFirstNul) {
  WriteSwitch(KEY_WOW64_32KEY, L"Japanese\0tail", 14 * sizeof(wchar_t));
  EXPECT_EQ(Read(), Text(u"Japanese"));
  const std::wstring longest(129, L'x');
  WriteSwitch(KEY_WOW64_32KEY, longest.c_str());
  EXPECT_EQ(Read(), Text(129, u'x'));
  const std::wstring tooLong(130, L'x');
  WriteSwitch(KEY_WOW64_32KEY, tooLong.c_str());
  EXPECT_EQ(Read(), std::nullopt);
}

TEST(WindowsEnvironment, LanguageFileLiesBesideTheProgram) {
  const Environment env = Environment::System();
  wchar_t own[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
  std::wstring expected(own);
  expected.resize(expected.rfind(L'\\') + 1);
  expected += L"JapZemb.ini";
  // The program's path comes with "/" between its parts.
  Text file = FromUtf8(LanguageFilePath(env.programPath));
  for (char16_t& c : file) {
    if (c == u'/') c = u'\\';
  }
  EXPECT_EQ(std::wstring(file.begin(), file.end()), expected);
  EXPECT_EQ(env.programPath.find('\\'), std::string::npos);
  EXPECT_EQ(env.deviceDir, "\\\\.\\");
}

// Device interfaces whose answers the test sets; an absent property cannot
// be read.
struct FakeInterface {
  Text path;
  std::map<DWORD, Text> properties;
  Text instanceId;
  DWORD enumError = ERROR_SUCCESS;
  DWORD pathError = ERROR_SUCCESS;
};

class FakeInterfaceSet final : public DeviceInterfaceSet {
 public:
  explicit FakeInterfaceSet(std::vector<FakeInterface> interfaces)
      : m_interfaces(std::move(interfaces)) {}
  DWORD Enum(DWORD index) override {
    return index < m_interfaces.size() ? m_interfaces[index].enumError : ERROR_NO_MORE_ITEMS;
  }
  DWORD Path(DWORD index, Text& path) override {
    path = m_interfaces.at(index).path;
    return m_interfaces.at(index).pathError;
  }
  std::optional<Text> Property(DWORD index, DWORD property) override {
    const auto& properties = m_interfaces.at(index).properties;
    const auto it = properties.find(property);
    if (it == properties.end()) return std::nullopt;
    return it->second;
  }
  Text InstanceId(DWORD index) override { return m_interfaces.at(index).instanceId; }

 private:
  std::vector<FakeInterface> m_interfaces;
};

FakeInterface Port(const Text& path, const Text& friendly, const Text& description = u"Port") {
  FakeInterface port;
  port.path = path;
  port.properties = {{SPDRP_FRIENDLYNAME, friendly}, {SPDRP_DEVICEDESC, description}};
  return port;
}

TEST(WindowsPortList, AnInterfaceGivesItsRecord) {
  FakeInterface usb = Port(u"\\\\?\\usb#vid_10c4&pid_ea60#0001#{86e0d1e0}",
                           u"USB to UART Bridge (COM7)", u"USB to UART Bridge");
  usb.properties[SPDRP_HARDWAREID] = u"USB\\VID_10C4&PID_EA60&REV_0100";
  usb.properties[SPDRP_LOCATION_INFORMATION] = u"Port_#0002.Hub_#0001";
  usb.instanceId = u"USB\\VID_10C4&PID_EA60\\0001";
  FakeInterface uart = Port(u"\\\\?\\acpi#pnp0501#1", u"Communications Port (COM1)");
  uart.properties[SPDRP_HARDWAREID] = u"ACPI\\PNP0501";
  FakeInterfaceSet set({usb, uart});
  std::vector<SSerInfo> ports;
  ASSERT_FALSE(WalkDeviceInterfaces(set, ports).Failed());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].name, u"COM7");
  EXPECT_EQ(ports[0].devicePath, usb.path);
  EXPECT_EQ(ports[0].friendlyName, u"USB to UART Bridge (COM7)");
  EXPECT_EQ(ports[0].description, u"USB to UART Bridge");
  EXPECT_TRUE(ports[0].IsUsb(0x10c4, 0xea60));
  EXPECT_EQ(ports[0].serialNumber, u"0001");
  EXPECT_EQ(ports[0].location, u"Port_#0002.Hub_#0001");
  EXPECT_EQ(ports[1].name, u"COM1");
  EXPECT_FALSE(ports[1].usb);
  EXPECT_TRUE(ports[1].serialNumber.empty());
}

// The fixed limits (128 characters of device path, 255 of friendly name and
// description), unreadable texts, and failures that end the walk with the
// ports before them kept.
TEST(WindowsPortList, LimitsAndFailures) {
  const Text path128 = u"\\\\?\\" + Text(124, u'p');
  const Text name255 = Text(248, u'n') + u" (COM1)";
  FakeInterface noFriendly = Port(u"b", u"");
  noFriendly.properties.erase(SPDRP_FRIENDLYNAME);
  FakeInterface noDescription = Port(u"b", u"B (COM2)");
  noDescription.properties.erase(SPDRP_DEVICEDESC);
  FakeInterface enumFails = Port(u"c", u"C (COM3)");
  enumFails.enumError = 0x3e6;
  FakeInterface pathFails = Port(u"b", u"B (COM2)");
  pathFails.pathError = 0x57;
  const struct {
    const char* what;
    FakeInterface port;
    size_t listed;  // of the port and the one after it
    const char16_t* message;
  } cases[] = {
      {"all at their limits", Port(path128, name255, Text(255, u'd')), 2, u""},
      {"friendly name of 256", Port(path128, name255 + u"x"), 1, u""},
      {"description of 256", Port(path128, name255, Text(256, u'd')), 1, u""},
      {"friendly name unreadable", noFriendly, 1, u""},
      {"description unreadable", noDescription, 1, u""},
      {"enumeration fails", enumFails, 0, u"SetupDiEnumDeviceInterfaces failed. (err=3e6)"},
      {"path fails", pathFails, 0, u"SetupDiGetDeviceInterfaceDetail failed. (err=57)"},
      {"path of 129", Port(Text(129, u'p'), u"B (COM2)"), 0,
       u"SetupDiGetDeviceInterfaceDetail failed. (err=7a)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeInterfaceSet set({Port(u"a", u"A (COM1)"), c.port, Port(u"next", u"Next (COM9)")});
    std::vector<SSerInfo> ports;
    EXPECT_EQ(WalkDeviceInterfaces(set, ports).message, c.message);
    ASSERT_EQ(ports.size(), 1 + c.listed);
    if (c.listed > 0) {
      EXPECT_EQ(ports.back().name, u"COM9");
    }
  }
}

TEST(WindowsPortList, TheMachinesDeviceInterfacesAreListed) {
  std::vector<SSerInfo> ports;
  const PortListError error = ListSerialPorts(ports, SystemPortPlatform());
  EXPECT_FALSE(error.Failed()) << ToUtf8(error.message);
  for (const SSerInfo& port : ports) {
    EXPECT_FALSE(port.devicePath.empty());
    EXPECT_EQ(port.name, CutComName(port.friendlyName));
    EXPECT_LE(port.friendlyName.size(), 255u);
  }
}

}  // namespace
}  // namespace quorvel
