#pragma once
// The jobs quorvel-flash runs on a port: reading the device's version
// (info) and updating it (update), both through the link probe and the
// record transfer that the window program uses.

#include <cstdint>

#include "cli/Flash.h"
#include "update/UpdateFile.h"

namespace quorvel::cli {

// Probes the device as the link monitor does, until it answers or waitMs
// have passed (at least one probe); reports the link state and the version.
PortTask MakeInfoTask(int32_t model, uint32_t waitMs);

// Waits up to waitMs for the device to answer, then runs the update job of
// the file's model on the accepted `file` (which must outlive the task),
// then reads the version again.
PortTask MakeUpdateTask(const UpdateFile& file, uint32_t waitMs);

// Probes in a row without the device's answer after which a station's slot
// takes its device as removed, kRemovalProbeMs apart: three, so that a
// device that misses an answer or two is not flashed again, and seen within
// 1.5 s of its removal, the last probe's wait for an answer included.
constexpr int kRemovedProbes = 3;
constexpr uint32_t kRemovalProbeMs = 400;

// A station's slot on one port, until it is held: waits for a device, runs
// the update as MakeUpdateTask does on the accepted `file` (which must
// outlive the task), then waits for the device's removal, and again. Each
// device reports "ready" with the version before, and ends with "done"
// carrying the version read after the update (empty when none was read).
// The slot itself ends with "ended": held, or, with `endsWhenGone`, its
// adapter unplugged. A named port that disappears is waited for.
PortTask MakeStationTask(const UpdateFile& file, bool endsWhenGone);

// The rest of an update of `image` (which must outlive the function): the
// records the device has not confirmed yet, and the version read after.
RemainingTime MakeRemainingTime(int32_t model, const UpdateImage& image);

}  // namespace quorvel::cli
