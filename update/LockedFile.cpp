// What holding an update file is on every platform: a hold moves with its
// owner; taking and letting go of it are the platform's (update/posix,
// update/win32).

#include "update/LockedFile.h"

#include <utility>

namespace quorvel {

LockedFile::LockedFile(LockedFile&& other) noexcept
    : m_file(std::exchange(other.m_file, kNotHeld)), m_path(std::move(other.m_path)) {}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_file = std::exchange(other.m_file, kNotHeld);
    m_path = std::move(other.m_path);
  }
  return *this;
}

}  // namespace quorvel
