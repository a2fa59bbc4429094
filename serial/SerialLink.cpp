#include "serial/SerialLink.h"

#include <cerrno>

namespace quorvel {
namespace {

// How long a command's echo may take.
constexpr uint32_t kCommandEchoWaitMs = 500;

// A port's name is its device file's name in deviceDir. Empty names name
// nothing.
std::string DevicePath(const std::string& deviceDir, const Text& portName) {
  if (portName.empty()) return {};
  return deviceDir + ToUtf8(portName);
}

}  // namespace

uint32_t WriteTimeLimitMs(size_t count, uint32_t baudRate) {
  constexpr uint64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
  if (baudRate == 0) return kWriteMarginMs;
  const uint64_t lineMs = (count * kBitsPerByte * 1000u + baudRate - 1) / baudRate;
  return static_cast<uint32_t>(lineMs) + kWriteMarginMs;
}

SerialLink::~SerialLink() { ClosePort(); }

bool SerialLink::OpenPort(const Text& portName, uint32_t baudRate) {
  // Callers open only a closed channel; should one not, the old port is let
  // go rather than leaked.
  ClosePort();
  const std::string path = DevicePath(deviceDir, portName);
  if (path.empty()) {
    lastError = PortError{ToUtf8(portName), ENOENT, PortStep::Name};
    return false;
  }
  hPort = port->Open(path, baudRate, &lastError);
  if (hPort == kInvalidPort) return false;
  portBaudRate = baudRate;
  return true;
}

void SerialLink::ClosePort() {
  if (hPort == kInvalidPort) return;
  port->Close(hPort);
  hPort = kInvalidPort;
}

bool SerialLink::WriteBytes(uint8_t count, const uint8_t* data) {
  if (hPort == kInvalidPort) return false;
  return port->WriteAll(hPort, data, count, WriteTimeLimitMs(count, portBaudRate),
                        whileWaiting ? &whileWaiting : nullptr);
}

bool SerialLink::ReadBytes(uint8_t count, uint8_t* buffer, uint32_t timeoutMs) {
  if (hPort == kInvalidPort) return false;
  return port->ReadAll(hPort, buffer, count, timeoutMs, whileWaiting ? &whileWaiting : nullptr) ==
         count;
}

bool SerialLink::SendCommand(uint8_t commandByte) {
  const auto failed = [this](CommandStep step) {
    commandFailed = step;
    return false;
  };
  if (!PurgePort()) return failed(CommandStep::Purge);
  if (!WriteBytes(1, &commandByte)) return failed(CommandStep::Write);
  if (skipEcho == 0 && !ReadBytes(1, rxBuf, kCommandEchoWaitMs)) return failed(CommandStep::Echo);
  commandFailed = CommandStep::None;
  return true;
}

bool SerialLink::PurgePort() {
  if (hPort == kInvalidPort) return false;
  return port->Purge(hPort);
}

bool SerialLink::DiscardInput() {
  if (hPort == kInvalidPort) return false;
  return port->DiscardInput(hPort);
}

}  // namespace quorvel
