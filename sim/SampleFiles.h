#pragma once
// Where the sample update files are for a program of the simulator's kind
// (the demo, quorvel-sim): "samples" beside the program's own file (in the
// build tree a link to the source's), else where the installation put them,
// found from the program's own place, so that an installed program never
// looks into the folder it was built in.

#include <string>

namespace quorvel::sim {

// The samples folder, absolute, for a program whose file is `programPath`
// (absolute); empty when there is none.
std::string FindSamples(const std::string& programPath);

}  // namespace quorvel::sim
