#pragma once
// A temporary directory removed with everything in it when the test ends.

#include <filesystem>
#include <string>

namespace quorvel::sim {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // Writes `bytes` to the file `name` inside the directory; returns its path.
  std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path m_path;
};

}  // namespace quorvel::sim
