#pragma once
// Writes to an output whose reader has gone (`quorvel --verbose 2>&1 | less`,
// then quit) fail quietly instead of ending the process, so that no program
// of the project is killed in the middle of a transfer by its own log line.

namespace quorvel {

// From now on, for the whole process: a write to a pipe or socket without a
// reader fails with an error that the writer may ignore. Call in main
// before any output.
void IgnoreClosedOutputs();

}  // namespace quorvel
