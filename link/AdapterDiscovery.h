#pragma once

#include "base/WideText.h"

namespace quorvel {

// True when a port list's device path carries the identifiers of an adapter
// that discovery takes ("vid_10c4&pid_ea60" or "vid_10c8&pid_ea61").
bool IsAdapterPath(const Text& devicePath);

// The port name inside a friendly name: from the first "COM" (or the start
// when there is none) up to, not including, the next ")"; empty without ")".
Text CutComName(const Text& friendlyName);

}  // namespace quorvel
