// Update files: the text decoder, the record-chain check and the file load.
//
// The input is the file's raw contents. An input of at most 16 bytes that
// starts with 0xFE is a recipe for a file near the image capacity instead:
// the next two bytes give how many "00" pairs short of (or past) the
// capacity a run of them stops, and the rest is appended as it is. The
// decoder takes such a file from a copy of a decoder that has taken the run
// already (made once per run length), so that only the rest costs time; one
// recipe in four is loaded from a file as well.
//
// Checked for every input:
// - the decoder agrees with a plain model of the format (text-mode reading,
//   upper-case hex pairs, the capacity) on the result and on every byte;
// - decoding again, or fed in other blocks, gives the same image;
// - LoadUpdateImage on the same bytes gives the decoder's image, and Loaded
//   only for a non-empty, well-formed record chain;
// - a loaded image written back as upper-case hex decodes to itself.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "update/UpdateImage.h"

using namespace quorvel;

namespace {

constexpr uint8_t kNearCapacityRecipe = 0xFE;
// What happens at the capacity needs only a few characters after the run;
// longer inputs are read as they are, which keeps the slow recipes few.
constexpr size_t kMaxRecipeSize = 16;

bool IsUpperHexDigit(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

uint8_t DigitValue(uint8_t c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

struct ModelResult {
  ImageLoadResult result;
  std::vector<uint8_t> bytes;
};

// The format, written out the plain way: CR LF reads as LF, 0x1A ends the
// data, characters pair up and each pair must be two upper-case hex digits,
// a character left over at the end is ignored, more than the capacity is
// refused. `zeroPairs` pairs "00" stand before `file`.
ModelResult Model(size_t zeroPairs, std::string_view file) {
  if (zeroPairs > kImageCapacity) return ModelResult{ImageLoadResult::NotValid, {}};
  std::vector<uint8_t> chars;
  for (size_t i = 0; i < file.size(); ++i) {
    const auto c = static_cast<uint8_t>(file[i]);
    if (c == 0x1A) break;
    if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n') {
      chars.push_back('\n');
      ++i;
    } else {
      chars.push_back(c);
    }
  }
  ModelResult model{ImageLoadResult::Empty, std::vector<uint8_t>(zeroPairs, 0)};
  for (size_t i = 0; i + 1 < chars.size(); i += 2) {
    if (!IsUpperHexDigit(chars[i]) || !IsUpperHexDigit(chars[i + 1]) ||
        model.bytes.size() == kImageCapacity) {
      return ModelResult{ImageLoadResult::NotValid, {}};
    }
    model.bytes.push_back(
        static_cast<uint8_t>(DigitValue(chars[i]) * 16 + DigitValue(chars[i + 1])));
  }
  if (!model.bytes.empty()) model.result = ImageLoadResult::Loaded;
  return model;
}

// `pos` is where a record starts.
bool ModelChain(const std::vector<uint8_t>& bytes, size_t pos) {
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 2 || bytes[pos] != 0 || bytes[pos + 1] > 253) return false;
    pos += 2 + bytes[pos + 1];
  }
  return pos == bytes.size();
}

bool SameImage(const UpdateImage& a, const UpdateImage& b) {
  return a.count == b.count && std::memcmp(a.bytes, b.bytes, a.count) == 0;
}

bool SameAsModel(const UpdateImage& image, const std::vector<uint8_t>& bytes) {
  return image.count == bytes.size() &&
         (bytes.empty() || std::memcmp(image.bytes, bytes.data(), bytes.size()) == 0);
}

std::string UpperHex(const UpdateImage& image) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(image.count * 2 + 2);
  for (uint32_t i = 0; i < image.count; ++i) {
    text += kDigits[image.bytes[i] >> 4];
    text += kDigits[image.bytes[i] & 0xF];
  }
  return text;
}

// The images are 128 KiB each: kept out of the stack.
UpdateImage g_first;
UpdateImage g_second;
UpdateImage g_blocks;
UpdateImage g_loaded;

// A decoder that has taken a run of "00" pairs. A copy goes on from the
// same state into the same image; the image's count is put back after each
// use (what the rest writes lies past the run and is never read again
// before it is overwritten).
struct RunDecoder {
  explicit RunDecoder(size_t pairs) : decoder(image) {
    const std::string run(4096, '0');
    for (size_t left = pairs * 2; left > 0;) {
      const size_t n = std::min(left, run.size());
      decoder.Feed(reinterpret_cast<const uint8_t*>(run.data()), n);
      left -= n;
    }
    countAfterRun = image.count;
  }

  UpdateImage image;
  UpdateTextDecoder decoder;
  uint32_t countAfterRun = 0;
};

RunDecoder& RunDecoderFor(size_t pairs) {
  static std::map<size_t, std::unique_ptr<RunDecoder>> decoders;
  std::unique_ptr<RunDecoder>& decoder = decoders[pairs];
  if (!decoder) decoder = std::make_unique<RunDecoder>(pairs);
  return *decoder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::MemoryFile file;

  std::string recipe;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string_view tail = bytes;
  size_t zeroPairs = 0;
  if (size >= 3 && size <= kMaxRecipeSize && data[0] == kNearCapacityRecipe) {
    const int shift = static_cast<int>(data[1] % 16) - 8;  // pairs past the capacity
    zeroPairs = kImageCapacity + shift - (data[2] % 4);
    recipe.reserve(zeroPairs * 2 + size);
    recipe.assign(zeroPairs * 2, '0');
    tail = bytes.substr(3);
    recipe.append(tail);
    bytes = recipe;
  }

  // Single hex pairs, including 16-bit characters.
  if (size >= 4) {
    const char16_t pair[2] = {static_cast<char16_t>(data[0] | data[1] << 8),
                              static_cast<char16_t>(data[2] | data[3] << 8)};
    uint8_t byte = 0xA5;
    const bool digits = pair[0] < 0x80 && pair[1] < 0x80 &&
                        IsUpperHexDigit(static_cast<uint8_t>(pair[0])) &&
                        IsUpperHexDigit(static_cast<uint8_t>(pair[1]));
    FUZZ_CHECK(DecodeHexPair(pair, byte) == digits);
    if (digits) {
      FUZZ_CHECK(byte == DigitValue(static_cast<uint8_t>(pair[0])) * 16 +
                             DigitValue(static_cast<uint8_t>(pair[1])));
    }
  }

  const ModelResult model = Model(zeroPairs, tail);
  const bool longFile = !recipe.empty();
  // A run of "00" pairs is a chain of empty records up to its last even
  // byte.
  const bool chain =
      ModelChain(model.bytes, model.bytes.size() >= zeroPairs ? zeroPairs - zeroPairs % 2 : 0);

  if (longFile) {
    RunDecoder& run = RunDecoderFor(zeroPairs);
    UpdateTextDecoder decoder = run.decoder;
    decoder.Feed(reinterpret_cast<const uint8_t*>(tail.data()), tail.size());
    const ImageLoadResult result = decoder.Finish();
    FUZZ_CHECK(run.image.count <= kImageCapacity);
    FUZZ_CHECK(result == model.result);
    FUZZ_CHECK(SameAsModel(run.image, model.bytes));
    FUZZ_CHECK(IsWellFormedRecordChain(run.image) == chain);
    run.image.count = run.countAfterRun;
  } else {
    const ImageLoadResult first = DecodeUpdateText(bytes, g_first);
    FUZZ_CHECK(g_first.count <= kImageCapacity);
    FUZZ_CHECK(first == model.result);
    FUZZ_CHECK(SameAsModel(g_first, model.bytes));
    FUZZ_CHECK((first == ImageLoadResult::Loaded) == (g_first.count > 0));
    FUZZ_CHECK(IsWellFormedRecordChain(g_first) == chain);
  }

  if (!longFile) {
    // Again, and in blocks of other sizes, as a file read gives them.
    FUZZ_CHECK(DecodeUpdateText(bytes, g_second) == model.result);
    FUZZ_CHECK(SameImage(g_first, g_second));

    UpdateTextDecoder decoder(g_blocks);
    size_t pos = 0;
    uint32_t step = static_cast<uint32_t>(size) * 2654435761u + 1;
    while (pos < bytes.size()) {
      step = step * 1103515245u + 12345u;
      const size_t n = std::min<size_t>(bytes.size() - pos, 1 + (step >> 16) % 7);
      if (!decoder.Feed(reinterpret_cast<const uint8_t*>(bytes.data() + pos), n)) break;
      pos += n;
    }
    FUZZ_CHECK(decoder.Finish() == model.result);
    FUZZ_CHECK(SameImage(g_first, g_blocks));

    // Written back as upper-case hex, with or without a line end after it
    // (a character left over at the end is ignored), it reads the same.
    if (model.result == ImageLoadResult::Loaded) {
      std::string text = UpperHex(g_first);
      if (size % 2 == 1) text += "\r\n";
      FUZZ_CHECK(DecodeUpdateText(text, g_second) == ImageLoadResult::Loaded);
      FUZZ_CHECK(SameImage(g_first, g_second));
    }
  }

  if (!longFile || (data[2] & 12) == 12) {
    // The load from a file, read in blocks of its own.
    const std::string& path = file.Write(bytes.data(), bytes.size());
    const ImageLoadResult loaded = LoadUpdateImage(FromUtf8(path), g_loaded);
    FUZZ_CHECK(g_loaded.count <= kImageCapacity);
    if (model.result == ImageLoadResult::Loaded) {
      FUZZ_CHECK(loaded == (chain ? ImageLoadResult::Loaded : ImageLoadResult::NotValid));
    } else {
      FUZZ_CHECK(loaded == model.result);
    }
    if (loaded == ImageLoadResult::Loaded) {
      FUZZ_CHECK(g_loaded.count > 0);
      FUZZ_CHECK(IsWellFormedRecordChain(g_loaded));
      FUZZ_CHECK(SameAsModel(g_loaded, model.bytes));
    } else {
      FUZZ_CHECK(g_loaded.count == 0);
    }
  }
  return 0;
}
