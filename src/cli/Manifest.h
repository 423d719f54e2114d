#pragma once

#include <string>
#include <vector>

#include "engine/Manifest.h"
#include "engine/kernels/Sha256.h"

namespace tessera::cli {

// The message for a checksum file that could not be read; empty when it was.
[[nodiscard]] std::string ManifestReadMessage(const std::string& path, const ManifestRead& read);

// The message for join inputs that do not match the manifest at path; empty
// when they do.
[[nodiscard]] std::string JoinMatchMessage(const std::string& path, const std::vector<std::string>& inputs,
                                           const JoinMatch& match);

}  // namespace tessera::cli
