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

// The rest of an update of `image` (which must outlive the function): the
// records the device has not confirmed yet, and the version read after.
RemainingTime MakeRemainingTime(int32_t model, const UpdateImage& image);

}  // namespace quorvel::cli
