// The running machine's locations on Windows: the language switch in the
// registry, the program's file from the loader, serial ports in the device
// namespace "\\.\".

#include <windows.h>

#include <vector>

#include "base/MachineLocations.h"
#include "base/win32/WideChars.h"

namespace quorvel {

namespace {

// The full path of the running program's file, with "/" between its parts
// (Windows takes both separators; the language file is found by the last
// "/"). Paths longer than MAX_PATH are read whole.
std::string OwnExecutablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      Text path = FromWide(buf.data(), n);
      for (char16_t& c : path) {
        if (c == u'\\') c = u'/';
      }
      return ToUtf8(path);
    }
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

// The value "Language" of HKLM "Software\Vendrall\Quorvel" in the 32-bit
// view, where the installer of the 32-bit program has always put it; the
// 64-bit build asks for that view explicitly. At most 260 bytes of data are
// taken; a longer value, a missing key or value count as no switch. The
// text ends at its first NUL; the value's type is not looked at.
std::optional<Text> ReadRegistryLanguageSwitch() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vendrall\\Quorvel", 0,
                    KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  wchar_t data[130] = {};
  DWORD size = sizeof data;
  const LONG status = RegQueryValueExW(key, L"Language", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return FromWideBuffer(data, size / sizeof(wchar_t));
}

}  // namespace

MachineLocations RunningMachineLocations() {
  MachineLocations places;
  places.languageSwitch = ReadRegistryLanguageSwitch;
  places.programPath = OwnExecutablePath();
  places.deviceDir = "\\\\.\\";
  return places;
}

}  // namespace quorvel
