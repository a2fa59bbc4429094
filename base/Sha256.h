#pragma once
// SHA-256 of a byte sequence, for records that name exactly which file was
// sent (the station's log).
//
//   Sha256 hash;
//   hash.Add(data, size);
//   std::string hex = hash.Hex();   // 64 lower-case hex digits

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

class Sha256 {
 public:
  Sha256();
  void Add(const uint8_t* data, size_t size);
  // The digest of everything added; adds nothing more afterwards.
  std::array<uint8_t, 32> Digest();
  std::string Hex();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> m_state;
  std::array<uint8_t, 64> m_buffer{};
  size_t m_buffered = 0;
  uint64_t m_bytes = 0;
};

// The hex digest of the bytes of the file at `path`; nothing when it cannot
// be read to its end.
std::optional<std::string> FileSha256Hex(const std::string& path);

}  // namespace quorvel
