#include "link/Protocol.h"

namespace quorvel::protocol {

uint32_t BaudRate(int32_t model) { return model == kModel1 ? kBaudModel1 : kBaudModel2; }

Text FormatVersion(int32_t model, const uint8_t version[kVersionReplyLen]) {
  if (model == kModel1) {
    return HexByteText(version[2]) + u"." + HexByteText(version[3]) + u"." +
           DecimalText(version[5], 2);
  }
  const auto major = static_cast<uint8_t>(version[2] + 64);
  // Appended to a Text rather than a literal plus a temporary: GCC 12 warns
  // falsely (-Wrestrict) about the literal's copy into the temporary.
  Text text = u"P";
  text += DecimalText(major, 1) + u"." + DecimalText(version[3], 2) + u"." +
          DecimalText(version[5], 2);
  return text;
}

}  // namespace quorvel::protocol
