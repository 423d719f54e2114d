#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/recovery/Par2Reader.h"
#include "fileio/FileSystem.h"

// Checking the files of a recovery set against it: each file slice by slice
// (MD5 and CRC-32 of each slice, the last padded with zeros), and the whole
// file's MD5; what is damaged or missing, and whether the recovery slices
// present can rebuild it.
namespace tessera {

enum class Par2FileState {
    Intact,
    Damaged,     // present, with badSlices (or only a wrong length)
    Missing,     // not there (or not a regular file)
    UnsafeName,  // an absolute name or one with a ".." step: neither read nor written
    ListedTwice, // the set lists another file of the same name: neither read nor written
    ThroughLink, // a symbolic link stands at the name or on its way: never followed, neither read nor written
};

struct Par2FileCheck {
    Par2FileState state = Par2FileState::Missing;
    std::vector<std::uint64_t> badSlices;  // indices within the file
    std::uint64_t size = 0;                // as found
    int error = 0;                         // why it could not be read (errno), when Missing
    std::uint32_t type = 0;                // Missing: what stands at the name (S_IFMT), when not a regular file
};

enum class Par2State { Intact, Repairable, NotRepairable, Unusable };

struct Par2Check {
    std::vector<Par2FileCheck> files;  // as Par2Set::files
    std::uint64_t badSlices = 0;       // over all files
    std::uint64_t recoverySlices = 0;  // usable
    Par2State state = Par2State::Unusable;
    // Repairable: the recovery slices left over; NotRepairable: how many more
    // are needed.
    std::uint64_t spare = 0;
    std::uint64_t shortBy = 0;
    // The abort flag stopped the check: nothing of it holds.
    bool stopped = false;
};

struct Par2CheckSettings {
    const FileSystem* files = nullptr;  // nullptr: the real files
    // Asked before every block read.
    const std::atomic<bool>* abort = nullptr;
    // Bytes read of the set's files' total, about every 100 ms, on the
    // calling thread.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// The path of a file of the set: its name under folder, or empty when the
// name is absolute or steps out of the folder.
[[nodiscard]] std::string Par2FilePath(const std::string& folder, const std::string& name);

// The folder a set's files lie in: that of the named .par2 file.
[[nodiscard]] std::string Par2Folder(const std::string& named);

// The recovery set that lies beside a checksum file, named after its source:
// the manifest's path without ".sha256" and with ".par2"; empty when the
// manifest's name does not end in ".sha256".
[[nodiscard]] std::string RecoverySetBeside(const std::string& manifestPath);

// Reads each file of a usable set under folder and checks it; memory stays
// within a few megabytes whatever the slice size. Each name is resolved
// beneath the folder, through no symbolic link (ThroughLink otherwise).
[[nodiscard]] Par2Check CheckPar2Set(const Par2Set& set, const std::string& folder,
                                     const Par2CheckSettings& settings = {});

}  // namespace tessera
