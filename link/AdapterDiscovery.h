#pragma once

#include "base/WideText.h"

namespace quorvel {

// The port name inside a friendly name: from the first "COM" (or the start
// when there is none) up to, not including, the next ")"; empty without ")".
Text CutComName(const Text& friendlyName);

}  // namespace quorvel
