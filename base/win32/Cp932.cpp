// Code page 932 through the system's converter.

#include <windows.h>

#include "base/ProfileFile.h"

namespace quorvel {

namespace {

constexpr UINT kCodePage = 932;
constexpr char16_t kReplacement = 0xFFFD;

// Appends the characters of `size` bytes; false (nothing appended) when they
// are not valid code page 932.
bool AppendStrict(const char* bytes, int size, Text& out) {
  const int units = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
  if (units <= 0) return false;
  const size_t at = out.size();
  out.resize(at + static_cast<size_t>(units));
  MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, size,
                      reinterpret_cast<wchar_t*>(out.data() + at), units);
  return true;
}

}  // namespace

Text DecodeCp932(std::string_view bytes) {
  Text out;
  if (bytes.empty()) return out;
  out.reserve(bytes.size());
  if (AppendStrict(bytes.data(), static_cast<int>(bytes.size()), out)) return out;

  // Character by character: a lead byte takes its follower with it; a byte
  // that starts no character gives U+FFFD and decoding goes on at the next.
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<BYTE>(bytes[i]);
    if (IsDBCSLeadByteEx(kCodePage, b)) {
      if (i + 1 >= bytes.size()) {
        out.push_back(kReplacement);  // truncated pair at the end
        break;
      }
      if (AppendStrict(bytes.data() + i, 2, out)) {
        i += 2;
        continue;
      }
    } else if (AppendStrict(bytes.data() + i, 1, out)) {
      ++i;
      continue;
    }
    out.push_back(kReplacement);
    ++i;
  }
  return out;
}

}  // namespace quorvel
