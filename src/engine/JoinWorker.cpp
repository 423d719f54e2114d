#include <cerrno>
#include <vector>

#include "Jobs.h"
#include "StatusTexts.h"
#include "Transfer.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"

namespace tessera {

using detail::SaturatedAdd;
using detail::Transfer;

namespace {

// The size of a join input, -1 (with the cause in error) when it names no
// regular file or cannot be opened.
std::int64_t InputSize(const std::string& path, int& error)
{
    try {
        const std::int64_t size = FileSize(path);
        if (size < 0)
            error = ENOENT;
        return size;
    } catch (const FileError& e) {
        error = e.osError();
        return -1;
    }
}

}  // namespace

JobResult RunJoinJob(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings)
{
    Transfer job(port, abort, settings);
    job.ClearAbort();
    job.Start();

    const std::size_t count = port.InputCount();
    const std::string destinationPath = port.DestinationPath();

    // The inputs are looked at while the destination is still intact: one
    // that is the destination itself would be destroyed by emptying it, and
    // one that cannot be opened would fail the job after the destination's
    // old contents were gone.
    std::vector<std::string> inputs;
    inputs.reserve(count);
    std::int64_t total = 0;
    while (inputs.size() < count) {
        if (job.AbortRequested())
            return job.Finish({});
        const std::vector<std::string> batch = port.Inputs(inputs.size(), kLineBatch);
        if (batch.empty())
            break;
        for (const std::string& path : batch) {
            if (SameFile(destinationPath, path))
                return job.Fail(JobFault::DestinationListed, kStatusDestinationListed + destinationPath,
                                destinationPath, 0, {});
            int error = 0;
            const std::int64_t size = InputSize(path, error);
            if (size < 0)
                return job.Fail(JobFault::InputOpen, kStatusOpenFailed + path, path, error, {});
            total = SaturatedAdd(total, size);
            inputs.push_back(path);
        }
    }

    NFilePSDK destination(destinationPath, NFilePSDK::Form::Writing);
    if (!destination.IsOpen())
        return job.Fail(JobFault::DestinationOpen, kStatusAborted, destinationPath, destination.LastError(), {});
    // A pipe or device that takes nothing more gives up when Abort is pressed.
    destination.WatchAbort(&abort);
    if (!job.AllocateBuffer(total))
        return job.Fail(JobFault::NoMemory, kStatusNoMemory, {}, ENOMEM, {&destination});

    for (const std::string& path : inputs) {
        if (job.AbortRequested())
            break;
        NFilePSDK input(path, NFilePSDK::Form::Reading);
        input.WatchAbort(&abort);
        int error = input.LastError();
        // Sized again once open: that much is copied, and a read that stops
        // short of it fails the job.
        const std::int64_t size = input.IsOpen() ? InputSize(path, error) : -1;
        if (size < 0)
            return job.Fail(JobFault::InputOpen, kStatusOpenFailed + path, path, error, {&input, &destination});

        // Every read asks for a whole buffer; what the input held when it was
        // sized must arrive, and nothing beyond it is written.
        const Transfer::Copy copy = job.CopyPiece(input, destination, path, size, true);
        if (copy != Transfer::Copy::Done)
            return job.EndAfter(copy, input, path, destination, destinationPath, path, {&input, &destination});
    }
    if (settings.flushEveryPart && !job.AbortRequested() && !destination.Flush())
        return job.Fail(JobFault::Write, kStatusWriteFailed + destinationPath, destinationPath,
                        destination.LastError(), {&destination});
    return job.Finish({&destination});
}

}  // namespace tessera
