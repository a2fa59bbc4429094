#pragma once
// A job's watch on the program that started it: when the program ends (or
// is killed), the job is sent `signo` at once, so that its waits end and it
// starts no transfer. Where the system cannot do that, the job still sees
// its program gone through its parent process id before every step.

namespace quorvel::cli {

void HoldWhenProgramEnds(int signo);

}  // namespace quorvel::cli
