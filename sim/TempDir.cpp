#include "sim/TempDir.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace quorvel::sim {

TempDir::TempDir() {
  // A fresh name, created by us alone: create_directory reports false for a
  // directory that was already there.
  static std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("quorvel-" + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace, ec);
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary directory could be created");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::filesystem::path TempDir::WriteFile(const std::string& name, const std::string& bytes) const {
  auto path = m_path / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace quorvel::sim
