#include "SplitRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "Checksums.h"
#include "JobRun.h"
#include "Manifest.h"
#include "ManifestFiles.h"
#include "PartFilter.h"
#include "PartNames.h"
#include "StreamSplit.h"
#include "Transfer.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Create.h"
#include "engine/recovery/Par2Layout.h"
#include "engine/recovery/Par2Reader.h"
#include "fileio/FileQuery.h"
#include "fileio/StagedFile.h"

namespace tessera {

using detail::SaturatedAdd;
using detail::Transfer;

namespace {

// A part name can be taken between the probe and the creation by another
// program; give up after this many such races.
constexpr int kCreateAttempts = 1000;
// A run of part names after the highest that exists is looked for again
// this many times when another program takes one of them meanwhile.
constexpr int kReserveAttempts = 100;

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
    if (!part)
        part = std::make_unique<NFilePSDK>();
    return part;
}

// Something other than a file or a link stands at path: neither a new file
// nor a rename can take its place.
bool NoFileAt(const std::string& path, const FileSystem& files)
{
    const std::uint32_t type = EntryTypeAt(path, files);
    return type != 0 && type != S_IFREG && type != S_IFLNK;
}

JobResult Fault(JobFault fault, const std::string& path, int error)
{
    JobResult result;
    result.fault = fault;
    result.path = path;
    result.error = error;
    return result;
}

// Hands the part at name, entry's range of source, to `sh -c command` on its
// standard input. A command that stops reading early only loses the rest of
// its part; one that fails fails the split. JobEnd::NotStarted when the part
// went through.
JobResult HandToFilter(Transfer& job, NFile& source, const std::string& sourcePath, std::int64_t size,
                       const std::string& name, const SplitEntry& entry, const std::string& command)
{
    PartFilter filter;
    if (const int error = filter.Start(command, name); error != 0)
        return job.Fail(JobFault::Filter, name, error, {&source});
    if (!source.Seek(entry.start, 0))
        return job.Fail(JobFault::Read, sourcePath, source.LastError(), {&source});
    const Transfer::Copy copy = job.CopyPiece(source, filter.Input(), name, entry.start, entry.end - entry.start, false);
    const bool closed = copy == Transfer::Copy::WriteFailed && filter.Input().LastError() == EPIPE;
    if (copy != Transfer::Copy::Done && !closed) {
        const int error = filter.Input().LastError();
        (void)filter.Finish();
        if (copy == Transfer::Copy::WriteFailed)
            return job.Fail(JobFault::Write, name, error, {&source});
        return job.EndAfter(copy, source, sourcePath, filter.Input(), name, name, size, {&source});
    }
    const PartFilter::Exit exit = filter.Finish();
    if (!exit.Success()) {
        JobResult result = Fault(JobFault::Filter, name, 0);
        result.filterExit = exit.exited ? exit.status : -exit.signal;
        return job.Fail(std::move(result), {&source});
    }
    return {};
}

// What a resumed split finds at a part's name.
enum class PartFound { Missing, Whole, Short, Differs };

// The part at name against its range of source: its size, then its bytes.
// A file that cannot be read counts as differing, and is named so.
PartFound ComparePart(const Transfer& job, NFile& source, const std::string& name, const SplitEntry& entry,
                      std::int64_t& size)
{
    size = 0;
    if (NameState(name, job.Files()) == ENOENT)
        return PartFound::Missing;
    std::unique_ptr<NFile> part;
    const Admission admission = job.Admit(name, part);
    if (!admission.Admitted())
        return PartFound::Differs;
    size = admission.size;
    const std::int64_t length = entry.end - entry.start;
    if (size > length)
        return PartFound::Differs;
    constexpr std::size_t kBlock = 1 << 20;
    std::vector<char> ours(kBlock), theirs(kBlock);
    for (std::int64_t at = 0; at < size;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kBlock, size - at));
        if (part->ReadAt(theirs.data(), want, static_cast<std::uint64_t>(at)) != static_cast<std::int64_t>(want) ||
            source.ReadAt(ours.data(), want, static_cast<std::uint64_t>(entry.start + at)) !=
                static_cast<std::int64_t>(want) ||
            std::memcmp(ours.data(), theirs.data(), want) != 0)
            return PartFound::Differs;
        at += static_cast<std::int64_t>(want);
    }
    return size == length ? PartFound::Whole : PartFound::Short;
}

}  // namespace

SplitRequest SplitRequestFrom(JobPort& port, SplitRequest rest)
{
    rest.source = port.SourcePath();
    rest.plan = port.PlanEntries(0, port.PlanEntryCount());
    return rest;
}

JobResult RunSplit(const SplitRequest& request, JobReporter& reporter, std::atomic<bool>& abort)
{
    // A stream is cut as it is read (StreamSplit.cpp).
    if (request.stream.on)
        return RunStreamSplit(request, reporter, abort);
    RunReports reports(reporter, abort);
    const JobSettings& settings = request.settings;
    Transfer job(reports, settings);
    job.ClearAbort();
    const std::string& sourcePath = request.source;
    const std::vector<SplitEntry>& plan = request.plan;
    // What is no regular file is not cut, and nothing shows it; the caller
    // names it from the result.
    if (!IsRegularFile(sourcePath, job.Files())) {
        JobResult result = Fault(JobFault::SourceNotRegular, sourcePath, 0);
        result.fileType = FileTypeAt(sourcePath, nullptr, job.Files());
        return result;
    }
    job.Start();

    // Every way out: what was created and not kept is gone before the end is
    // told, and the end carries the whole outcome.
    SplitManifest manifest;
    std::unique_ptr<Par2Creation> recovery;
    ReservedNames reserved;
    StagedFile stage;  // the part being written, when staged
    std::vector<WrittenPart> written;
    std::size_t kept = 0;
    SideFile manifestSide;
    SideFile setSide;
    const auto end = [&](JobResult result) {
        stage.Discard();
        reserved.Release();
        manifest.Discard();
        if (recovery)
            recovery->Discard();
        result.parts = std::move(written);
        result.kept = kept;
        result.checksumFile = manifestSide;
        result.recoverySet = setSide;
        return reports.End(std::move(result), job.Copied(), job.Total());
    };

    // Looked at again on the open file (the name may have changed hands); a
    // file that holds more than its size says (a /proc file says 0) would be
    // cut as if it ended there.
    std::unique_ptr<NFile> source;
    const Admission admission = job.Admit(sourcePath, source);
    if (!admission.Admitted())
        return end(job.Fail(Transfer::Refused(admission, sourcePath, JobFault::SourceOpen, JobFault::SourceNotRegular),
                            {}));
    const std::int64_t size = admission.size;

    // A plan that cannot be carried out whole is refused before any file is
    // created: more entries than free part names, an entry that runs
    // backwards, or one that ends past the end of the source.
    const std::string stem = PartStem(sourcePath, request.folder);
    const std::size_t count = plan.size();
    // Parts handed to a command are no files of ours: named in order from
    // .000, nothing created, reserved or looked at.
    const bool filtered = !request.filter.empty();
    const bool staged = request.numbering != PartNumbering::LowestFree && !filtered;
    std::vector<std::string> names;
    if (filtered) {
        if (count > static_cast<std::size_t>(kPartNumbers))
            return end(job.Fail(JobFault::TooManyParts, "", 0, {source.get()}));
        for (std::size_t i = 0; i < count; ++i)
            names.push_back(PartName(stem, static_cast<int>(i)));
    } else if (count > 0 && !staged) {
        const FreeParts free = CountFreeParts(stem, count, job.Files());
        // A name that cannot even be looked up fails as its creation would.
        if (free.error != 0)
            return end(job.Fail(JobFault::PartCreate, free.first, free.error, {source.get()}));
        if (free.count < count)
            return end(job.Fail(JobFault::TooManyParts, free.first, 0, {source.get()}));
        names = free.names;
    }
    std::int64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const SplitEntry& entry = plan[i];
        if (entry.start < 0 || entry.end < entry.start || entry.end > size) {
            JobResult result = Fault(entry.end > size && entry.start >= 0 && entry.end >= entry.start
                                         ? JobFault::PlanPastEnd
                                         : JobFault::PlanLine,
                                     sourcePath, 0);
            result.line = i;
            result.size = size;
            return end(job.Fail(std::move(result), {source.get()}));
        }
        total = SaturatedAdd(total, entry.end - entry.start);
    }

    // The checksum file's name, then the recovery set's, then the parts':
    // all taken before the first byte.
    const SplitChecksums sums = ChecksumsForSplit(plan, size);
    if (request.checksums) {
        manifestSide.path = ManifestPath(sourcePath, request.folder);
        const auto refuse = [&](SideState state, int error) {
            manifestSide.state = state;
            manifestSide.error = error;
            return end(job.Fail(JobFault::ChecksumFile, manifestSide.path, error, {source.get()}));
        };
        if (!sums.write) {
            manifestSide.state = SideState::NoBytes;
        } else {
            if (NoFileAt(manifestSide.path, job.Files()))
                return refuse(SideState::NotAFile, 0);
            manifestSide.why = Sha256::Load();
            if (!manifestSide.why.empty())
                return refuse(SideState::NoSha256, 0);
            switch (manifest.Reserve(sourcePath, request.folder, request.replace)) {
            case ManifestFileFault::None: break;
            case ManifestFileFault::IsSource: return refuse(SideState::IsSource, 0);
            case ManifestFileFault::Exists: return refuse(SideState::Exists, EEXIST);
            default: return refuse(SideState::Create, manifest.Error());
            }
            // Written once the parts are.
            manifestSide.state = SideState::NotWritten;
        }
    }
    bool staleSet = false;  // to be removed once the parts' names are taken
    if (filtered) {
        // No parts to make a set of, nor to find an earlier one beside.
    } else if (request.recovery.amount > 0) {
        Par2Planned planned = PlanPar2ForPlan(plan, request.recovery);
        Par2Layout layout = std::move(planned.layout);
        if (planned.fault != Par2LayoutFault::None) {
            setSide.state = SideState::Layout;
            setSide.layoutFault = static_cast<int>(planned.fault);
            setSide.needed = planned.needed;
            setSide.limit = planned.limit;
            return end(job.Fail(JobFault::RecoverySet, stem + ".par2", 0, {source.get()}));
        }
        if (layout.sliceSize == 0) {
            setSide.state = SideState::NoBytes;
        } else {
            std::vector<std::int64_t> lengths;
            lengths.reserve(count);
            for (const SplitEntry& entry : plan)
                lengths.push_back(entry.end - entry.start);
            setSide.reach = Par2ReachOf(lengths, layout.sliceSize, layout.recoverySlices);
            setSide.files = Par2Names(stem, layout);
            setSide.path = setSide.files.front();
            const auto refuse = [&](SideState state, const std::string& path, int error) {
                setSide.state = state;
                setSide.error = error;
                return end(job.Fail(JobFault::RecoverySet, path, error, {source.get()}));
            };
            for (const std::string& name : setSide.files) {
                if (NoFileAt(name, job.Files()))
                    return refuse(SideState::NotAFile, name, 0);
            }
            recovery = std::make_unique<Par2Creation>(std::move(layout), request.creator, abort);
            const int error = recovery->Reserve(stem, request.replace);
            if (error == EEXIST && !request.replace)
                return refuse(SideState::Exists, recovery->FaultPath(), error);
            if (error != 0)
                return refuse(SideState::Create, recovery->FaultPath(), error);
            setSide.state = SideState::NotWritten;
            // Said before the first byte.
            if (request.recovery.kind == Par2Ask::Kind::Percent && setSide.reach.lostParts == 0) {
                JobEvent note;
                note.kind = JobEvent::Kind::Note;
                note.note = JobNote::RecoveryShort;
                note.path = setSide.path;
                note.side = &setSide;
                reports.Send(note);
            }
        }
    } else {
        // An earlier split's set (its index, or only volumes of that base)
        // would "repair" these parts back to its own.
        std::vector<std::string> set = Par2SetFiles(stem + ".par2", job.Files());
        std::erase_if(set, [&](const std::string& file) {
            const std::uint32_t type = EntryTypeAt(file, job.Files());
            return type != S_IFREG && type != S_IFLNK;
        });
        if (!set.empty()) {
            setSide.state = SideState::Stale;
            setSide.path = set.front();
            setSide.files = std::move(set);
            staleSet = request.replace;
        }
    }
    // A resumed split: every part there compared before anything is written.
    std::vector<PartFound> found(count, PartFound::Missing);
    if (count > 0 && staged && request.resume) {
        for (std::size_t i = 0; i < count; ++i) {
            if (job.AbortRequested())
                return end(job.Finish({source.get()}));
            std::int64_t partSize = 0;
            found[i] = ComparePart(job, *source, names.empty() ? PartName(stem, static_cast<int>(i)) : names[i],
                                   plan[i], partSize);
            if (found[i] == PartFound::Differs) {
                JobResult result = Fault(JobFault::PartDiffers, PartName(stem, static_cast<int>(i)), 0);
                result.line = i;
                result.size = partSize;
                return end(job.Fail(std::move(result), {source.get()}));
            }
        }
        int error = 0;
        const int highest = HighestTakenPart(stem, job.Files(), &error);
        if (highest >= static_cast<int>(count)) {
            JobResult result = Fault(JobFault::PartDiffers, PartName(stem, highest), 0);
            result.line = static_cast<std::size_t>(highest);
            return end(job.Fail(std::move(result), {source.get()}));
        }
        // The names of the parts missing are taken; the others are there.
        names.clear();
        std::vector<std::string> missing;
        for (std::size_t i = 0; i < count; ++i) {
            names.push_back(PartName(stem, static_cast<int>(i)));
            if (found[i] == PartFound::Missing)
                missing.push_back(names.back());
        }
        std::size_t failed = 0;
        if (const int taken = reserved.Take(missing, job.Files(), &failed); taken != 0)
            return end(job.Fail(taken == EEXIST ? JobFault::PartsExist : JobFault::PartCreate, missing[failed], taken,
                                {source.get()}));
    } else if (count > 0 && staged) {
        int lastError = 0;
        for (int attempt = 0; attempt < kReserveAttempts; ++attempt) {
            int first = 0;
            if (request.numbering == PartNumbering::AfterExisting) {
                int error = 0;
                first = HighestTakenPart(stem, job.Files(), &error) + 1;
                if (error != 0)
                    return end(job.Fail(JobFault::PartCreate, PartName(stem, first), error, {source.get()}));
            }
            if (first + count > static_cast<std::size_t>(kPartNumbers))
                return end(job.Fail(JobFault::TooManyParts, first < kPartNumbers ? PartName(stem, first) : "", 0,
                                    {source.get()}));
            names.clear();
            for (std::size_t i = 0; i < count; ++i)
                names.push_back(PartName(stem, static_cast<int>(first + i)));
            std::size_t failed = 0;
            lastError = reserved.Take(names, job.Files(), &failed);
            if (lastError == 0)
                break;
            if (lastError != EEXIST)
                return end(job.Fail(JobFault::PartCreate, names[failed], lastError, {source.get()}));
            if (request.numbering == PartNumbering::FromZero)
                return end(job.Fail(JobFault::PartsExist, names[failed], EEXIST, {source.get()}));
        }
        if (lastError != 0)
            return end(job.Fail(JobFault::PartCreate, names.front(), lastError, {source.get()}));
    }
    if (staleSet) {
        setSide.state = SideState::Removed;
        for (const std::string& file : setSide.files) {
            if (const int error = job.Files().Remove(file); error != 0 && error != ENOENT) {
                // Still there: said as a set left beside the parts.
                setSide.state = SideState::Stale;
                setSide.path = file;
                setSide.error = error;
            }
        }
    }

    if (!job.AllocateBuffer(total))
        return end(job.Fail(JobFault::NoMemory, {}, ENOMEM, {source.get()}));

    // The digests are taken from the source's ranges by threads of their
    // own, while the copy goes on as it would without them.
    JobChecksums checks;
    checks.whole = sums.whole;
    std::optional<HashStreams> hashing;
    const bool writesManifest = manifestSide.state == SideState::NotWritten;
    if (writesManifest) {
        std::vector<HashRange> ranges;
        ranges.reserve(count);
        for (const SplitEntry& entry : plan)
            ranges.push_back({sourcePath, entry.start, entry.end - entry.start});
        HashSettings hash;
        hash.whole = checks.whole;
        hash.files = settings.hashFiles ? settings.hashFiles : &job.Files();
        hashing.emplace(std::move(ranges), std::move(hash), abort);
        job.AttachHashing(&*hashing);
        hashing->Start();
    }

    // The recovery set names its parts before they exist: by the names they
    // will take, which a part that ends up under another name (another
    // program took its name meanwhile) fails.
    if (recovery) {
        std::vector<Par2Piece> pieces;
        for (std::size_t i = 0; i < count; ++i) {
            if (plan[i].end > plan[i].start)
                pieces.push_back({NameOf(names[i]), plan[i].start, plan[i].end - plan[i].start});
        }
        if (!recovery->Start(sourcePath, std::move(pieces), job.Files()))
            return end(job.Fail(JobFault::Read, recovery->FaultPath(), recovery->FaultError(), {source.get()}));
    }

    std::size_t reservedIndex = 0;  // of a resumed split's missing parts
    for (std::size_t index = 0; index < count; ++index) {
        const SplitEntry& entry = plan[index];
        if (job.AbortRequested())
            break;
        // A resumed split keeps what is there whole.
        if (found[index] == PartFound::Whole) {
            written.push_back({names[index], entry.start, entry.end - entry.start});
            ++kept;
            continue;
        }
        std::string name;
        std::unique_ptr<NFile> part;
        if (filtered) {
            if (JobResult failed = HandToFilter(job, *source, sourcePath, size, names[index], entry, request.filter);
                failed.end != JobEnd::NotStarted)
                return end(std::move(failed));
            written.push_back({names[index], entry.start, entry.end - entry.start});
            continue;
        }
        if (staged) {
            name = names[index];
            part = stage.Create(name, job.Files());
            part->WatchAbort(&abort);
        } else {
            part = CreatePart(job, stem, name);
        }
        if (!part->IsOpen())
            return end(job.Fail(JobFault::PartCreate, name, part->LastError(), {source.get()}));
        if (recovery && name != names[index])
            return end(job.Fail(JobFault::PartCreate, names[index], EEXIST, {part.get(), source.get()}));
        if (!source->Seek(entry.start, 0))
            return end(job.Fail(JobFault::Read, sourcePath, source->LastError(), {part.get(), source.get()}));
        const Transfer::Copy copy = job.CopyPiece(*source, *part, name, entry.start, entry.end - entry.start, false);
        if (copy != Transfer::Copy::Done)
            return end(job.EndAfter(copy, *source, sourcePath, *part, name, name, size, {part.get(), source.get()}));
        // A digest says what the part holds only if it holds its range, no
        // more and no less.
        if (hashing && part->GetSize() != entry.end - entry.start)
            return end(job.Fail(JobFault::Write, name, part->LastError(), {part.get(), source.get()}));
        if (settings.flushEveryPart && !part->Flush())
            return end(job.Fail(JobFault::Write, name, part->LastError(), {part.get(), source.get()}));
        if (staged) {
            part->Close();
            if (const int error = stage.Commit(true); error != 0)
                return end(job.Fail(JobFault::PartCreate, name, error, {source.get()}));
            if (!request.resume)
                reserved.Filled(index);
            else if (found[index] == PartFound::Missing)
                reserved.Filled(reservedIndex++);
        }
        written.push_back({name, entry.start, entry.end - entry.start});
    }
    if (recovery && !job.AbortRequested() && !recovery->Wait() && recovery->Failed())
        return end(job.Fail(recovery->FaultInWriting() ? JobFault::Write : JobFault::Read, recovery->FaultPath(),
                            recovery->FaultError(), {source.get()}));
    if (hashing && !job.AbortRequested()) {
        const bool complete = job.AwaitHashing();
        if (hashing->Failed())
            return end(job.FailHashing(*hashing, {source.get()}));
        if (complete) {
            for (const RangeDigest& piece : hashing->Pieces())
                checks.digests.push_back(piece.digest);
            checks.wholeDigest = hashing->Whole();
        }
    }
    JobResult result = job.Finish({source.get()});
    if (result.end != JobEnd::Finished)
        return end(std::move(result));

    // Put in place only after every part is whole.
    if (writesManifest) {
        if (!manifest.WriteFor(written, checks, settings.flushEveryPart, manifestSide)) {
            result = Fault(JobFault::ChecksumFile, manifestSide.path, manifest.Error());
            result.end = JobEnd::Failed;
            return end(std::move(result));
        }
        manifestSide.state = SideState::Written;
    }
    if (recovery) {
        if (const int error = recovery->Commit(settings.flushEveryPart); error != 0) {
            setSide.state = SideState::Write;
            setSide.error = error;
            result = Fault(JobFault::RecoverySet, recovery->FaultPath(), error);
            result.end = JobEnd::Failed;
            return end(std::move(result));
        }
        setSide.state = SideState::Written;
    }
    return end(std::move(result));
}

}  // namespace tessera
