#pragma once
// Accepting an update file for a job: the one way the window and the
// flasher take a file before anything is sent.
//
//   UpdateFile file = AcceptUpdateFile(path, protocol::kModel2);
//   if (!file.Accepted()) return show(file.Message());
//   RunUpdate(link, file, progress);   // update/RecordTransfer.h
//
// A file is refused when its name ends in the other model's extension, when
// it is no regular file or cannot be opened, when it does not decode into a
// well-formed record chain, and when it is still being written: one changed
// within the last kFileSettleMs when it was read is looked at again once it
// is that old, and must not have changed meanwhile. It is read through the
// handle that then holds it for the job, so what is sent is what was read.

#include <cstdint>
#include <functional>
#include <memory>

#include "base/WideText.h"
#include "update/LockedFile.h"
#include "update/UpdateImage.h"

namespace quorvel {

// How old a file must be before it is taken as written to its end.
constexpr uint32_t kFileSettleMs = 2000;

// Why a file was taken or refused. The texts: UpdateFile::Message().
enum class FileAcceptance {
  Accepted,
  OtherModel,  // named for the other model (".kyc" for OLMAR I)
  OpenFailed,  // no regular file, not opened, unreadable; no file chosen
  NotValid,    // not upper-case hex digit pairs, or no well-formed record chain
  Empty,       // no byte decoded
  Changing,    // changed while it was read or soon after: still being written
};

// Waits the given milliseconds on the program's clock. The window keeps
// itself painted meanwhile; tests drive it.
using FileWait = std::function<void(uint32_t ms)>;

struct UpdateFile {
  int32_t model = 0;
  FileAcceptance result = FileAcceptance::OpenFailed;
  // The decoded records; non-null, with count > 0, once accepted.
  std::unique_ptr<UpdateImage> image;
  // Open and locked from the read to the end of the job once accepted.
  LockedFile held;
  // The file as read.
  FileStamp stamp;

  bool Accepted() const { return result == FileAcceptance::Accepted; }
  // True while the held file is still as it was read.
  bool Unchanged() const;
  // The refusal's text ("Not a valid upgrade file!"); empty when accepted.
  Text Message() const;
};

// Takes the file at `path` for a job of `model`. `wait` sits out the settle
// time of a file changed moments ago; null waits on the program's clock
// (serial/PortLayer.h).
UpdateFile AcceptUpdateFile(const Text& path, int32_t model, const FileWait& wait = nullptr);

}  // namespace quorvel
