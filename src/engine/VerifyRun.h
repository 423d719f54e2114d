#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "JobPort.h"
#include "Manifest.h"
#include "engine/recovery/Par2Check.h"
#include "engine/recovery/Par2Reach.h"
#include "fileio/FileSystem.h"

// verify as one run: the files a checksum file lists checked against it
// (VerifyChecksums.h), then the recovery set beside it, if there is one,
// checked slice by slice and compared with the checksum file.
//
// Events: a Verdict for every line of the checksum file in its order (Ok,
// Failed, Unreadable with the resolved path in `other`), the source line's
// check against the parts joined last (JoinedOk, JoinedFailed, NotChecked);
// then one for every file of the recovery set that is not intact (Missing,
// Damaged with its slices in count, Refused, ListedTwice, ThroughLink, or
// Stale for a file the checksum file finds intact); Progress throughout.
// The Ended event's result carries the VerifyOutcome. A checksum file that
// cannot be read ends the run Failed (JobFault::ChecksumFile); failed lines
// do not: the run is Finished, and the outcome counts them.
namespace tessera {

struct VerifyRequest {
    std::string manifest;
    const FileSystem* files = nullptr;  // nullptr: the real files
    // With no checksum file (manifest empty): the recovery set to check by
    // itself (its .par2 file); its Verdicts are then the only ones.
    std::string set;
};

struct VerifyOutcome {
    // NoSha256: why the library could not be had.
    std::string why;
    // The checksum file as read (its lines are never kept).
    ManifestRead read;
    std::size_t lines = 0;
    std::size_t verdicts = 0;  // given, the parts joined included
    std::size_t failed = 0;    // of them, Failed or Unreadable

    // The recovery set beside the checksum file.
    struct Recovery {
        std::string path;    // empty: there is none
        Par2State state = Par2State::Unusable;
        bool stale = false;  // it finds damaged files the checksum file finds intact
        std::uint64_t inputSlices = 0;
        std::uint64_t badSlices = 0;
        std::uint64_t recoverySlices = 0;
        std::uint64_t spare = 0;
        std::uint64_t shortBy = 0;
        std::size_t staleFiles = 0;
        // What the set can rebuild (an intact set's reach).
        Par2Reach reach;
        // Files of the set that could not be read at all (a volume that is
        // a pipe, ...): their paths, with why (Par2Fault::Open faults).
        std::vector<std::string> setFiles;
        std::vector<Par2FaultAt> unreadable;
    } recovery;
};

[[nodiscard]] JobResult RunVerify(const VerifyRequest& request, JobReporter& reporter, std::atomic<bool>& abort);

}  // namespace tessera
