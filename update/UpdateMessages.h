#pragma once
// The program's message texts for the ends of an update job and the loads
// of an update file, in one table. The window, the fuzz target and a
// command-line flasher all show these.

#include "base/WideText.h"
#include "update/RecordTransfer.h"
#include "update/UpdateFile.h"
#include "update/UpdateImage.h"

namespace quorvel {

// The English progress and success texts of a job, the defaults of the
// localised ones: "Transferring.. 37%" after a record, then the success.
inline constexpr char16_t kTransferringText[] = u"Transferring..";
inline constexpr char16_t kSuccessfulText[] = u"Updated successfully!";

// The message a job's end shows ("Update Error: Data transfer crc error!");
// empty for Completed, which shows the localised success text instead.
Text UpdateMessage(UpdateResult result);

// The message a failed load shows ("Fail to open the file!"); empty for
// Loaded.
Text UpdateMessage(ImageLoadResult result);

// Why a file was refused for a job of `model` ("The file is empty!"); empty
// when it was accepted.
Text UpdateMessage(FileAcceptance result, int32_t model);

// The refusal of a file whose name ends in the other model's extension,
// naming the model selected ("This file is for BRENIX, not for OLMAR I!").
Text OtherModelsFileMessage(int32_t model);

// True for the refusals before anything is sent to the device: the window
// shows them with the stop icon, the failures after with none.
bool IsRefusal(UpdateResult result);

}  // namespace quorvel
