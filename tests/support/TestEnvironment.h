#pragma once
// An Environment that touches nothing of the machine: no language switch, a
// program path in a directory of the test's own, no serial ports unless the
// test gives a port platform, and pauses and file waits that only record
// what they were asked for.

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Environment.h"

namespace quorvel::test {

struct TestEnvironment {
  std::vector<uint32_t> pauses;  // every pause the dialog asked for, in ms
  // Every wait for a fresh update file to settle, in ms; none really waited.
  std::vector<uint32_t> fileWaits;

  // `dir`: a directory of the test's own (language file, devices).
  Environment Make(const std::string& dir, PortPlatform* ports = nullptr);
};

// A port platform that lists no ports at all.
PortPlatform& NoPortsPlatform();

}  // namespace quorvel::test
