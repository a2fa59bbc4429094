#include "serial/BoundedClose.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace quorvel {

namespace {

// Shared with the closing thread, which may outlive the call that started it.
struct Closing {
  std::mutex mutex;
  std::condition_variable done;
  bool closed = false;

  bool WaitFor(uint32_t ms) {
    std::unique_lock lock(mutex);
    return done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return closed; });
  }
};

// The closing threads, joined once their close has returned, so that a
// finished close leaves nothing of its own behind. One still closing at the
// program's end is left to it.
class Closers {
 public:
  ~Closers() {
    for (Entry& e : m_entries) e.thread.detach();
  }

  void Add(std::thread thread, std::shared_ptr<Closing> closing) {
    std::lock_guard lock(m_mutex);
    JoinFinished();
    m_entries.push_back({std::move(thread), std::move(closing)});
  }

  bool WaitAll(uint32_t boundMs) {
    std::lock_guard lock(m_mutex);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (Entry& e : m_entries) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      e.closing->WaitFor(static_cast<uint32_t>(std::max<long long>(0, left.count())));
    }
    JoinFinished();
    return m_entries.empty();
  }

 private:
  struct Entry {
    std::thread thread;
    std::shared_ptr<Closing> closing;
  };

  void JoinFinished() {
    std::erase_if(m_entries, [](Entry& e) {
      {
        std::lock_guard lock(e.closing->mutex);
        if (!e.closing->closed) return false;
      }
      e.thread.join();
      return true;
    });
  }

  std::mutex m_mutex;
  std::vector<Entry> m_entries;
};

Closers& TheClosers() {
  static Closers closers;
  return closers;
}

}  // namespace

bool CloseWithinBound(std::function<void()> close, uint32_t boundMs) {
  const auto closing = std::make_shared<Closing>();
  try {
    std::thread thread([closing, close] {
      close();
      std::lock_guard lock(closing->mutex);
      closing->closed = true;
      closing->done.notify_all();
    });
    TheClosers().Add(std::move(thread), closing);
  } catch (const std::system_error&) {
    close();
    return true;
  }
  return closing->WaitFor(boundMs);
}

bool WaitForCloses(uint32_t boundMs) { return TheClosers().WaitAll(boundMs); }

}  // namespace quorvel
