// A write to a pipe without a reader fails on Windows; no signal ends the
// process.

#include "base/ClosedOutputs.h"

namespace quorvel {

void IgnoreClosedOutputs() {}

}  // namespace quorvel
