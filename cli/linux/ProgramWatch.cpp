// Linux: the parent's death signal.

#include "cli/posix/ProgramWatch.h"

#include <sys/prctl.h>

namespace quorvel::cli {

void HoldWhenProgramEnds(int signo) { prctl(PR_SET_PDEATHSIG, signo); }

}  // namespace quorvel::cli
