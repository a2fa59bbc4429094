// SIGPIPE's default action ends the process; ignored, the write fails with
// EPIPE instead.

#include "base/ClosedOutputs.h"

#include <signal.h>

namespace quorvel {

void IgnoreClosedOutputs() { signal(SIGPIPE, SIG_IGN); }

}  // namespace quorvel
