#include <algorithm>
#include <cerrno>

#include "Job.h"
#include "Transfer.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"

namespace tessera {

using detail::SaturatedAdd;

namespace {

// The size of a join input, -1 when it names no regular file or cannot be
// opened.
std::int64_t InputSize(const std::string& path)
{
    try {
        return FileSize(path);
    } catch (const FileError&) {
        return -1;
    }
}

}  // namespace

int RunJoinJob(DialogPort& port, std::atomic<bool>& abort)
{
    detail::Job job(port, abort);
    job.ClearAbort();
    job.SwitchControls(false);

    const int count = port.ListCount(kListJoin);
    const std::string destinationPath = port.FieldText(kEditJoinDestination);

    // The inputs are looked at while the destination is still intact: one
    // that is the destination itself would be destroyed by emptying it, and
    // one that cannot be opened would fail the job after the destination's
    // old contents were gone.
    std::int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        const std::string path = port.ListLine(kListJoin, i);
        if (SameFile(destinationPath, path))
            return job.Fail(kStatusDestinationListed + destinationPath, {});
        const std::int64_t size = InputSize(path);
        if (size < 0)
            return job.Fail(kStatusOpenFailed + path, {});
        total = SaturatedAdd(total, size);
    }

    NFilePSDK destination(destinationPath, NFilePSDK::Form::Writing);
    if (!destination.IsOpen())
        return job.Fail(kStatusAborted, {});
    destination.WatchAbort(&abort);
    if (!job.AllocateBuffer(total))
        return job.Fail(kStatusNoMemory, {&destination});

    for (int i = 0; i < count; ++i) {
        if (job.AbortRequested())
            break;
        const std::string path = port.ListLine(kListJoin, i);
        NFilePSDK input(path, NFilePSDK::Form::Reading);
        input.WatchAbort(&abort);
        const std::int64_t size = input.IsOpen() ? InputSize(path) : -1;
        if (size < 0)
            return job.Fail(kStatusOpenFailed + path, {&input, &destination});

        std::int64_t copied = 0;
        while (copied < size) {
            if (job.AbortRequested())
                break;
            // Every read asks for a whole buffer; what the input held when it
            // was sized must arrive, and nothing beyond it is written.
            const auto need = static_cast<std::uint32_t>(std::min<std::int64_t>(size - copied, kTransferBufferSize));
            switch (job.RunCycle(input, destination, path, kTransferBufferSize, need)) {
            case detail::Job::Cycle::Copied: break;
            case detail::Job::Cycle::ReadFailed:
                // A read or write stuck on a pipe or device, given up on Abort.
                if (input.LastError() == ECANCELED)
                    return job.Finish({&input, &destination});
                return job.Fail(kStatusReadFailed + path, {&input, &destination});
            case detail::Job::Cycle::WriteFailed:
                if (destination.LastError() == ECANCELED)
                    return job.Finish({&input, &destination});
                return job.Fail(kStatusWriteFailed + destinationPath, {&input, &destination});
            }
            copied += need;
        }
    }
    return job.Finish({&destination});
}

}  // namespace tessera
