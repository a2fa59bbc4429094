// The listing's platform-free parts: one entry point and the text helpers
// of the platforms' listings.

#include "serial/PortList.h"

#include <optional>
#include <string_view>

#include "serial/PortPlatform.h"

namespace quorvel {

PortListError ListSerialPorts(std::vector<SSerInfo>& ports, PortPlatform& platform) {
  ports.clear();
  return platform.ListPorts(ports);
}

namespace {

// The four hex digits after `key` in `id`, letter case ignored.
std::optional<uint16_t> HexAfter(const Text& id, std::u16string_view key) {
  Text upper = id;
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  const size_t at = upper.find(key);
  if (at == Text::npos || upper.size() < at + key.size() + 4) return std::nullopt;
  uint16_t value = 0;
  for (size_t i = at + key.size(); i < at + key.size() + 4; ++i) {
    const char16_t c = upper[i];
    int digit = 0;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    else return std::nullopt;
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return value;
}

}  // namespace

Text CutComName(const Text& friendlyName) {
  size_t start = friendlyName.find(u"COM");
  if (start == Text::npos) start = 0;
  const size_t end = friendlyName.find(u')', start);
  if (end == Text::npos) return Text();
  return friendlyName.substr(start, end - start);
}

bool ParseUsbIds(const Text& hardwareId, uint16_t& vendorId, uint16_t& productId) {
  const std::optional<uint16_t> vid = HexAfter(hardwareId, u"VID_");
  const std::optional<uint16_t> pid = HexAfter(hardwareId, u"PID_");
  if (!vid || !pid) return false;
  vendorId = *vid;
  productId = *pid;
  return true;
}

}  // namespace quorvel
