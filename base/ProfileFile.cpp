#include "base/ProfileFile.h"

#include <algorithm>

namespace quorvel {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

std::u16string_view TrimBlanks(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c; }

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    size_t need = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) { need = 1; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { need = 2; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { need = 3; cp = b0 & 0x07; min = 0x10000; }
    else return false;
    if (s.size() - i <= need) return false;
    for (size_t k = 1; k <= need; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += need + 1;
  }
  return true;
}

Text DecodeUtf16(std::string_view bytes, bool bigEndian) {
  Text out;
  out.reserve(bytes.size() / 2);
  // An odd last byte is no character and is dropped.
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
  }
  return out;
}

// Removes one pair of enclosing quotes, double or single.
std::u16string_view Unquote(std::u16string_view v) {
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

}  // namespace

Text DecodeProfileBytes(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) return FromUtf8(bytes.substr(3));
  if (IsValidUtf8(bytes)) return FromUtf8(bytes);
  return DecodeCp932(bytes);
}

std::optional<ProfileFile> ProfileFile::Load(const std::string& path) {
  const std::optional<std::string> bytes = ReadRegularFile(path);
  if (!bytes) return std::nullopt;
  return Parse(DecodeProfileBytes(*bytes));
}

ProfileFile ProfileFile::Parse(std::u16string_view text) {
  ProfileFile file;
  Section* current = nullptr;  // lines before the first section belong to none
  while (!text.empty()) {
    const size_t eol = text.find(u'\n');
    const std::u16string_view line =
        TrimBlanks(text.substr(0, eol == std::u16string_view::npos ? text.size() : eol));
    text.remove_prefix(eol == std::u16string_view::npos ? text.size() : eol + 1);

    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      const size_t close = line.find(u']');
      if (close == std::u16string_view::npos) continue;  // a broken header starts nothing
      file.m_sections.push_back(Section{Text(TrimBlanks(line.substr(1, close - 1))), {}});
      current = &file.m_sections.back();
      continue;
    }
    const size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos || current == nullptr) continue;
    current->entries.push_back(Entry{Text(TrimBlanks(line.substr(0, eq))),
                                     Text(Unquote(TrimBlanks(line.substr(eq + 1))))});
  }
  return file;
}

std::optional<Text> ProfileFile::Find(std::u16string_view section,
                                      std::u16string_view key) const {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  for (const Section& s : m_sections) {
    if (!EqualIgnoringCase(s.name, section)) continue;
    // Only the first section of this name is searched.
    for (const Entry& e : s.entries) {
      if (EqualIgnoringCase(e.key, key)) return e.value;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

Text ProfileFile::GetString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultText, size_t capacity) const {
  if (capacity == 0) return {};
  const std::optional<Text> value = Find(section, key);
  Text result = value ? *value : Text(defaultText);
  if (result.size() > capacity - 1) result.resize(capacity - 1);
  return result;
}

Text GetProfileString(const std::string& path, std::u16string_view section,
                      std::u16string_view key, std::u16string_view defaultText,
                      size_t capacity) {
  const std::optional<ProfileFile> file = ProfileFile::Load(path);
  if (file) return file->GetString(section, key, defaultText, capacity);
  return ProfileFile().GetString(section, key, defaultText, capacity);
}

}  // namespace quorvel
