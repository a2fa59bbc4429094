// The handshakes of the two models and the record loop with echo, verdict
// reads and resends.

#include "update/RecordTransfer.h"

#include "link/Protocol.h"
#include "serial/SerialLink.h"
#include "update/UpdateFile.h"
#include "update/UpdateImage.h"

namespace quorvel {

using namespace protocol;

namespace {

// One phase of a handshake: a command sent up to kHandshakeAttempts times,
// each followed by a one-byte reply wait.
struct HandshakePhase {
  uint8_t command;
  // True: every attempt is made and the replies are ignored.
  bool allAttempts;
  // With allAttempts false: the reply that passes the phase; another reply
  // fails it at once. When no byte came, the phase passes if the receive
  // buffer's first byte holds this value.
  uint8_t passByte;
  UpdateResult sendFailed;
  UpdateResult noReply;
};

constexpr HandshakePhase kPhasesModel2[] = {
    {kUpdateStart, false, kReadyForRecords, UpdateResult::HandshakeD7Timeout,
     UpdateResult::HandshakeD7Timeout},
};

constexpr HandshakePhase kPhasesModel1[] = {
    {kUpdateStart, true, 0, UpdateResult::HandshakeD6Timeout, UpdateResult::HandshakeD6Timeout},
    {kUpdateStep2, false, kStep2Answer, UpdateResult::HandshakeD7Timeout,
     UpdateResult::HandshakeD7Timeout},
    {kUpdateStart, true, 0, UpdateResult::HandshakeD6Timeout, UpdateResult::HandshakeD6Timeout},
    {kUpdateStart, false, kReadyForRecords, UpdateResult::HandshakeD7Timeout,
     UpdateResult::HandshakeD7Timeout},
};

UpdateResult RunPhase(SerialLink& link, const HandshakePhase& phase) {
  for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
    if (!link.SendCommand(phase.command)) return phase.sendFailed;
    const bool replied = link.ReadBytes(1, link.rxBuf, kHandshakeReplyWaitMs);
    if (phase.allAttempts) continue;
    if (link.rxBuf[0] == phase.passByte) return UpdateResult::Completed;
    // Another device (of the other model) answers something else: nothing
    // more is sent to it.
    if (replied) return phase.noReply;
  }
  return phase.allAttempts ? UpdateResult::Completed : phase.noReply;
}

// Progress in whole percent, truncated, in 32-bit unsigned arithmetic.
uint32_t Percent(uint32_t confirmed, uint32_t count) { return confirmed * 100u / count; }

}  // namespace

UpdateResult RunHandshake(SerialLink& link, int32_t model) {
  if (model == kModel1) {
    for (const HandshakePhase& phase : kPhasesModel1) {
      const UpdateResult result = RunPhase(link, phase);
      if (result != UpdateResult::Completed) return result;
    }
    return UpdateResult::Completed;
  }
  return RunPhase(link, kPhasesModel2[0]);
}

UpdateResult SendRecords(SerialLink& link, const UpdateImage& image, TransferObserver& observer) {
  // The load checked the record chain, so every record has a high length
  // byte of 0 and lies wholly within the image: its write count equals its
  // size and the walk ends exactly at image.count.
  uint8_t echo[255];
  uint32_t confirmed = 0;
  // A stop asked for before the first record (during the handshake) sends
  // none.
  if (observer.StopRequested()) return UpdateResult::Stopped;
  for (const UpdateRecord& record : image.Records()) {
    const auto n = static_cast<uint8_t>(record.size % 256u);
    for (uint32_t sends = 1;; ++sends) {
      // Bytes that came after the last verdict are stale: left in, they
      // would be read as this record's echo and shift its verdict. The echo
      // goes into a buffer of its own, so a resend sends the file's bytes,
      // not what came back.
      if (!link.DiscardInput() || !link.WriteBytes(n, record.bytes) ||
          (link.skipEcho == 0 && !link.ReadBytes(n, echo, kRecordEchoWaitMs))) {
        return UpdateResult::TransferError;
      }

      bool verdictCame = false;
      for (int read = 0; read < kVerdictReads && !verdictCame; ++read) {
        verdictCame = link.ReadBytes(1, link.rxBuf, kVerdictWaitMs);
      }
      if (!verdictCame) return UpdateResult::NoVerdict;

      const uint8_t verdict = link.rxBuf[0];
      observer.OnVerdict(record.offset, record.size, verdict);
      const bool accepted = verdict == kRecordAccepted;
      if (accepted) {
        confirmed += record.size;
      } else if (verdict == kRecordCrcError) {
        return UpdateResult::CrcError;
      } else if (sends >= kMaxSendsPerRecord) {
        return UpdateResult::TooManyResends;
      }

      observer.OnProgress(Percent(confirmed, image.count));
      observer.KeepAlive();
      const bool more = !accepted || record.offset + record.size < image.count;
      if (more && observer.StopRequested()) return UpdateResult::Stopped;
      if (accepted) break;
    }
  }
  return UpdateResult::Completed;
}

namespace {

// RunUpdate, with the check of the held file before the first record when
// there is one.
UpdateResult Transfer(SerialLink& link, int32_t model, const UpdateImage& image,
                      const UpdateFile* file, TransferObserver& observer) {
  // The observer hears every wait, unless the caller has its own hook.
  const bool ownHook = !link.whileWaiting;
  if (ownHook) link.whileWaiting = [&observer] { observer.Idle(); };
  struct HookReset {
    SerialLink& link;
    bool own;
    ~HookReset() {
      if (own) link.whileWaiting = nullptr;
    }
  } reset{link, ownHook};

  // A file changed since its read is refused before the port is touched
  // and, should it change during the handshake, before its first record.
  const auto changed = [file] { return file != nullptr && !file->Unchanged(); };
  if (changed()) return UpdateResult::FileChanged;
  if (!link.PurgePort()) return UpdateResult::PurgeFailed;
  const UpdateResult handshake = RunHandshake(link, model);
  if (handshake != UpdateResult::Completed) return handshake;
  if (changed()) return UpdateResult::FileChanged;
  observer.OnHandshakeDone();
  return SendRecords(link, image, observer);
}

}  // namespace

UpdateResult RunUpdate(SerialLink& link, int32_t model, const UpdateImage& image,
                       TransferObserver& observer) {
  return Transfer(link, model, image, nullptr, observer);
}

UpdateResult RunUpdate(SerialLink& link, const UpdateFile& file, TransferObserver& observer) {
  return Transfer(link, file.model, *file.image, &file, observer);
}

}  // namespace quorvel
