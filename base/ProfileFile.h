#pragma once
// Profile (INI) files read the way the Windows profile functions
// (GetPrivateProfileStringW) read them, so that a language file made for the
// Windows program reads the same here:
// - "[name]" starts a section; lines starting with ";" are comments; a line
//   without "=" holds no value.
// - Section and key names are compared without regard to ASCII case and
//   without their surrounding blanks.
// - A value is everything after the first "=" of its line, without leading
//   and trailing blanks and without one pair of enclosing double or single
//   quotes.
// - Only the first section of a name is searched, and in it the first key of
//   a name counts.
// - Lines end with LF or CR LF.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/RegularFile.h"
#include "base/WideText.h"

namespace quorvel {

// Decodes the bytes of a profile file: UTF-16 (little or big endian) when
// they start with a byte-order mark; otherwise UTF-8 (with or without its
// mark) when they are valid UTF-8, and else the Japanese Windows code page
// 932, in which files made on a Japanese Windows machine are stored.
// Undecodable bytes become U+FFFD.
Text DecodeProfileBytes(std::string_view bytes);

// Bytes in code page 932, by the platform's converter (base/posix, base/win32).
// A byte that does not start a character, or a truncated pair at the end,
// becomes U+FFFD.
Text DecodeCp932(std::string_view bytes);

class ProfileFile {
 public:
  // Reads (at most kMaxTextFileBytes of) the file at `path` and decodes it;
  // nothing if it is missing, not a regular file or cannot be read.
  static std::optional<ProfileFile> Load(const std::string& path);
  // Parses decoded text.
  static ProfileFile Parse(std::u16string_view text);

  // The value of `key` in `section`, quotes removed; nothing if the section
  // or the key is missing.
  std::optional<Text> Find(std::u16string_view section, std::u16string_view key) const;

  // GetPrivateProfileStringW for one key: the value, or `defaultText` when
  // there is none, cut to `capacity` - 1 UTF-16 units (a buffer of
  // `capacity` characters that keeps room for its terminator).
  Text GetString(std::u16string_view section, std::u16string_view key,
                 std::u16string_view defaultText, size_t capacity) const;

 private:
  struct Entry {
    Text key;
    Text value;
  };
  struct Section {
    Text name;
    std::vector<Entry> entries;
  };
  std::vector<Section> m_sections;
};

// One look-up in the file at `path`, as GetPrivateProfileStringW does it: a
// missing or unreadable file gives the default.
Text GetProfileString(const std::string& path, std::u16string_view section,
                      std::u16string_view key, std::u16string_view defaultText,
                      size_t capacity);

}  // namespace quorvel
