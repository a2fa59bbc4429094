#include "sim/SampleFiles.h"

#include <filesystem>

namespace quorvel::sim {

std::string FindSamples(const std::string& programPath) {
  const std::filesystem::path dir = std::filesystem::path(programPath).parent_path();
  for (const char* relative : {"samples", QUORVEL_SAMPLES_FROM_PROGRAM}) {
    const std::filesystem::path candidate = (dir / relative).lexically_normal();
    std::error_code ec;
    if (std::filesystem::is_directory(candidate, ec)) return candidate.string();
  }
  return {};
}

}  // namespace quorvel::sim
