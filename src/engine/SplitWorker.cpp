#include <cerrno>
#include <vector>

#include "Jobs.h"
#include "PartNames.h"
#include "StatusTexts.h"
#include "Transfer.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"
#include "plan/SplitEntry.h"

namespace tessera {

using detail::SaturatedAdd;
using detail::Transfer;

namespace {

// A part name can be taken between the probe and the creation by another
// program; give up after this many such races.
constexpr int kCreateAttempts = 1000;

// The stem of the part names: the source's path, or its name inside the
// folder the parts go to.
std::string PartStem(const std::string& source, const std::string& folder)
{
    if (folder.empty())
        return source;
    const auto slash = source.rfind('/');
    const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The part file for the next entry, created exclusively at the lowest free
// name: should another program take the probed name first, the probe runs
// again. name is the name tried last (empty when none was free).
NFilePSDK CreatePart(const std::string& stem, std::string& name)
{
    NFilePSDK part;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        name = ProbeOutputName(stem);
        if (name.empty())
            break;
        part = NFilePSDK(name, NFilePSDK::Form::CreateNew);
        if (part.IsOpen() || part.LastError() != EEXIST)
            break;
    }
    return part;
}

}  // namespace

JobResult RunSplitJob(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings)
{
    Transfer job(port, abort, settings);
    job.ClearAbort();
    const std::string sourcePath = port.SourcePath();
    if (!IsRegularFile(sourcePath))
        return {};
    job.Start();

    NFilePSDK source(sourcePath, NFilePSDK::Form::Reading);
    if (!source.IsOpen())
        return job.Fail(JobFault::SourceOpen, kStatusAborted, sourcePath, source.LastError(), {});
    // A pipe or device that gives nothing more gives up when Abort is pressed.
    source.WatchAbort(&abort);

    // A plan that cannot be carried out whole is refused before any part file
    // exists: more lines than free part names, or a line that does not read
    // back.
    const std::string stem = PartStem(sourcePath, settings.partFolder);
    const std::size_t count = port.PlanLineCount();
    if (count > 0) {
        const FreeParts free = CountFreeParts(stem, count);
        if (free.count < count)
            return job.Fail(JobFault::TooManyParts, kStatusCreateFailed + free.first, free.first, 0, {&source});
    }
    std::vector<SplitEntry> entries;
    entries.reserve(count);
    std::int64_t total = 0;
    while (entries.size() < count) {
        if (job.AbortRequested())
            return job.Finish({&source});
        const std::vector<std::string> lines = port.PlanLines(entries.size(), kLineBatch);
        if (lines.empty())
            break;
        for (const std::string& line : lines) {
            SplitEntry entry;
            if (!ReadEntry(line, entry) || entry.start < 0 || entry.end < entry.start) {
                JobResult result = job.Fail(JobFault::PlanLine, kStatusAborted, sourcePath, 0, {&source});
                result.line = entries.size();
                return result;
            }
            entries.push_back(entry);
            total = SaturatedAdd(total, entry.end - entry.start);
        }
    }
    if (!job.AllocateBuffer(total))
        return job.Fail(JobFault::NoMemory, kStatusNoMemory, {}, ENOMEM, {&source});

    for (const SplitEntry& entry : entries) {
        if (job.AbortRequested())
            break;
        std::string name;
        NFilePSDK part = CreatePart(stem, name);
        if (!part.IsOpen())
            return job.Fail(JobFault::PartCreate, kStatusCreateFailed + name, name, part.LastError(), {&source});
        part.WatchAbort(&abort);
        if (!source.Seek(entry.start, 0))
            return job.Fail(JobFault::Read, kStatusReadFailed + sourcePath, sourcePath, source.LastError(),
                            {&part, &source});
        const Transfer::Copy copy = job.CopyPiece(source, part, name, entry.end - entry.start, false);
        if (copy != Transfer::Copy::Done)
            return job.EndAfter(copy, source, sourcePath, part, name, name, {&part, &source});
        if (settings.flushEveryPart && !part.Flush())
            return job.Fail(JobFault::Write, kStatusWriteFailed + name, name, part.LastError(), {&part, &source});
    }
    return job.Finish({&source});
}

}  // namespace tessera
