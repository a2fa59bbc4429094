#pragma once
// Helpers shared by the fuzz targets.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace quorvel::fuzz {

// Stops the run with a message libFuzzer records as a crash: an invariant of
// the code under test does not hold.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "INVARIANT FAILED: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(cond)                                                       \
  do {                                                                         \
    if (!(cond)) ::quorvel::fuzz::Fail(#cond " (" __FILE__ ":" FUZZ_LINE ")"); \
  } while (0)
#define FUZZ_STR2(x) #x
#define FUZZ_STR(x) FUZZ_STR2(x)
#define FUZZ_LINE FUZZ_STR(__LINE__)

// One in-memory file for the whole run, rewritten for every input and opened
// by its /proc path, so the readers that take a path read from memory.
class MemoryFile {
 public:
  MemoryFile() {
    m_fd = memfd_create("quorvel-fuzz", MFD_CLOEXEC);
    if (m_fd < 0) Fail("memfd_create");
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the contents; returns the path to open.
  const std::string& Write(const void* data, size_t size) {
    if (ftruncate(m_fd, 0) != 0) Fail("ftruncate");
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(m_fd, p + done, size - done, static_cast<off_t>(done));
      if (n <= 0) Fail("pwrite");
      done += static_cast<size_t>(n);
    }
    return m_path;
  }

 private:
  int m_fd = -1;
  std::string m_path;
};

}  // namespace quorvel::fuzz
