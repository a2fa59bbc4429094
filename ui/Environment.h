#pragma once
// What the main dialog takes from the machine it runs on: where the language
// switch and the program's own file are, where serial devices live, how ports
// are enumerated, and how the end-of-update pause waits. The program uses the
// defaults; tests point each at something of their own.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/WideText.h"

namespace quorvel {

class Port;
class PortPlatform;

struct Environment {
  // INI-style file with [General] Language=...; read once, never written.
  std::string languageSwitchPath;
  // Reads the language switch where the platform keeps it (the registry on
  // Windows); null means the file at languageSwitchPath.
  std::function<std::optional<Text>()> languageSwitch;
  // Full path of the running program's file; the language file lies beside it.
  std::string programPath;
  // Prefix that turns a port name into a device file.
  std::string deviceDir = "/dev/";
  // Port enumeration; null means the running machine's.
  PortPlatform* portPlatform = nullptr;
  // The serial ports' calls; null means the running machine's.
  Port* port = nullptr;
  // The pause after an update, for tests; null (the program) means the
  // window's own pause, which keeps it painted and answering the desktop.
  std::function<void(uint32_t)> pauseMs;
  // The wait for an update file changed moments ago to settle, for tests;
  // null (the program) means the window's own wait, as for pauseMs.
  std::function<void(uint32_t)> fileWaitMs;
  // Takes a line for the user outside the window (the program writes it to
  // standard error): why an adapter that is plugged in cannot be used.
  // Null: nowhere.
  std::function<void(const std::string&)> reportLine;
  // Takes a line for each thing the link and the jobs do (--verbose): port
  // opened or why not, link state changes, each record's verdict. Null:
  // nowhere.
  std::function<void(const std::string&)> trace;

  // The running machine's locations (base/MachineLocations.h).
  static Environment System();
};

}  // namespace quorvel
