#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/Manifest.h"
#include "engine/Sha256.h"

namespace tessera::cli {

// The message for a checksum file that could not be read; empty when it was.
[[nodiscard]] std::string ManifestReadMessage(const std::string& path, const ManifestRead& read);

// The message for join inputs that do not match the manifest at path; empty
// when they do.
[[nodiscard]] std::string JoinMatchMessage(const std::string& path, const std::vector<std::string>& inputs,
                                           const JoinMatch& match);

// join --check: the manifest at path read and matched with the inputs, or
// nullopt with the message in why.
[[nodiscard]] std::optional<JoinMatch> ReadJoinManifest(const std::string& path, const std::vector<std::string>& inputs,
                                                        std::string& why);

// The checksum file a join checks against without --check: the one a split
// wrote beside the first input (ManifestBesidePart), for a series always, for
// other inputs only when it lists every one of them. Empty for none.
[[nodiscard]] std::string ManifestForJoin(const std::vector<std::string>& inputs, bool series);

}  // namespace tessera::cli
