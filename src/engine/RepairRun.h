#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "JobPort.h"
#include "Manifest.h"
#include "engine/recovery/Par2Check.h"
#include "engine/recovery/Par2Reader.h"
#include "engine/recovery/Par2Repair.h"
#include "fileio/FileSystem.h"

// repair as one run: the recovery set named read (its volumes found beside
// it), its files checked slice by slice, refused when the checksum file
// beside it finds intact a file it finds damaged (the set is stale), and
// the damaged and missing files rebuilt (Par2Repair.h: every file replaced
// is kept under a free name, nothing changes before the commit).
//
// Events: Progress throughout, then a Verdict for every file put in place
// (Rebuilt with the name the old file is kept under in `other`, Created).
// The Ended event's result carries the RepairOutcome. The run is Finished
// when the files are intact or were rebuilt; Aborted when stopped (nothing
// changed, nothing left); Failed with JobFault::Recovery when the set cannot
// serve (the outcome's repair.fault says why), JobFault::Read or Write (path,
// error) when a file could not be read or written, JobFault::NoSha256 when a
// checksum file beside the set cannot be checked.
namespace tessera {

struct RepairRequest {
    std::string set;  // its .par2 file, or a volume of it
    std::uint64_t memoryLimit = kPar2RepairMemory;
    const FileSystem* files = nullptr;  // nullptr: the real files
};

struct RepairOutcome {
    // NoSha256: why the library could not be had.
    std::string why;
    // The files of the set read, and the packets passed over in them (an
    // index into setFiles each).
    std::vector<std::string> setFiles;
    std::vector<Par2FaultAt> passedOver;
    bool usable = false;
    // The set's files by their names in it, and what the check found.
    std::vector<std::string> names;
    Par2State state = Par2State::Unusable;
    std::uint64_t badSlices = 0;
    std::uint64_t recoverySlices = 0;
    std::uint64_t shortBy = 0;
    // The checksum file beside the set, when it was consulted, as read (a
    // fault: it was not used); for a stale set, a file it finds intact.
    std::string checksumFile;
    ManifestRead checksumRead;
    std::string staleFile;
    // The repair itself: its fault (Stale, NotUsable, NotEnough, ...), and
    // the files put in place (indices into names) with where the old ones
    // are kept.
    Par2RepairResult repair;
};

[[nodiscard]] JobResult RunRepair(const RepairRequest& request, JobReporter& reporter, std::atomic<bool>& abort);

}  // namespace tessera
