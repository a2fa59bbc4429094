#include "serial/PortLayer.h"

namespace quorvel {
PortHandle PortOpen(const std::string&, uint32_t) { return kInvalidPort; }
void PortClose(PortHandle) {}
bool PortPurge(PortHandle) { return false; }
bool PortWriteAll(PortHandle, const uint8_t*, size_t) { return false; }
size_t PortReadAll(PortHandle, uint8_t*, size_t, uint32_t) { return 0; }
uint64_t MonotonicMs() { return 0; }
void SleepMs(uint32_t) {}
}  // namespace quorvel
