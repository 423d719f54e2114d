#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "JobPort.h"

namespace tessera {

// What a join checks its inputs against.
enum class JoinCheck {
    None,
    // The checksum file a split wrote beside the first input
    // (ManifestBesideInputs), when it lists every input as a check needs
    // them; otherwise the join runs unchecked. For a series (JoinRequest::
    // series) it is used whenever it is there, and a fault of it fails the
    // join.
    Beside,
    // The checksum file JoinRequest::manifest; a fault of it fails the join.
    Given,
};

// A whole join, as a front end asks for it.
struct JoinRequest {
    std::string destination;
    std::vector<std::string> inputs;
    // A destination that exists is replaced. Off: one that exists is refused
    // (JobFault::DestinationExists), never emptied. Either way a symlink that
    // leads nowhere is never written through: it is refused, unless staged
    // and replaced.
    bool replace = true;
    // The destination is written under a temporary name in its folder and
    // renamed into place only when the job has finished; a failed or stopped
    // job removes it and leaves the old destination as it was. Without
    // replace, a file that appeared at the destination meanwhile is never
    // replaced. A destination that is no regular file (a pipe, a device) is
    // written directly. Off: the destination is created or emptied under
    // its lock, and written in place (what an abort leaves stays).
    bool stage = false;
    JoinCheck check = JoinCheck::None;
    std::string manifest;  // JoinCheck::Given
    bool series = false;   // JoinCheck::Beside: the inputs are a series
    // Without a library to compute SHA-256 with, the join runs unchecked
    // rather than failing (JobFault::ChecksumFile, SideState::NoSha256).
    bool uncheckedWithoutSha256 = false;
    // How the bytes move.
    JobSettings settings;
    // The inputs go to this open stream (standard output) instead: nothing
    // is created, staged or looked at by name, destination is only what the
    // stream is called. A mismatch with the checksum file is found after the
    // bytes went out; a reader that went away (EPIPE) ends the join as a
    // write fault like any other, for the front end to take quietly.
    NFile* stream = nullptr;
};

// The join run: the checksum file read and matched (a Note names the one
// found beside the inputs), every input admitted and the destination looked
// at while it is still intact, the destination created or staged, the inputs
// appended in order and checked beside the copy, the destination put in
// place. The Ended event's checksumFile says whether and against what the
// inputs were checked.
JobResult RunJoin(const JoinRequest& request, JobReporter& reporter, std::atomic<bool>& abort);

// The join a front end's fields describe: its destination and inputs as the
// port hands them out, the rest as given.
[[nodiscard]] JoinRequest JoinRequestFrom(JobPort& port, JoinRequest rest = {});

}  // namespace tessera
