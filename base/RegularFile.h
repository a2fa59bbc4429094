#pragma once
// Short text files read whole (a language file, the language switch),
// without ever blocking on what is not a regular file (base/posix,
// base/win32).

#include <cstddef>
#include <optional>
#include <string>

namespace quorvel {

// The most that is read of a language file or the language switch. Their
// texts are short; whatever lies past this is taken as absent, so that a
// huge file cannot take the program's memory.
constexpr size_t kMaxTextFileBytes = 64 * 1024;

// The content of the regular file at `path`, at most its first `maxBytes`;
// nothing if it is missing, not a regular file (a FIFO or a device would
// block or never end) or cannot be read.
std::optional<std::string> ReadRegularFile(const std::string& path,
                                           size_t maxBytes = kMaxTextFileBytes);

}  // namespace quorvel
