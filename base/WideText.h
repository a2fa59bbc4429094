#pragma once
// Texts of the program: UTF-16 strings that own their buffers, as the
// dialog, the port list and the update jobs pass them around.

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

using Text = std::u16string;

// UTF-8 <-> UTF-16. Invalid input sequences become U+FFFD.
Text FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

// Formats an unsigned number in decimal with at least `minDigits` digits.
Text DecimalText(uint32_t value, int minDigits = 1);
// Two upper-case hexadecimal digits.
Text HexByteText(uint8_t value);

}  // namespace quorvel
