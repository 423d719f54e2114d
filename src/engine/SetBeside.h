#pragma once

#include <string>
#include <vector>

#include "fileio/FileSystem.h"

namespace tessera {

// The recovery set a split of the inputs' source left beside the first of
// them: "x.par2" beside "x.000" (the set beside the checksum file
// ManifestBesidePart names), when a regular file lies at that name. Empty
// when there are no inputs, the first has no series number, or no file is
// there.
[[nodiscard]] std::string RecoverySetBesideInputs(const std::vector<std::string>& inputs,
                                                  const FileSystem& files = RealFiles());

}  // namespace tessera
