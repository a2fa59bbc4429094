#pragma once
// Start-up of quorvel-station: its command line, the Qt application, the
// station window, and the termination signals held until the station's
// transfers have ended.

#include <functional>

#include "ui/Environment.h"

namespace quorvel {

namespace qt {
class StationWindow;
}

// Runs the station window on `environment`; returns the process's exit
// code: 0, 2 for a bad command line, 128+N after a held signal N.
// `shown` runs once the window is up (the screenshots use it).
int RunStationProgram(int argc, char* argv[], Environment environment,
                      const std::function<void(qt::StationWindow&)>& shown = {});

}  // namespace quorvel
