#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "Checksums.h"
#include "Jobs.h"
#include "Transfer.h"
#include "fileio/FileQuery.h"
#include "fileio/StagedFile.h"

namespace tessera {

using detail::SaturatedAdd;
using detail::Transfer;

namespace {

}  // namespace

JobResult RunJoinJob(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings)
{
    Transfer job(port, abort, settings);
    job.ClearAbort();
    job.Start();

    const std::size_t count = port.InputCount();
    const std::string destinationPath = port.DestinationPath();

    // A destination that is there already is not replaced unless asked; a
    // pipe or device is written, never replaced.
    const FileSystem& files = job.Files();
    const std::uint32_t existing = FileTypeAt(destinationPath, nullptr, files);
    const bool direct = existing != 0 && existing != S_IFREG && existing != S_IFDIR;
    if (!settings.replaceDestination && !direct) {
        // A name that cannot be looked up is reported as what it is.
        const int state = NameState(destinationPath, files);
        if (state == 0)
            return job.Fail(JobFault::DestinationExists, destinationPath, EEXIST, {});
        if (state != ENOENT)
            return job.Fail(JobFault::DestinationOpen, destinationPath, state, {});
    }

    // The inputs are looked at while the destination is still intact: one
    // that is the destination itself would be destroyed by emptying it, and
    // one that cannot be opened would fail the job after the destination's
    // old contents were gone.
    std::vector<std::string> inputs;
    std::vector<std::int64_t> sizes;
    inputs.reserve(count);
    std::int64_t total = 0;
    while (inputs.size() < count) {
        if (job.AbortRequested())
            return job.Finish({});
        const std::vector<std::string> batch = port.Inputs(inputs.size(), kLineBatch);
        if (batch.empty())
            break;
        for (const std::string& path : batch) {
            if (SameFile(destinationPath, path, files))
                return job.Fail(JobFault::DestinationListed, destinationPath, 0, {});
            // What is no regular file is refused by its name first (a device
            // is never opened), then by the open file (the name may change
            // hands); so is a file that holds more than its size says.
            std::unique_ptr<NFile> input;
            const Admission admission = job.Admit(path, input);
            if (!admission.Admitted())
                return job.Fail(Transfer::Refused(admission, path, JobFault::InputOpen, JobFault::InputNotRegular), {});
            total = SaturatedAdd(total, admission.size);
            inputs.push_back(path);
            sizes.push_back(admission.size);
        }
    }

    StagedFile staged;
    std::unique_ptr<NFile> destination;
    if (settings.stageDestination && !direct)
        destination = staged.Create(destinationPath, job.Files());
    else
        destination = job.Open(destinationPath, settings.replaceDestination || direct ? NFilePSDK::Form::Writing
                                                                                   : NFilePSDK::Form::CreateNew);
    destination->WatchAbort(&abort);
    if (!destination->IsOpen()) {
        const int error = destination->LastError();
        return job.Fail(error == EEXIST && !settings.replaceDestination ? JobFault::DestinationExists
                                                                        : JobFault::DestinationOpen,
                        destinationPath, error, {});
    }
    if (!job.AllocateBuffer(total))
        return job.Fail(JobFault::NoMemory, {}, ENOMEM, {destination.get()});

    // The inputs are hashed beside the copy, by a thread of their own: one
    // stream of them all when the source's digest is known, else each input's
    // own digest, compared as soon as it is complete.
    const JobChecksums* checks = settings.checksums;
    std::vector<HashRange> ranges;
    std::optional<HashStreams> hashing;
    HashSettings hash;
    if (checks != nullptr) {
        for (std::size_t i = 0; i < inputs.size(); ++i)
            ranges.push_back({inputs[i], 0, sizes[i]});
        hash.threads = 1;
        hash.files = checks->files ? checks->files : &job.Files();
        hash.pieces = checks->expectedWhole.empty();
        hash.whole = !hash.pieces;
        if (hash.pieces)
            hash.expected = checks->expected;
        hashing.emplace(ranges, hash, abort);
        job.AttachHashing(&*hashing);
        hashing->Start();
    }

    for (const std::string& path : inputs) {
        if (job.AbortRequested())
            break;
        std::unique_ptr<NFile> input;
        // Admitted again once open: that much is copied, a read that stops
        // short of it fails the job, and so does a byte beyond it.
        const Admission admission = job.Admit(path, input);
        if (!admission.Admitted())
            return job.Fail(Transfer::Refused(admission, path, JobFault::InputOpen, JobFault::InputNotRegular),
                            {destination.get()});
        const Transfer::Copy copy = job.CopyPiece(*input, *destination, path, 0, admission.size, true, true);
        if (copy != Transfer::Copy::Done)
            return job.EndAfter(copy, *input, path, *destination, destinationPath, path, admission.size,
                                {input.get(), destination.get()});
    }
    if (hashing && !job.AbortRequested()) {
        job.AwaitHashing();
        if (hashing->Failed())
            return job.FailHashing(*hashing, {destination.get()});
        if (hash.whole && !job.AbortRequested() && hashing->Whole() != checks->expectedWhole) {
            // The joined bytes are not the source. The inputs are read once
            // more, each against its own digest, to name the first that
            // differs; when none does, the source's line is what differs.
            hash.pieces = true;
            hash.whole = false;
            hash.expected = checks->expected;
            HashStreams again(ranges, hash, abort);
            again.Run();
            if (again.Failed())
                return job.FailHashing(again, {destination.get()});
            if (!job.AbortRequested())
                return job.Fail(JobFault::Check, destinationPath, 0, {destination.get()});
        }
    }
    if (settings.flushEveryPart && !job.AbortRequested() && !destination->Flush())
        return job.Fail(JobFault::Write, destinationPath, destination->LastError(), {destination.get()});
    if (!staged.TemporaryPath().empty() && !job.AbortRequested()) {
        // Put in place only whole; a stopped job leaves the old file.
        const int error = staged.Commit(settings.replaceDestination);
        if (error != 0)
            return job.Fail(error == EEXIST ? JobFault::DestinationExists : JobFault::DestinationOpen,
                            destinationPath, error, {destination.get()});
    }
    return job.Finish({destination.get()});
}

}  // namespace tessera
