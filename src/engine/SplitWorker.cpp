#include <cerrno>
#include <optional>
#include <vector>

#include "Checksums.h"
#include "Jobs.h"
#include "Manifest.h"
#include "PartNames.h"
#include "Transfer.h"
#include "fileio/FileQuery.h"
#include "engine/recovery/Par2Create.h"
#include "plan/SplitEntry.h"

namespace tessera {

using detail::SaturatedAdd;
using detail::Transfer;

namespace {

// A part name can be taken between the probe and the creation by another
// program; give up after this many such races.
constexpr int kCreateAttempts = 1000;


// The part file for the next entry, created exclusively at the lowest free
// name: should another program take the probed name first, the probe runs
// again. name is the name tried last (empty when none was free).
std::unique_ptr<NFile> CreatePart(const Transfer& job, const std::string& stem, std::string& name)
{
    std::unique_ptr<NFile> part;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        name = ProbeOutputName(stem, job.Files());
        if (name.empty())
            break;
        part = job.Open(name, NFilePSDK::Form::CreateNew);
        if (part->IsOpen() || part->LastError() != EEXIST)
            break;
    }
    if (!part) {
        part = std::make_unique<NFilePSDK>();
    }
    return part;
}

}  // namespace

JobResult RunSplitJob(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings)
{
    Transfer job(port, abort, settings);
    job.ClearAbort();
    const std::string sourcePath = port.SourcePath();
    // What is no regular file is not cut, and nothing shows it; the caller
    // names it from the result.
    if (!IsRegularFile(sourcePath, job.Files())) {
        JobResult result;
        result.fault = JobFault::SourceNotRegular;
        result.path = sourcePath;
        result.fileType = FileTypeAt(sourcePath, nullptr, job.Files());
        return result;
    }
    job.Start();

    // Looked at again on the open file (the name may have changed hands); a
    // file that holds more than its size says (a /proc file says 0) would be
    // cut as if it ended there.
    std::unique_ptr<NFile> source;
    const Admission admission = job.Admit(sourcePath, source);
    if (!admission.Admitted())
        return job.Fail(Transfer::Refused(admission, sourcePath, JobFault::SourceOpen, JobFault::SourceNotRegular), {});
    const std::int64_t size = admission.size;

    // A plan that cannot be carried out whole is refused before any part file
    // exists: more lines than free part names, a line that does not read
    // back, or one that ends past the end of the source.
    const std::string stem = PartStem(sourcePath, settings.partFolder);
    const std::size_t count = port.PlanLineCount();
    std::vector<std::string> names;
    if (count > 0) {
        const FreeParts free = CountFreeParts(stem, count, job.Files());
        // A name that cannot even be looked up fails as its creation would.
        if (free.error != 0)
            return job.Fail(JobFault::PartCreate, free.first, free.error, {source.get()});
        if (free.count < count)
            return job.Fail(JobFault::TooManyParts, free.first, 0, {source.get()});
        names = free.names;
    }
    std::vector<SplitEntry> entries;
    entries.reserve(count);
    std::int64_t total = 0;
    while (entries.size() < count) {
        if (job.AbortRequested())
            return job.Finish({source.get()});
        const std::vector<std::string> lines = port.PlanLines(entries.size(), kLineBatch);
        if (lines.empty())
            break;
        for (const std::string& line : lines) {
            SplitEntry entry;
            const bool reads = ReadEntry(line, entry) && entry.start >= 0 && entry.end >= entry.start;
            if (!reads || entry.end > size) {
                JobResult result;
                result.fault = reads ? JobFault::PlanPastEnd : JobFault::PlanLine;
                result.path = sourcePath;
                result.line = entries.size();
                result.size = size;
                return job.Fail(std::move(result), {source.get()});
            }
            entries.push_back(entry);
            total = SaturatedAdd(total, entry.end - entry.start);
        }
    }
    if (!job.AllocateBuffer(total))
        return job.Fail(JobFault::NoMemory, {}, ENOMEM, {source.get()});

    // The digests are taken from the source's ranges by threads of their
    // own, while the copy goes on as it would without them.
    std::optional<HashStreams> hashing;
    if (settings.checksums != nullptr) {
        std::vector<HashRange> ranges;
        ranges.reserve(entries.size());
        for (const SplitEntry& entry : entries)
            ranges.push_back({sourcePath, entry.start, entry.end - entry.start});
        HashSettings hash;
        hash.whole = settings.checksums->whole;
        hash.files = settings.checksums->files ? settings.checksums->files : &job.Files();
        hashing.emplace(std::move(ranges), std::move(hash), abort);
        job.AttachHashing(&*hashing);
        hashing->Start();
    }

    // The recovery set names its parts before they exist: by the names they
    // will take, which a part that ends up under another name (another
    // program took its name meanwhile) fails.
    Par2Creation* const recovery = settings.recovery;
    if (recovery != nullptr && names.size() == entries.size()) {
        std::vector<Par2Piece> pieces;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].end > entries[i].start)
                pieces.push_back({NameOf(names[i]), entries[i].start, entries[i].end - entries[i].start});
        if (!pieces.empty() && !recovery->Start(sourcePath, std::move(pieces), job.Files()))
            return job.Fail(JobFault::Read, recovery->FaultPath(), recovery->FaultError(), {source.get()});
    }

    for (std::size_t index = 0; index < entries.size(); ++index) {
        const SplitEntry& entry = entries[index];
        if (job.AbortRequested())
            break;
        std::string name;
        const std::unique_ptr<NFile> part = CreatePart(job, stem, name);
        if (!part->IsOpen())
            return job.Fail(JobFault::PartCreate, name, part->LastError(), {source.get()});
        if (recovery != nullptr && (index >= names.size() || name != names[index]))
            return job.Fail(JobFault::PartCreate, index < names.size() ? names[index] : name, EEXIST,
                            {part.get(), source.get()});
        if (!source->Seek(entry.start, 0))
            return job.Fail(JobFault::Read, sourcePath, source->LastError(), {part.get(), source.get()});
        const Transfer::Copy copy = job.CopyPiece(*source, *part, name, entry.start, entry.end - entry.start, false);
        if (copy != Transfer::Copy::Done)
            return job.EndAfter(copy, *source, sourcePath, *part, name, name, size, {part.get(), source.get()});
        // A digest says what the part holds only if it holds its range, no
        // more and no less.
        if (hashing && part->GetSize() != entry.end - entry.start)
            return job.Fail(JobFault::Write, name, part->LastError(), {part.get(), source.get()});
        if (settings.flushEveryPart && !part->Flush())
            return job.Fail(JobFault::Write, name, part->LastError(), {part.get(), source.get()});
    }
    if (recovery != nullptr && !job.AbortRequested() && !recovery->Wait() && recovery->Failed())
        return job.Fail(recovery->FaultInWriting() ? JobFault::Write : JobFault::Read, recovery->FaultPath(),
                        recovery->FaultError(), {source.get()});
    if (hashing && !job.AbortRequested()) {
        const bool complete = job.AwaitHashing();
        if (hashing->Failed())
            return job.FailHashing(*hashing, {source.get()});
        if (complete) {
            settings.checksums->digests.clear();
            for (const RangeDigest& piece : hashing->Pieces())
                settings.checksums->digests.push_back(piece.digest);
            settings.checksums->wholeDigest = hashing->Whole();
        }
    }
    return job.Finish({source.get()});
}

}  // namespace tessera
