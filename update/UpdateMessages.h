#pragma once
// The program's message texts for the ends of an update job and the loads
// of an update file, in one table. The window, the fuzz target and a
// command-line flasher all show these.

#include "base/WideText.h"
#include "update/RecordTransfer.h"
#include "update/UpdateImage.h"

namespace quorvel {

// The message a job's end shows ("Update Error: Data transfer crc error!");
// empty for Completed, which shows the localised success text instead.
Text UpdateMessage(UpdateResult result);

// The message a failed load shows ("Fail to open the file!"); empty for
// Loaded.
Text UpdateMessage(ImageLoadResult result);

// The refusal of a file whose name ends in the other model's extension,
// naming the model selected ("This file is for BRENIX, not for OLMAR I!").
Text OtherModelsFileMessage(int32_t model);

// True for the refusals before anything is sent to the device: the window
// shows them with the stop icon, the failures after with none.
bool IsRefusal(UpdateResult result);

}  // namespace quorvel
