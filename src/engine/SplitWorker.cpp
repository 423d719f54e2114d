#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "Job.h"
#include "Transfer.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"
#include "plan/SplitEntry.h"

namespace tessera {

using detail::SaturatedAdd;

namespace {

constexpr int kPartNumbers = 1000;
// A part name can be taken between the probe and the creation by another
// program; give up after this many such races.
constexpr int kCreateAttempts = 1000;

// An entry the worker can copy: it reads back and does not run backwards.
bool ReadPlanLine(DialogPort& port, int index, SplitEntry& entry)
{
    return ReadEntry(port.ListLine(kListSplit, index), entry) && entry.start >= 0 && entry.end >= entry.start;
}

}  // namespace

std::string ProbeOutputName(const std::string& source)
{
    for (int n = 0; n < kPartNumbers; ++n) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", n);
        std::string candidate = source + suffix;
        if (NameIsFree(candidate))
            return candidate;
    }
    return {};
}

int RunSplitJob(DialogPort& port, std::atomic<bool>& abort)
{
    detail::Job job(port, abort);
    job.ClearAbort();
    const std::string sourcePath = port.FieldText(kEditSource);
    if (!IsRegularFile(sourcePath))
        return -1;
    job.SwitchControls(false);

    NFilePSDK source(sourcePath, NFilePSDK::Form::Reading);
    if (!source.IsOpen())
        return job.Fail(kStatusAborted, {});
    source.WatchAbort(&abort);

    // First pass: the job total, and a plan that can be carried out whole
    // before any part file exists.
    const int count = port.ListCount(kListSplit);
    std::int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        SplitEntry entry;
        if (!ReadPlanLine(port, i, entry))
            return job.Fail(kStatusAborted, {&source});
        total = SaturatedAdd(total, entry.end - entry.start);
    }
    if (!job.AllocateBuffer(total))
        return job.Fail(kStatusNoMemory, {&source});

    for (int i = 0; i < count; ++i) {
        if (job.AbortRequested())
            break;
        SplitEntry entry;
        if (!ReadPlanLine(port, i, entry))
            return job.Fail(kStatusAborted, {&source});
        const std::int64_t length = entry.end - entry.start;

        // The part file is created exclusively: should another program take
        // the probed name first, the probe runs again.
        std::string name;
        std::optional<NFilePSDK> created;
        for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
            name = ProbeOutputName(sourcePath);
            if (name.empty())
                break;
            created.emplace(name, NFilePSDK::Form::CreateNew);
            if (created->IsOpen() || created->LastError() != EEXIST)
                break;
        }
        if (!created || !created->IsOpen())
            return job.Fail(kStatusCreateFailed + name, {&source});
        NFilePSDK& part = *created;
        part.WatchAbort(&abort);

        if (!source.Seek(entry.start, 0))
            return job.Fail(kStatusReadFailed + sourcePath, {&part, &source});
        std::int64_t copied = 0;
        while (copied < length) {
            if (job.AbortRequested())
                break;
            const auto block = static_cast<std::uint32_t>(
                std::min<std::int64_t>(length - copied, kTransferBufferSize));
            switch (job.RunCycle(source, part, name, block, block)) {
            case detail::Job::Cycle::Copied: break;
            case detail::Job::Cycle::ReadFailed:
                // A read or write stuck on a pipe or device, given up on Abort.
                if (source.LastError() == ECANCELED)
                    return job.Finish({&part, &source});
                return job.Fail(kStatusReadFailed + sourcePath, {&part, &source});
            case detail::Job::Cycle::WriteFailed:
                if (part.LastError() == ECANCELED)
                    return job.Finish({&part, &source});
                return job.Fail(kStatusWriteFailed + name, {&part, &source});
            }
            copied += block;
        }
    }
    return job.Finish({&source});
}

}  // namespace tessera
