// Reading a short text file whole; anything but a regular file is refused.

#include <filesystem>
#include <fstream>

#include "base/RegularFile.h"

namespace quorvel {

std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes) {
  // Paths are UTF-8 on every platform.
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(maxBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(maxBytes));
  if (in.bad()) return std::nullopt;
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

}  // namespace quorvel
