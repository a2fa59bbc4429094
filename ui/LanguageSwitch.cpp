#include "ui/LanguageSwitch.h"

#include <string_view>

#include "base/ProfileFile.h"

namespace quorvel {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool IsGeneral(std::string_view name) {
  constexpr std::string_view kGeneral = "general";
  if (name.size() != kGeneral.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kGeneral[i]) return false;
  }
  return true;
}

// Cuts the next logical line out of `data` from `pos`: leading blanks and
// empty lines skipped, ended by a line break or a ";" outside quotes (a
// backslash takes the next character with it, so an escaped line break
// continues the line). Comment lines are skipped. `eq` is the offset of the
// first "=" outside quotes within the line, or npos.
bool NextLine(std::string_view data, size_t& pos, std::string_view& line, size_t& eq) {
  for (;;) {
    while (pos < data.size() && IsSpace(data[pos])) ++pos;
    if (pos >= data.size()) return false;
    if (data[pos] != ';') break;
    while (pos < data.size() && data[pos] != '\n' && data[pos] != '\r') ++pos;
  }
  const size_t start = pos;
  bool inQuotes = false;
  eq = std::string_view::npos;
  size_t i = pos;
  while (i < data.size()) {
    const char c = data[i];
    if (((c == '\n' || c == '\r') || c == ';') && !inQuotes) break;
    if (c == '=' && !inQuotes && eq == std::string_view::npos) eq = i - start;
    if (c == '"') inQuotes = !inQuotes;
    if (c == '\\' && i + 1 < data.size()) {
      i += 2;
      // \r\n and \n\r after a backslash are one line break.
      if (i < data.size() && (data[i - 1] == '\n' || data[i - 1] == '\r') &&
          (data[i] == '\n' || data[i] == '\r') && data[i] != data[i - 1]) {
        ++i;
      }
      continue;
    }
    ++i;
  }
  pos = i;
  line = data.substr(start, i - start);
  return true;
}

// A value as Qt's INI format unescapes it: blanks before and after dropped
// (but kept inside quotes), quotes removed, backslash escapes resolved.
// Nothing for a comma-separated list, which is no plain text.
std::optional<Text> UnescapeValue(std::string_view s) {
  Text out;
  bool quoted = false;
  bool inQuotes = false;
  size_t chopLimit = 0;
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  };
  auto isHex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  auto hexValue = [](char c) {
    return c <= '9' ? c - '0' : (c >= 'a' ? c - 'a' + 10 : c - 'A' + 10);
  };

  skipBlanks();
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\\') {
      if (++i >= s.size()) break;
      const char e = s[i++];
      switch (e) {
        case 'a': out += u'\a'; break;
        case 'b': out += u'\b'; break;
        case 'f': out += u'\f'; break;
        case 'n': out += u'\n'; break;
        case 'r': out += u'\r'; break;
        case 't': out += u'\t'; break;
        case 'v': out += u'\v'; break;
        case '"': out += u'"'; break;
        case '?': out += u'?'; break;
        case '\'': out += u'\''; break;
        case '\\': out += u'\\'; break;
        case 'x':
          if (i < s.size() && isHex(s[i])) {
            char16_t v = 0;
            while (i < s.size() && isHex(s[i])) v = static_cast<char16_t>((v << 4) + hexValue(s[i++]));
            out += v;
          }
          break;
        case '\n':
        case '\r':
          // Line continuation; \r\n and \n\r count as one break.
          if (i < s.size() && (s[i] == '\n' || s[i] == '\r') && s[i] != e) ++i;
          break;
        default:
          if (e >= '0' && e <= '7') {
            char16_t v = static_cast<char16_t>(e - '0');
            while (i < s.size() && s[i] >= '0' && s[i] <= '7') {
              v = static_cast<char16_t>((v << 3) + (s[i++] - '0'));
            }
            out += v;
          }
          // Any other escaped character is dropped.
          break;
      }
      chopLimit = out.size();
    } else if (c == '"') {
      ++i;
      quoted = true;
      inQuotes = !inQuotes;
      if (!inQuotes) {
        skipBlanks();
        chopLimit = out.size();
      }
    } else if (c == ',' && !inQuotes) {
      return std::nullopt;
    } else {
      size_t j = i + 1;
      while (j < s.size() && s[j] != '\\' && s[j] != '"' && (inQuotes || s[j] != ',')) ++j;
      out += FromUtf8(s.substr(i, j - i));
      i = j;
    }
  }
  if (!quoted) {
    while (out.size() > chopLimit && (out.back() == u' ' || out.back() == u'\t')) out.pop_back();
  }
  // "@@" stands for a text that starts with "@".
  if (out.starts_with(u"@@")) out.erase(0, 1);
  return out;
}

}  // namespace

std::optional<Text> ReadLanguageSwitch(const std::string& confPath) {
  const std::optional<std::string> bytes = ReadRegularFile(confPath);
  if (!bytes) return std::nullopt;
  std::string_view data = *bytes;
  if (data.starts_with("\xEF\xBB\xBF")) data.remove_prefix(3);

  std::optional<Text> value;
  bool inGeneral = true;  // keys before the first section are top-level too
  size_t pos = 0;
  std::string_view line;
  size_t eq = 0;
  while (NextLine(data, pos, line, eq)) {
    if (line.front() == '[') {
      const size_t close = line.find(']');
      inGeneral = IsGeneral(Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1
                                                                                : close - 1)));
      continue;
    }
    if (!inGeneral || eq == std::string_view::npos) continue;
    if (Trim(line.substr(0, eq)) != "Language") continue;
    value = UnescapeValue(line.substr(eq + 1));
  }

  if (value && value->size() > kMaxLanguageSwitchUnits) return std::nullopt;
  if (value) {
    const size_t nul = value->find(u'\0');
    if (nul != Text::npos) value->resize(nul);
  }
  return value;
}

bool SelectsLanguageFile(const std::optional<Text>& language) {
  return language.has_value() && *language == u"Japanese";
}

std::string LanguageFilePath(const std::string& programPath) {
  const size_t slash = programPath.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : programPath.substr(0, slash + 1);
  return dir + "JapZemb.ini";
}

}  // namespace quorvel
