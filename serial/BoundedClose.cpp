#include "serial/BoundedClose.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace quorvel {

bool CloseWithinBound(std::function<void()> close, uint32_t boundMs) {
  // Shared with the closing thread, which may outlive this call.
  struct Closing {
    std::mutex mutex;
    std::condition_variable done;
    bool closed = false;
  };
  const auto closing = std::make_shared<Closing>();
  try {
    std::thread([closing, close] {
      close();
      std::lock_guard lock(closing->mutex);
      closing->closed = true;
      closing->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    close();
    return true;
  }
  std::unique_lock lock(closing->mutex);
  return closing->done.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return closing->closed; });
}

}  // namespace quorvel
