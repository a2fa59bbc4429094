#pragma once
// Texts of the program: UTF-16 strings that own their buffers, as the
// dialog, the port list and the update jobs pass them around.

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

using Text = std::u16string;

// UTF-8 <-> UTF-16. Invalid input sequences become U+FFFD. ToUtf8 turns a
// lone U+DC80..U+DCFF back into the byte it stands for (see FromNameBytes).
Text FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

// A name of the file system or the command line as bytes, which on POSIX
// systems need not be UTF-8: valid UTF-8 is decoded, and each other byte b
// becomes the lone surrogate U+DC00+b, which ToUtf8 turns back into b. So
// any name opens as given after its trip through Text.
Text FromNameBytes(std::string_view bytes);

// Formats an unsigned number in decimal with at least `minDigits` digits.
Text DecimalText(uint32_t value, int minDigits = 1);
// Two upper-case hexadecimal digits.
Text HexByteText(uint8_t value);

}  // namespace quorvel
