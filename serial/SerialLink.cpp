#include "serial/SerialLink.h"

#include <string_view>

namespace quorvel {
namespace {

// How long a command's echo may take.
constexpr uint32_t kCommandEchoWaitMs = 500;

// Our port list names a port "COM:<tty name>"; any other name is the device
// file's own name. Both are looked up in deviceDir. Empty names name nothing.
std::string DevicePath(const std::string& deviceDir, const Text& portName) {
  constexpr std::string_view kFriendlyPrefix = "COM:";
  std::string name = ToUtf8(portName);
  if (name.starts_with(kFriendlyPrefix)) name.erase(0, kFriendlyPrefix.size());
  if (name.empty()) return {};
  return deviceDir + name;
}

}  // namespace

SerialLink::~SerialLink() { ClosePort(); }

bool SerialLink::OpenPort(const Text& portName, uint32_t baudRate) {
  // Callers open only a closed channel; should one not, the old port is let
  // go rather than leaked.
  ClosePort();
  const std::string path = DevicePath(deviceDir, portName);
  if (path.empty()) return false;
  hPort = PortOpen(path, baudRate);
  return hPort != kInvalidPort;
}

void SerialLink::ClosePort() {
  if (hPort == kInvalidPort) return;
  PortClose(hPort);
  hPort = kInvalidPort;
}

bool SerialLink::WriteBytes(uint8_t count, const uint8_t* data) {
  if (hPort == kInvalidPort) return false;
  return PortWriteAll(hPort, data, count);
}

bool SerialLink::ReadBytes(uint8_t count, uint8_t* buffer, uint32_t timeoutMs) {
  if (hPort == kInvalidPort) return false;
  return PortReadAll(hPort, buffer, count, timeoutMs, whileWaiting ? &whileWaiting : nullptr) ==
         count;
}

bool SerialLink::SendCommand(uint8_t commandByte) {
  if (!PurgePort()) return false;
  if (!WriteBytes(1, &commandByte)) return false;
  if (skipEcho != 0) return true;
  return ReadBytes(1, rxBuf, kCommandEchoWaitMs);
}

bool SerialLink::PurgePort() {
  if (hPort == kInvalidPort) return false;
  return PortPurge(hPort);
}

}  // namespace quorvel
