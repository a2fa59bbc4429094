#pragma once
// Building update files for tests: records as the device receives them, and
// the hex text a file holds for them.

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::test {

using Bytes = std::vector<uint8_t>;

// A record of `bodyLength` bytes of `fill`, header included.
inline Bytes MakeRecord(uint8_t bodyLength, uint8_t fill) {
  Bytes r{0x00, bodyLength};
  r.resize(2u + bodyLength, fill);
  return r;
}

inline Bytes JoinRecords(const std::vector<Bytes>& records) {
  Bytes all;
  for (const Bytes& r : records) all.insert(all.end(), r.begin(), r.end());
  return all;
}

// Upper-case hex pairs, as an update file holds its bytes.
inline std::string HexText(const Bytes& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

}  // namespace quorvel::test
