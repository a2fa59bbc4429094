#pragma once
// The filter of a file-open dialog as the dialog's code writes it,
// "Text (*.ext)|*.ext|All Files (*.*)|*.*||", read once for every windowing
// layer.

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/WideText.h"

namespace quorvel {

// One choice of the dialog: the text it shows and the name patterns it
// lets through.
struct FileFilter {
  Text description;
  std::vector<Text> patterns;

  bool operator==(const FileFilter&) const = default;
};

// The choices of `filter`: one per pair of bar-separated parts, the text
// first, then the patterns separated by ";". Blanks around each are
// dropped; an empty text (the closing "||") ends the list, as does a text
// without its pattern part; a pair without patterns lets every file ("*")
// through.
std::vector<FileFilter> ParseFileFilter(std::u16string_view filter);

// The filter of the file dialog for an update file of `model`: its own
// extension first, then every file.
std::u16string_view UpdateFileFilter(int32_t model);

}  // namespace quorvel
