#include "ui/FileFilter.h"

#include <utility>

#include "link/Protocol.h"

namespace quorvel {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string_view Trimmed(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The parts of `text` between the separators `sep`.
std::vector<std::u16string_view> Split(std::u16string_view text, char16_t sep) {
  std::vector<std::u16string_view> parts;
  for (;;) {
    const size_t at = text.find(sep);
    parts.push_back(text.substr(0, at));
    if (at == std::u16string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::vector<FileFilter> ParseFileFilter(std::u16string_view filter) {
  const std::vector<std::u16string_view> parts = Split(filter, u'|');
  std::vector<FileFilter> filters;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    const std::u16string_view description = Trimmed(parts[i]);
    if (description.empty()) break;
    FileFilter choice{Text(description), {}};
    for (const std::u16string_view pattern : Split(parts[i + 1], u';')) {
      if (!Trimmed(pattern).empty()) choice.patterns.emplace_back(Trimmed(pattern));
    }
    if (choice.patterns.empty()) choice.patterns.emplace_back(u"*");
    filters.push_back(std::move(choice));
  }
  return filters;
}

std::u16string_view UpdateFileFilter(int32_t model) {
  return model == protocol::kModel1 ? u"Config Files (*.kyc)|*.kyc|All Files (*.*)|*.*||"
                                    : u"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||";
}

}  // namespace quorvel
