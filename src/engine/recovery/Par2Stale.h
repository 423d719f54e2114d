#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/Manifest.h"
#include "engine/recovery/Par2Check.h"
#include "fileio/FileOpener.h"

// A recovery set outlives the parts it was made for when a split is run
// again without one: it then finds the new parts damaged and would "repair"
// them back to the old bytes. The checksum file a split writes beside its
// set tells the two apart: a file the set finds damaged but the checksum
// file finds intact is newer than the set, which is stale.
namespace tessera {

// The checksum file beside the set named (by its .par2 file or a volume):
// "<base>.sha256" in the set's folder.
[[nodiscard]] std::string ChecksumFileBesideSet(const std::string& named);

struct StaleFinding {
    // The files of the set (indices into Par2Set::files) found damaged that
    // the checksum file lists under the same name with the digest they hold.
    std::vector<std::size_t> files;
    // The checksum file as read; a fault leaves files empty.
    ManifestRead read;
};

// Reads the checksum file at manifest (streamed: only the lines naming a
// damaged file of the set are kept) and hashes the damaged files it lists.
// Needs SHA-256 loaded.
[[nodiscard]] StaleFinding FindStaleFiles(const Par2Set& set, const Par2Check& check, const std::string& folder,
                                          const std::string& manifest, const std::atomic<bool>& abort,
                                          const FileOpener& files = RealFiles());

}  // namespace tessera
