#include "serial/SerialLink.h"

namespace quorvel {

SerialLink::~SerialLink() { ClosePort(); }
bool SerialLink::OpenPort(const Text&, uint32_t) { return false; }
void SerialLink::ClosePort() {}
bool SerialLink::WriteBytes(uint8_t, const uint8_t*) { return false; }
bool SerialLink::ReadBytes(uint8_t, uint8_t*, uint32_t) { return false; }
bool SerialLink::SendCommand(uint8_t) { return false; }
bool SerialLink::PurgePort() { return false; }

}  // namespace quorvel
