#pragma once
// The program's texts as Windows' wide-character calls take and give them:
// wchar_t is a UTF-16 unit there, so a text passes unit for unit. For the
// Windows sources only.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/WideText.h"

namespace quorvel {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wchar_t is a UTF-16 unit");

std::wstring ToWide(std::u16string_view text);
// A UTF-8 path or name (as the command line and the port list give them).
std::wstring WideFromUtf8(std::string_view utf8);
// `units` units, as they are.
Text FromWide(const wchar_t* text, size_t units);
// The text in a buffer of `units` units that a call filled: up to its first
// NUL, or the whole buffer when it holds none.
Text FromWideBuffer(const wchar_t* buffer, size_t units);

}  // namespace quorvel
