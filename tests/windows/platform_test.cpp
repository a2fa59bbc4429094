// The Windows platform facts: the language switch in the registry's 32-bit
// view, the program's own path, the machine's port list.

#include <windows.h>

#include <gtest/gtest.h>

#include "serial/PortList.h"
#include "serial/PortPlatform.h"
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
