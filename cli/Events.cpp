// Events of a port's job: the line format between a job's process and the
// program, and the --json form.

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "base/WideText.h"
#include "cli/Flash.h"

namespace quorvel::cli {

namespace {

// Fields are separated by the unit separator; texts never hold it, nor a
// line feed.
constexpr char kSep = '\x1f';

std::string Clean(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == kSep || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

std::string JsonString(const std::string& text) {
  // Names are bytes and need not be UTF-8; a byte that is not part of valid
  // UTF-8 is written as the character of its Latin-1 reading (0xE9 as
  // \u00e9), so that every line stays valid UTF-8.
  const Text decoded = FromNameBytes(text);
  std::string out = "\"";
  for (size_t i = 0; i < decoded.size(); ++i) {
    const char16_t c = decoded[i];
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < decoded.size();
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (!pair && c >= 0xDC80 && c <= 0xDCFF)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c < 0x20 ? c : c - 0xDC00));
      out += buf;
    } else {
      out += ToUtf8(std::u16string_view(decoded).substr(i, pair ? 2 : 1));
      if (pair) ++i;
    }
  }
  return out + "\"";
}

namespace {

std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Success: return "success";
    case Outcome::Failed: return "failed";
    case Outcome::Usage: return "usage";
    case Outcome::NoDevice: return "no-device";
    case Outcome::FileRefused: return "file-refused";
    case Outcome::Handshake: return "handshake";
    case Outcome::Transfer: return "transfer";
    case Outcome::Crc: return "crc";
    case Outcome::Repeats: return "repeats";
    case Outcome::NoVerdict: return "no-verdict";
    case Outcome::Interrupted: return "interrupted";
  }
  return "failed";
}

std::string EncodeEvent(const Event& e) {
  std::string line = Clean(e.state);
  line += kSep + std::to_string(e.progress);
  line += kSep + std::to_string(e.bytes);
  line += kSep + std::to_string(e.total);
  line += kSep + Clean(e.version);
  line += kSep + Clean(e.result);
  line += kSep + std::to_string(e.status);
  line += kSep + Clean(e.message);
  return line + '\n';
}

bool DecodeEvent(const std::string& line, Event& e) {
  std::vector<std::string> fields(1);
  for (const char c : line) {
    if (c == kSep) fields.emplace_back();
    else if (c != '\n') fields.back() += c;
  }
  if (fields.size() != 8) return false;
  e = Event{};
  e.state = fields[0];
  e.progress = static_cast<int>(std::strtol(fields[1].c_str(), nullptr, 10));
  e.bytes = std::strtoull(fields[2].c_str(), nullptr, 10);
  e.total = std::strtoull(fields[3].c_str(), nullptr, 10);
  e.version = fields[4];
  e.result = fields[5];
  e.status = static_cast<int>(std::strtol(fields[6].c_str(), nullptr, 10));
  e.message = fields[7];
  return true;
}

std::string JsonLine(const std::string& port, const Event& e, int device) {
  std::string line = "{\"port\":" + JsonOrNull(port);
  if (device >= 0) line += ",\"device\":" + std::to_string(device);
  line += ",\"state\":" + JsonOrNull(e.state);
  line += ",\"version\":" + JsonOrNull(e.version);
  line += ",\"progress\":" + (e.progress < 0 ? std::string("null") : std::to_string(e.progress));
  line += ",\"result\":" + JsonOrNull(e.result);
  if (e.status >= 0) line += ",\"status\":" + std::to_string(e.status);
  line += ",\"message\":" + JsonOrNull(e.message);
  return line + "}";
}

std::string ResultLine(const std::string& port, Outcome outcome, const std::string& message) {
  Event e;
  e.state = "done";
  e.result = OutcomeName(outcome);
  e.status = static_cast<int>(outcome);
  e.message = message;
  return JsonLine(port, e);
}

}  // namespace quorvel::cli
