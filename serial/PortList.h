#pragma once
// Enumeration of the machine's serial ports for adapter discovery.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/WideText.h"

namespace quorvel {

// One enumerated serial port.
struct SSerInfo {
  Text devicePath;    // carries the USB identifiers ("vid_10c4&pid_ea60")
  Text friendlyName;  // from "COM" to the next ")" is the name OpenPort takes
};

// The one error of enumeration; carries its message text.
class PortListError : public std::runtime_error {
 public:
  explicit PortListError(Text message)
      : std::runtime_error(ToUtf8(message)), m_message(std::move(message)) {}
  const Text& Message() const { return m_message; }

 private:
  Text m_message;
};

class PortPlatform;  // serial/PortPlatform.h

// Empties `ports` and fills it with every serial port the platform reports.
// Throws PortListError; `ports` then keeps what was appended before.
void ListSerialPorts(std::vector<SSerInfo>& ports, PortPlatform& platform);

// The platform of the running machine (sysfs under "/sys" on Linux, the
// device installation services on Windows).
PortPlatform& SystemPortPlatform();

}  // namespace quorvel
