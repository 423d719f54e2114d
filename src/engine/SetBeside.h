#pragma once

#include <string>
#include <vector>

#include "VerifyRun.h"
#include "fileio/FileSystem.h"

namespace tessera {

// The recovery set a split of the inputs' source left beside the first of
// them: "x.par2" beside "x.000" (the set beside the checksum file
// ManifestBesidePart names), when a regular file lies at that name. Empty
// when there are no inputs, the first has no series number, or no file is
// there.
[[nodiscard]] std::string RecoverySetBesideInputs(const std::vector<std::string>& inputs,
                                                  const FileSystem& files = RealFiles());

// What a check of join inputs (without joining them) checks: the checksum
// file a join of them checks against (ManifestBesideInputs, as for a series),
// with the recovery set beside it; with no checksum file there, the recovery
// set beside the first input by itself.
struct InputsCheck {
    VerifyRequest request;  // manifest and set both empty: nothing to check
    // The checksum file does not list the inputs as they stand (another
    // file, fewer of them, another order): what it lists is what is checked.
    bool listDiffers = false;
    [[nodiscard]] bool Empty() const { return request.manifest.empty() && request.set.empty(); }
};
[[nodiscard]] InputsCheck CheckBesideInputs(const std::vector<std::string>& inputs);

// Whether anything lies beside the first input for CheckBesideInputs to
// check; looks at names only, reads no file.
[[nodiscard]] bool CheckableBesideInputs(const std::vector<std::string>& inputs);

}  // namespace tessera
