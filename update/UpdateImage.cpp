#include "update/UpdateImage.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "link/Protocol.h"
#include "update/LockedFile.h"
#include "update/UpdateMessages.h"

namespace quorvel {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kEndOfData = 0x1A;

// Read block of the buffered file reading.
constexpr size_t kReadBlock = 4096;

// Digit value of each character below 0x80; -1 for everything else.
constexpr std::array<int8_t, 128> kDigitValue = [] {
  std::array<int8_t, 128> table{};
  for (auto& v : table) v = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
  return table;
}();

// An 8-bit file character widened the way a signed char widens: bytes from
// 0x80 up become 0xFF80..0xFFFF and so never count as digits.
constexpr char16_t Widen(uint8_t ch) {
  return static_cast<char16_t>(static_cast<int16_t>(static_cast<int8_t>(ch)));
}

}  // namespace

bool DecodeHexPair(const char16_t chars[2], uint8_t& byte) {
  byte = 0;
  for (int i = 0; i < 2; ++i) {
    const char16_t c = chars[i];
    const int value = c < kDigitValue.size() ? kDigitValue[c] : -1;
    if (value < 0) return false;
    byte = static_cast<uint8_t>(byte * 16 + value);
  }
  return true;
}

bool IsWellFormedRecordChain(const UpdateImage& image) {
  if (image.count > kImageCapacity) return false;
  uint32_t pos = 0;
  while (pos < image.count) {
    if (image.count - pos < 2) return false;
    if (image.bytes[pos] != 0 || image.bytes[pos + 1] > 253) return false;
    pos += image.bytes[pos + 1] + 2u;
  }
  return pos == image.count;
}

Text ImageLoadMessage(ImageLoadResult result) { return UpdateMessage(result); }

Text UpdateFileExtension(int32_t model) { return model == protocol::kModel1 ? u".kyc" : u".pkc"; }

bool IsOtherModelsFile(const Text& typed, int32_t model) {
  const Text other =
      UpdateFileExtension(model == protocol::kModel1 ? protocol::kModel2 : protocol::kModel1);
  // Windows opens "fw.kyc." and "fw.kyc " as "fw.kyc", and "fw.kyc::$DATA"
  // as its data: the name is judged as the file system will take it.
  Text path = typed;
  for (bool trimmed = true; trimmed;) {
    trimmed = false;
    while (!path.empty() && (path.back() == u'.' || path.back() == u' ')) {
      path.pop_back();
      trimmed = true;
    }
    constexpr std::u16string_view kDataStream = u"::$DATA";
    if (path.size() >= kDataStream.size()) {
      Text tail = path.substr(path.size() - kDataStream.size());
      for (char16_t& c : tail) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      }
      if (tail == kDataStream) {
        path.resize(path.size() - kDataStream.size());
        trimmed = true;
      }
    }
  }
  if (path.size() < other.size()) return false;
  for (size_t i = 0; i < other.size(); ++i) {
    char16_t c = path[path.size() - other.size() + i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != other[i]) return false;
  }
  return true;
}

UpdateTextDecoder::UpdateTextDecoder(UpdateImage& image) : m_image(image) { m_image.count = 0; }

bool UpdateTextDecoder::Feed(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size && !m_ended && !m_refused; ++i) {
    const uint8_t ch = data[i];
    // Text-mode reading: CR LF is one LF; a lone CR stays a CR.
    if (m_pendingCr) {
      m_pendingCr = false;
      if (ch == kLf) {
        TakeChar(kLf);
        continue;
      }
      TakeChar(kCr);
      if (m_refused) break;
    }
    if (ch == kEndOfData) {
      m_ended = true;
    } else if (ch == kCr) {
      m_pendingCr = true;
    } else {
      TakeChar(ch);
    }
  }
  return !m_ended && !m_refused;
}

void UpdateTextDecoder::TakeChar(uint8_t ch) {
  if (!m_haveFirst) {
    m_first = ch;
    m_haveFirst = true;
    return;
  }
  m_haveFirst = false;
  const char16_t pair[2] = {Widen(m_first), Widen(ch)};
  uint8_t byte = 0;
  if (!DecodeHexPair(pair, byte) || m_image.count >= kImageCapacity) {
    m_refused = true;
    return;
  }
  m_image.bytes[m_image.count++] = byte;
}

ImageLoadResult UpdateTextDecoder::Finish() {
  // A CR at the very end of the file (or right before 0x1A) reads as itself.
  if (m_pendingCr && !m_refused) {
    m_pendingCr = false;
    TakeChar(kCr);
  }
  // A single character left over at the end is ignored.
  m_haveFirst = false;
  if (m_refused) {
    m_image.count = 0;
    return ImageLoadResult::NotValid;
  }
  return m_image.count == 0 ? ImageLoadResult::Empty : ImageLoadResult::Loaded;
}

ImageLoadResult DecodeUpdateText(std::string_view fileBytes, UpdateImage& image) {
  UpdateTextDecoder decoder(image);
  decoder.Feed(reinterpret_cast<const uint8_t*>(fileBytes.data()), fileBytes.size());
  return decoder.Finish();
}

UpdateRecord RecordWalk::Iterator::operator*() const {
  const uint8_t* record = m_image->bytes + m_offset;
  const uint32_t left = m_image->count - m_offset;
  const uint32_t size = left < 2 ? left : 256u * record[0] + record[1] + 2u;
  return {m_offset, size, record};
}

RecordWalk::Iterator& RecordWalk::Iterator::operator++() {
  const uint32_t left = m_image->count - m_offset;
  m_offset += std::min((**this).size, left);
  return *this;
}

RecordWalk::Iterator RecordWalk::begin() const { return Iterator(m_image, 0); }

RecordWalk::Iterator RecordWalk::end() const {
  return Iterator(m_image, std::min(m_image.count, kImageCapacity));
}

ImageLoadResult LoadUpdateImage(const Text& path, UpdateImage& image) {
  image.count = 0;
  LockedFile file;
  if (!file.Open(path)) return ImageLoadResult::OpenFailed;
  return LoadUpdateImage(file, image);
}

ImageLoadResult LoadUpdateImage(LockedFile& file, UpdateImage& image) {
  UpdateTextDecoder decoder(image);
  uint8_t block[kReadBlock];
  for (;;) {
    const ptrdiff_t got = file.Read(block, sizeof block);
    if (got < 0) {
      // Unreadable (a directory, an I/O error): never send a part of a file.
      decoder.Finish();
      image.count = 0;
      return ImageLoadResult::OpenFailed;
    }
    if (got == 0) break;
    if (!decoder.Feed(block, static_cast<size_t>(got))) break;
  }

  const ImageLoadResult result = decoder.Finish();
  if (result != ImageLoadResult::Loaded) return result;
  // The jobs walk the image record by record; refuse a chain they could not
  // send as stored before anything reaches the device.
  if (!IsWellFormedRecordChain(image)) {
    image.count = 0;
    return ImageLoadResult::NotValid;
  }
  return ImageLoadResult::Loaded;
}

}  // namespace quorvel
