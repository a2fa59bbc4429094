// A replacement of the global operator new and delete that counts the bytes
// held. It lives in a file of its own so that no call to it is inlined: a
// tool that replaces the allocation functions (valgrind) then replaces both
// sides, and the count simply stays 0.

#include "soak/new_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)

namespace quorvel::test {
long long LiveNewBytes() { return -1; }
}  // namespace quorvel::test

#else

namespace {
std::atomic<long long> g_liveBytes{0};
// Each block starts with its size, keeping the caller's part aligned.
constexpr size_t kHeader = alignof(std::max_align_t);
}  // namespace

namespace quorvel::test {
long long LiveNewBytes() { return g_liveBytes.load(); }
}  // namespace quorvel::test

void* operator new(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<size_t*>(block) = size;
  g_liveBytes += static_cast<long long>(size);
  return static_cast<char*>(block) + kHeader;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}

void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  char* block = static_cast<char*>(p) - kHeader;
  g_liveBytes -= static_cast<long long>(*reinterpret_cast<size_t*>(block));
  std::free(block);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }

#endif
