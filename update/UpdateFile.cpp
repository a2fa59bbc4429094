#include "update/UpdateFile.h"

#include <algorithm>

#include "serial/PortLayer.h"
#include "update/UpdateMessages.h"

namespace quorvel {

namespace {

FileAcceptance FromLoad(ImageLoadResult result) {
  switch (result) {
    case ImageLoadResult::Loaded: return FileAcceptance::Accepted;
    case ImageLoadResult::OpenFailed: return FileAcceptance::OpenFailed;
    case ImageLoadResult::NotValid: return FileAcceptance::NotValid;
    case ImageLoadResult::Empty: return FileAcceptance::Empty;
  }
  return FileAcceptance::OpenFailed;
}

}  // namespace

bool UpdateFile::Unchanged() const {
  FileStamp now;
  return held.Stamp(now) && now.SameContents(stamp);
}

Text UpdateFile::Message() const { return UpdateMessage(result, model); }

UpdateFile AcceptUpdateFile(const Text& path, int32_t model, const FileWait& wait) {
  UpdateFile file;
  file.model = model;
  // "All Files" lets any name through; a file named for the other model is
  // refused before it is read, let alone sent.
  if (IsOtherModelsFile(path, model)) {
    file.result = FileAcceptance::OtherModel;
    return file;
  }
  if (!file.held.Open(path)) return file;  // OpenFailed
  // The image belongs to this job alone; it is too big for the stack.
  file.image = std::make_unique<UpdateImage>();
  FileStamp before;
  const bool stamped = file.held.Stamp(before);
  const ImageLoadResult loaded = LoadUpdateImage(file.held, *file.image);
  file.stamp = before;
  if (!stamped || !file.Unchanged()) {
    file.result = FileAcceptance::Changing;
  } else {
    // A file changed moments ago may be a copy still under way, cut where
    // the writer has got to: look again once it is old enough.
    if (before.modifiedAgoMs < static_cast<int64_t>(kFileSettleMs)) {
      const auto waitMs = static_cast<uint32_t>(
          kFileSettleMs - std::clamp<int64_t>(before.modifiedAgoMs, 0, kFileSettleMs));
      if (wait) wait(waitMs);
      else SleepMs(waitMs);
    }
    file.result = file.Unchanged() ? FromLoad(loaded) : FileAcceptance::Changing;
  }
  if (!file.Accepted()) {
    file.image->count = 0;
    file.held.Close();
  }
  return file;
}

}  // namespace quorvel
