#pragma once
// A port platform whose list the test writes: the ports, and a failure that
// ends the listing after them. It counts its listings.

#include <vector>

#include "serial/PortPlatform.h"

namespace quorvel::test {

class FakePortPlatform final : public PortPlatform {
 public:
  std::vector<SSerInfo> ports;
  // Set: the listing fails with this message after appending `ports`.
  Text failure;
  int listings = 0;

  PortListError ListPorts(std::vector<SSerInfo>& out) override {
    ++listings;
    out.insert(out.end(), ports.begin(), ports.end());
    return {failure};
  }
};

// A port named `name` with the given USB identifiers, as a USB-to-serial
// adapter is listed; the first adapter identifiers by default.
SSerInfo UsbPort(const Text& name, uint16_t vendorId = 0x10c4, uint16_t productId = 0xea60);

}  // namespace quorvel::test
