#pragma once
// Update files: text of upper-case hexadecimal digit pairs that decode into a
// chain of length-prefixed records (two-byte big-endian length L, then L
// bytes), sent to the device one record at a time exactly as stored.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/WideText.h"

namespace quorvel {

constexpr uint32_t kImageCapacity = 131072;

class LockedFile;
struct UpdateImage;

// One record of an image: where it starts and its size, header included.
struct UpdateRecord {
  uint32_t offset;
  uint32_t size;
  const uint8_t* bytes;  // the record as stored, header first
};

// The records of an image in order, read from their length headers:
//
//   for (const UpdateRecord& r : image.Records()) Send(r.bytes, r.size);
//
// Meant for a well-formed chain (LoadUpdateImage checks it); on any other
// image the walk still ends at the image's count.
class RecordWalk {
 public:
  class Iterator {
   public:
    Iterator(const UpdateImage& image, uint32_t offset) : m_image(&image), m_offset(offset) {}
    UpdateRecord operator*() const;
    Iterator& operator++();
    bool operator==(const Iterator& other) const { return m_offset == other.m_offset; }

   private:
    const UpdateImage* m_image;
    uint32_t m_offset;
  };

  explicit RecordWalk(const UpdateImage& image) : m_image(image) {}
  Iterator begin() const;
  Iterator end() const;

 private:
  const UpdateImage& m_image;
};

struct UpdateImage {
  uint8_t bytes[kImageCapacity];
  uint32_t count = 0;  // decoded bytes; 0 after a failed or empty load

  RecordWalk Records() const { return RecordWalk(*this); }
};

enum class ImageLoadResult { Loaded, OpenFailed, NotValid, Empty };

// Decodes the file at `path` into `image`. Text-mode reading: CR LF reads as
// LF and a byte 0x1A ends the data. Refuses (NotValid) a pair that is not two
// upper-case hex digits, a file that decodes past the capacity, and an image
// that is not a well-formed record chain. Only a regular file is opened
// (OpenFailed for anything else), and it is held against writers while it
// is read: a file that another holder has locked exclusively cannot be
// opened.
ImageLoadResult LoadUpdateImage(const Text& path, UpdateImage& image);
// The same from a file already open, read from where it stands to its end;
// the file stays open. OpenFailed when it cannot be read.
ImageLoadResult LoadUpdateImage(LockedFile& file, UpdateImage& image);

// Two characters, first the high four bits, "0"-"9" and "A"-"F" only.
bool DecodeHexPair(const char16_t chars[2], uint8_t& byte);

// True when the image is a chain of records each of 2 to 255 bytes (high
// length byte 0, low at most 253) that ends exactly at image.count.
bool IsWellFormedRecordChain(const UpdateImage& image);

// The extension of a model's update files: ".kyc" for kModel1, ".pkc" for
// kModel2 (link/Protocol.h).
Text UpdateFileExtension(int32_t model);

// True when the file name in `path` ends in the other model's extension, in
// any case: a file made for the other model, which must not be sent. Other
// names are not judged.
bool IsOtherModelsFile(const Text& path, int32_t model);

// The message a failed load shows (the table of update/UpdateMessages.h).
Text ImageLoadMessage(ImageLoadResult result);

// The decoding step of LoadUpdateImage, fed with the file's raw bytes block
// by block as they are read. Applies the text-mode rules, pairs the
// characters and stores the bytes; never stores past the capacity.
class UpdateTextDecoder {
 public:
  // Empties `image`; the decoder writes into it until Finish().
  explicit UpdateTextDecoder(UpdateImage& image);

  // Takes the next raw bytes of the file. False once no more input is
  // wanted: the data ended at a 0x1A byte, or a pair was refused.
  bool Feed(const uint8_t* data, size_t size);
  // Ends the input: Loaded, NotValid (image emptied) or Empty. The record
  // chain is not looked at here.
  ImageLoadResult Finish();

 private:
  void TakeChar(uint8_t ch);

  UpdateImage& m_image;
  bool m_pendingCr = false;  // a CR whose follower has not been seen yet
  bool m_ended = false;      // 0x1A seen
  bool m_refused = false;    // bad pair or capacity exceeded
  bool m_haveFirst = false;  // first character of a pair is waiting
  uint8_t m_first = 0;
};

// Decodes the whole raw contents of an update file, as LoadUpdateImage does
// after opening it, without the record-chain check.
ImageLoadResult DecodeUpdateText(std::string_view fileBytes, UpdateImage& image);

}  // namespace quorvel
