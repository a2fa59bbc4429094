#include "update/UpdateMessages.h"

#include "link/Protocol.h"

namespace quorvel {

namespace {

constexpr char16_t kFileChanging[] = u"The file is still being written!";

}  // namespace


Text UpdateMessage(UpdateResult result) {
  switch (result) {
    case UpdateResult::Completed: break;
    case UpdateResult::NoAdapter: return u"USB Connection Error!";
    case UpdateResult::NoDevice: return u"DEVICE Connection Error!";
    case UpdateResult::FileHoldFailed: return u"读取文件失败!";
    case UpdateResult::FileChanged: return kFileChanging;
    case UpdateResult::PurgeFailed: return u"串口缓存清空失败!";
    case UpdateResult::HandshakeD6Timeout: return u"Update Error: TX=0xD6, TX Timeover!";
    case UpdateResult::HandshakeD7Timeout: return u"Update Error: TX=0xD7, TX Timeover!";
    case UpdateResult::TransferError: return u"Update Error: Data transfer error!";
    case UpdateResult::CrcError: return u"Update Error: Data transfer crc error!";
    case UpdateResult::TooManyResends: return u"Update Error: repeat Data transfer over four time!";
    case UpdateResult::NoVerdict: return u"Update Error: No reply from device!";
    case UpdateResult::Stopped: return u"Update stopped between two records.";
  }
  return {};
}

Text UpdateMessage(ImageLoadResult result) {
  switch (result) {
    case ImageLoadResult::OpenFailed: return u"Fail to open the file!";
    case ImageLoadResult::NotValid: return u"Not a valid upgrade file!";
    case ImageLoadResult::Empty: return u"The file is empty!";
    case ImageLoadResult::Loaded: break;
  }
  return {};
}

Text UpdateMessage(FileAcceptance result, int32_t model) {
  switch (result) {
    case FileAcceptance::Accepted: break;
    case FileAcceptance::OtherModel: return OtherModelsFileMessage(model);
    case FileAcceptance::OpenFailed: return UpdateMessage(ImageLoadResult::OpenFailed);
    case FileAcceptance::NotValid: return UpdateMessage(ImageLoadResult::NotValid);
    case FileAcceptance::Empty: return UpdateMessage(ImageLoadResult::Empty);
    case FileAcceptance::Changing: return kFileChanging;
  }
  return {};
}

Text OtherModelsFileMessage(int32_t model) {
  const int32_t other = model == protocol::kModel1 ? protocol::kModel2 : protocol::kModel1;
  return Text(u"This file is for ") + protocol::ModelName(other) + u", not for " +
         protocol::ModelName(model) + u"!";
}

bool IsRefusal(UpdateResult result) {
  switch (result) {
    case UpdateResult::NoAdapter:
    case UpdateResult::NoDevice:
    case UpdateResult::FileHoldFailed:
    case UpdateResult::FileChanged:
    case UpdateResult::PurgeFailed: return true;
    default: break;
  }
  return false;
}

}  // namespace quorvel
