#include "update/UpdateImage.h"

namespace quorvel {
ImageLoadResult LoadUpdateImage(const Text&, UpdateImage& image) {
  image.count = 0;
  return ImageLoadResult::OpenFailed;
}
bool DecodeHexPair(const char16_t[2], uint8_t& byte) { byte = 0; return false; }
bool IsWellFormedRecordChain(const UpdateImage&) { return false; }
Text ImageLoadMessage(ImageLoadResult) { return u"Fail to open the file!"; }
}  // namespace quorvel
