#pragma once
// The station's process as the station window runs it: the platform's part.

#include <QProcess>

namespace quorvel::qt {

// Makes `process` start the station in a process group of its own, so that
// a terminal's Ctrl+C reaches the window alone, which passes it on once;
// and has it sent SIGTERM (its transfers end, then it exits) should the
// window die first.
void PrepareStationChild(QProcess& process);

// A stop asked for: the station's first Ctrl+C. Its transfers in progress
// end, then it exits.
void StopStationChild(const QProcess& process);

// Passes a termination signal the window holds on to the station.
void PassSignalToStationChild(const QProcess& process, int signo);

}  // namespace quorvel::qt
