// The progress bars' lines, fitted to the terminal's width: a line that
// wrapped would throw the redraw's cursor arithmetic off, so a line gives up
// detail, then the middle of its port name, before it gets longer than the
// window; the result text stays whole for as long as the width allows.

#include <algorithm>
#include <cstdio>

#include "base/WideText.h"
#include "cli/Flash.h"

namespace quorvel::cli {

namespace {

constexpr char kEllipsis[] = "\u2026";
constexpr size_t kMinPortColumns = 12;  // "/dev/…port0": enough to tell ports apart
constexpr size_t kBarWidths[] = {30, 20, 10};

// One character as the terminal shows it: its bytes and its columns. East
// Asian wide characters take two (close enough for the program's own texts);
// a control character is shown as '?', and a byte of a name that is not
// UTF-8 as the one replacement character a terminal shows for it.
struct Glyph {
  std::string bytes;
  size_t columns;
};

std::vector<Glyph> Glyphs(const std::string& text) {
  const Text decoded = FromNameBytes(text);
  std::vector<Glyph> glyphs;
  glyphs.reserve(decoded.size());
  for (size_t i = 0; i < decoded.size(); ++i) {
    const char16_t c = decoded[i];
    if (c < 0x20 || c == 0x7F) {
      glyphs.push_back({"?", 1});
      continue;
    }
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < decoded.size();
    const bool wide = c >= 0x1100 && (c <= 0x115F || (c >= 0x2E80 && c <= 0xA4CF) ||
                                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                                      (c >= 0xFF00 && c <= 0xFF60));
    glyphs.push_back({ToUtf8(std::u16string_view(decoded).substr(i, pair ? 2 : 1)), wide ? 2u : 1u});
    if (pair) ++i;
  }
  return glyphs;
}

std::string Join(std::vector<Glyph>::const_iterator from, std::vector<Glyph>::const_iterator to) {
  std::string out;
  for (auto it = from; it != to; ++it) out += it->bytes;
  return out;
}

// The leading glyphs that fit in `columns`.
std::string Head(const std::vector<Glyph>& glyphs, size_t columns, size_t* used) {
  auto it = glyphs.begin();
  size_t taken = 0;
  for (; it != glyphs.end() && taken + it->columns <= columns; ++it) taken += it->columns;
  if (used != nullptr) *used = taken;
  return Join(glyphs.begin(), it);
}

std::string Pad(std::string text, size_t columns, size_t width) {
  if (columns < width) text.append(width - columns, ' ');
  return text;
}

}  // namespace

size_t TextColumns(const std::string& text) {
  size_t columns = 0;
  for (const Glyph& g : Glyphs(text)) columns += g.columns;
  return columns;
}

std::string ShortenMiddle(const std::string& text, size_t columns) {
  const std::vector<Glyph> glyphs = Glyphs(text);
  size_t total = 0;
  for (const Glyph& g : glyphs) total += g.columns;
  if (total <= columns) return Join(glyphs.begin(), glyphs.end());
  if (columns == 0) return {};
  // The end tells ports apart ("…-if00-port0", "ttyUSB1"): it keeps two
  // thirds of what is left beside the ellipsis.
  const size_t room = columns - 1;
  size_t headUsed = 0;
  std::string head = Head(glyphs, room / 3, &headUsed);
  auto tail = glyphs.end();
  size_t tailUsed = 0;
  while (tail != glyphs.begin() && tailUsed + (tail - 1)->columns <= room - headUsed) {
    --tail;
    tailUsed += tail->columns;
  }
  return head + kEllipsis + Join(tail, glyphs.end());
}

std::string FitBarLine(const BarView& view, size_t tagWidth, size_t columns) {
  // Everything after the port, in the order the line gives it up.
  std::vector<std::string> bodies;
  std::string ending;  // the result and the version, kept as long as anything
  if (view.ended) {
    ending = view.message;
    if (!view.version.empty()) ending += "  (version " + view.version + ")";
  }
  const auto join = [](std::string a, const std::string& b) { return a.empty() ? b : b.empty() ? a : a + "  " + b; };
  if (view.progress >= 0) {
    char pct[16];
    std::snprintf(pct, sizeof pct, "%3d%%", std::clamp(view.progress, 0, 100));
    for (const size_t width : kBarWidths) {
      const size_t filled = static_cast<size_t>(std::clamp(view.progress, 0, 100)) * width / 100;
      const std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] " + pct;
      if (width == kBarWidths[0] && !view.rate.empty()) bodies.push_back(join(join(bar, view.rate), ending));
      bodies.push_back(join(bar, ending));
    }
    bodies.push_back(join(pct, ending));
    if (view.ended) bodies.push_back(ending);
  } else {
    bodies.push_back(view.ended ? ending : view.message);
  }
  if (view.ended) bodies.push_back(view.message);

  // The port's column: as wide as the widest port, but no more than two
  // fifths of the line, shortened in the middle beyond that.
  const size_t portColumns = TextColumns(view.port);
  size_t tag = std::min(std::max(tagWidth, portColumns), std::max(kMinPortColumns, columns * 2 / 5));
  for (const std::string& body : bodies) {
    if (tag + 2 + TextColumns(body) <= columns) {
      const std::string port = ShortenMiddle(view.port, tag);
      return Pad(port, TextColumns(port), tag) + "  " + body;
    }
  }
  // A narrow window: the port gives up more, down to a few columns, so that
  // the shortest body (the result alone) still fits; else it is cut.
  const std::string& last = bodies.back();
  const size_t lastColumns = TextColumns(last);
  tag = lastColumns + 2 < columns ? std::min(tag, columns - 2 - lastColumns) : 0;
  tag = std::max<size_t>(tag, std::min<size_t>(columns, 3));
  const std::string port = ShortenMiddle(view.port, tag);
  const std::string line = Pad(port, TextColumns(port), tag) + "  " + last;
  return Head(Glyphs(line), columns, nullptr);
}

}  // namespace quorvel::cli
