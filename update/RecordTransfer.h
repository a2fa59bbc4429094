#pragma once
// Sending a loaded update image to the device, free of any window: the
// handshake of the model, then record by record with echo, verdict reads and
// resends. The window's update job and a command-line flasher both run it:
//
//   struct Progress : TransferObserver {
//     void OnProgress(uint32_t percent) override { print(percent, "%"); }
//   } progress;
//   const UpdateResult r = RunUpdate(link, file, progress);  // update/UpdateFile.h
//   print(UpdateMessage(r));   // update/UpdateMessages.h
//
// The link must be open on the device's adapter at the model's baud rate
// (link/AdapterDiscovery.h) and the device should have answered its probe
// (link/LinkProbe.h). On a failure the port is left as it is: the caller
// closes it (the window does, so that its monitor starts discovery again).
// All bytes, counts and waits are those of link/Protocol.h.

#include <cstdint>

namespace quorvel {

struct SerialLink;
struct UpdateFile;
struct UpdateImage;

// How an update job ends. The texts are in update/UpdateMessages.h.
enum class UpdateResult {
  Completed,           // every record accepted
  // Refusals before anything is sent.
  NoAdapter,           // no adapter port open
  NoDevice,            // the device does not answer
  FileHoldFailed,      // the update file could not be held for the job
  FileChanged,         // the file changed between its read and the first record
  PurgeFailed,         // the port's buffers could not be cleared
  // Failures of the handshake and the transfer.
  HandshakeD6Timeout,  // model 1, phases 1 and 3: 0xD6 could not be sent
  HandshakeD7Timeout,  // no reply to the handshake, another reply than the one named, or
                       // its command could not be sent
  TransferError,       // a record's write failed or its echo did not come back whole
  CrcError,            // the device refused a record (0x12)
  TooManyResends,      // four verdicts in a row other than 0x11 and 0x12
  NoVerdict,           // no verdict within six reads
  Stopped,             // the observer asked to stop; no record was left half sent
};

// What the caller hears while records are sent. Every call comes on the
// calling thread, from inside the transfer; none may use the link.
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;

  // Once the handshake has passed, before the first record.
  virtual void OnHandshakeDone() {}
  // After every verdict, resends included: the share of the image the
  // device has accepted so far, in whole percent (truncated).
  virtual void OnProgress(uint32_t percent) = 0;
  // As each verdict arrives, before it is acted on: the record's place in
  // the image, its size and the device's verdict byte. For logs.
  virtual void OnVerdict(uint32_t offset, uint32_t size, uint8_t verdict) {
    (void)offset;
    (void)size;
    (void)verdict;
  }
  // Right after OnProgress: the caller may handle its pending window
  // messages (the window handles one). Anything it does must leave the
  // link alone; a window keeps the controls that start jobs locked.
  virtual void KeepAlive() {}
  // Again and again while RunUpdate waits for the device (about every
  // kWaitHookPeriodMs of serial/PortLayer.h), unless the link already has a
  // wait hook of the caller's: the caller may repaint and answer its
  // desktop, taking no input. Neither bytes nor waits change when it is
  // called. A default that does nothing suits callers without a window.
  virtual void Idle() {}
  // Between records, after KeepAlive: true ends the transfer (Stopped)
  // before the next record or resend goes out. The window never stops; a
  // command-line flasher stops on Ctrl+C.
  virtual bool StopRequested() { return false; }
};

// The handshake of `model` (kModel2: 0xD6 until a reply; kModel1: the four
// phases). Completed, HandshakeD6Timeout or HandshakeD7Timeout.
UpdateResult RunHandshake(SerialLink& link, int32_t model);

// Sends the image's records, each followed by its echo and verdict; a record
// is sent again after a verdict other than 0x11 and 0x12, at most four times
// in all. Input that came before a record is written (line noise, a stray
// byte after a verdict) is dropped, so that its echo and its verdict are the
// bytes read back. The image must be a well-formed record chain (LoadUpdateImage
// checks it). Completed, TransferError, CrcError, TooManyResends,
// NoVerdict or Stopped.
UpdateResult SendRecords(SerialLink& link, const UpdateImage& image, TransferObserver& observer);

// A whole transfer: purges the port, runs the handshake, sends the records.
// PurgeFailed, or any result of the two above.
UpdateResult RunUpdate(SerialLink& link, int32_t model, const UpdateImage& image,
                       TransferObserver& observer);
// The same for an accepted file (AcceptUpdateFile), for its model. It ends
// with FileChanged, nothing of the file sent, when the held file is no
// longer as it was read: before the purge, and again right before the
// first record.
UpdateResult RunUpdate(SerialLink& link, const UpdateFile& file, TransferObserver& observer);

}  // namespace quorvel
