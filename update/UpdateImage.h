#pragma once
// Update files: text of upper-case hexadecimal digit pairs that decode into a
// chain of length-prefixed records (two-byte big-endian length L, then L
// bytes), sent to the device one record at a time exactly as stored.

#include <cstdint>

#include "serial/WideText.h"

namespace quorvel {

constexpr uint32_t kImageCapacity = 131072;

struct UpdateImage {
  uint8_t bytes[kImageCapacity];
  uint32_t count = 0;  // decoded bytes; 0 after a failed or empty load
};

enum class ImageLoadResult { Loaded, OpenFailed, NotValid, Empty };

// Decodes the file at `path` into `image`. Text-mode reading: CR LF reads as
// LF and a byte 0x1A ends the data. Refuses (NotValid) a pair that is not two
// upper-case hex digits, a file that decodes past the capacity, and an image
// that is not a well-formed record chain.
ImageLoadResult LoadUpdateImage(const Text& path, UpdateImage& image);

// Two characters, first the high four bits, "0"-"9" and "A"-"F" only.
bool DecodeHexPair(const char16_t chars[2], uint8_t& byte);

// True when the image is a chain of records each of 2 to 255 bytes (high
// length byte 0, low at most 253) that ends exactly at image.count.
bool IsWellFormedRecordChain(const UpdateImage& image);

// The message a failed load shows.
Text ImageLoadMessage(ImageLoadResult result);

}  // namespace quorvel
