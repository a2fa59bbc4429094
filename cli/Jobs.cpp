#include "cli/Jobs.h"

namespace quorvel::cli {

PortTask MakeInfoTask(int32_t, uint32_t) {
  return [](const std::string&, const EventSink&, const std::function<bool()>&) {
    return Outcome::Failed;
  };
}

PortTask MakeUpdateTask(int32_t, const UpdateImage&, uint32_t) {
  return [](const std::string&, const EventSink&, const std::function<bool()>&) {
    return Outcome::Failed;
  };
}

}  // namespace quorvel::cli
