#include "base/win32/WideChars.h"

#include <algorithm>

namespace quorvel {

std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::wstring WideFromUtf8(std::string_view utf8) { return ToWide(FromUtf8(utf8)); }

Text FromWide(const wchar_t* text, size_t units) { return Text(text, text + units); }

Text FromWideBuffer(const wchar_t* buffer, size_t units) {
  return FromWide(buffer, std::min(units, std::wstring_view(buffer, units).find(L'\0')));
}

}  // namespace quorvel
