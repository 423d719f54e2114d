#include "StreamSplit.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Checksums.h"
#include "JobRun.h"
#include "JoinedParts.h"
#include "Manifest.h"
#include "ManifestFiles.h"
#include "PartFilter.h"
#include "PartNames.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Create.h"
#include "engine/recovery/Par2Layout.h"
#include "engine/recovery/Par2Reader.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"
#include "fileio/StagedFile.h"

namespace tessera {

namespace {

// The bytes a snapped cut holds back in memory before it sets them aside in
// a nameless file: with the read block, well within 64 MiB.
constexpr std::size_t kPendingBound = 32 << 20;

// Where a stream's parts go: a staged file each, renamed into place once
// whole; or, with a command, that command's standard input. Every part is
// numbered from first on.
class PartSink final : public StreamParts {
public:
    PartSink(std::string stem, int first, const std::string& filter, const FileSystem& files, bool flush,
             bool streamingCache, std::atomic<bool>& abort)
        : stem_(std::move(stem)),
          first_(first),
          filter_(filter),
          files_(files),
          flush_(flush),
          cacheUse_(streamingCache ? NFile::CacheUse::Streaming : NFile::CacheUse::Cached),
          abort_(abort)
    {
    }

    int Begin(std::size_t index) override
    {
        const std::size_t number = static_cast<std::size_t>(first_) + index;
        if (number >= static_cast<std::size_t>(kPartNumbers)) {
            tooMany_ = true;
            name_.clear();
            return EFBIG;
        }
        name_ = PartName(stem_, static_cast<int>(number));
        open_ = true;
        commitFault_ = false;
        filterFault_ = false;
        if (!filter_.empty()) {
            command_ = std::make_unique<PartFilter>();
            closed_ = false;
            return command_->Start(filter_, name_);
        }
        part_ = stage_.Create(name_, files_);
        if (!part_->IsOpen())
            return part_->LastError() != 0 ? part_->LastError() : EIO;
        part_->WatchAbort(&abort_);
        part_->SetCacheUse(cacheUse_);
        return 0;
    }

    std::int64_t Take(NFile& input, std::size_t size) override
    {
        fault_ = 0;
        if (command_ || !part_)
            return -1;
        const std::int64_t moved = input.CopyTo(*part_, static_cast<std::uint32_t>(size));
        if (moved >= 0 && static_cast<std::size_t>(moved) < size)
            fault_ = part_->LastError();
        return moved;
    }

    int Fault() const override { return fault_; }

    int Write(const std::uint8_t* bytes, std::size_t size) override
    {
        NFile& out = command_ ? command_->Input() : *part_;
        // A command that stopped reading has what it wanted of its part.
        if (closed_)
            return 0;
        while (size > 0) {
            const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30));
            const std::uint32_t wrote = out.Write(bytes, chunk);
            if (wrote != chunk) {
                if (command_ && out.LastError() == EPIPE) {
                    closed_ = true;
                    return 0;
                }
                return out.LastError() != 0 ? out.LastError() : EIO;
            }
            bytes += chunk;
            size -= chunk;
        }
        return 0;
    }

    int End() override
    {
        open_ = false;
        if (command_) {
            const PartFilter::Exit exit = command_->Finish();
            command_.reset();
            if (!exit.Success()) {
                filterFault_ = true;
                filterExit_ = exit.exited ? exit.status : -exit.signal;
                return ECHILD;
            }
        } else {
            if (flush_ && !part_->Flush())
                return part_->LastError() != 0 ? part_->LastError() : EIO;
            part_->Close();
            part_.reset();
            if (const int error = stage_.Commit(false); error != 0) {
                commitFault_ = true;
                return error;
            }
        }
        written_.push_back(name_);
        return 0;
    }

    void Abandon() override
    {
        open_ = false;
        abandoned_ = name_;
        if (command_) {
            (void)command_->Finish();
            command_.reset();
        }
        part_.reset();
        stage_.Discard();
    }

    // The part begun last, and whether it is still open.
    [[nodiscard]] const std::string& Name() const { return name_; }
    [[nodiscard]] const std::string& Abandoned() const { return abandoned_; }
    [[nodiscard]] const std::vector<std::string>& Written() const { return written_; }
    [[nodiscard]] bool TooMany() const { return tooMany_; }
    // The last End failed because the name was taken meanwhile (EEXIST) or
    // could not be renamed to.
    [[nodiscard]] bool CommitFault() const { return commitFault_; }
    [[nodiscard]] bool FilterFault() const { return filterFault_; }
    [[nodiscard]] int FilterExit() const { return filterExit_; }

private:
    std::string stem_;
    int first_;
    const std::string& filter_;
    const FileSystem& files_;
    bool flush_;
    NFile::CacheUse cacheUse_;
    std::atomic<bool>& abort_;
    int fault_ = 0;
    StagedFile stage_;
    std::unique_ptr<NFile> part_;
    std::unique_ptr<PartFilter> command_;
    bool closed_ = false;
    bool open_ = false;
    bool tooMany_ = false;
    bool commitFault_ = false;
    bool filterFault_ = false;
    int filterExit_ = 0;
    std::string name_;
    std::string abandoned_;
    std::vector<std::string> written_;
};

JobResult Fault(JobFault fault, const std::string& path, int error)
{
    JobResult result;
    result.end = JobEnd::Failed;
    result.fault = fault;
    result.path = path;
    result.error = error;
    return result;
}

// Something other than a file or a link stands at path.
bool NoFileAt(const std::string& path, const FileSystem& files)
{
    const std::uint32_t type = EntryTypeAt(path, files);
    return type != 0 && type != S_IFREG && type != S_IFLNK;
}

}  // namespace

JobResult RunStreamSplit(const SplitRequest& request, JobReporter& reporter, std::atomic<bool>& abort)
{
    RunReports reports(reporter, abort);
    const JobSettings& settings = request.settings;
    const FileSystem& files = settings.files ? *settings.files : RealFiles();
    const bool filtered = !request.filter.empty();
    reports.Start();

    SplitManifest manifest;
    SideFile manifestSide;
    SideFile setSide;
    std::vector<WrittenPart> written;
    std::int64_t read = 0;
    const auto end = [&](JobResult result) {
        manifest.Discard();
        result.parts = std::move(written);
        result.checksumFile = manifestSide;
        result.recoverySet = setSide;
        result.streamRead = read;
        return reports.End(std::move(result), read, read);
    };

    // The run of names: from .000 unless numbered after what exists; a part
    // of an earlier run refuses it. Filtered parts are no files here.
    const std::string stem = PartStem(request.source, request.folder);
    int first = 0;
    if (!filtered) {
        int error = 0;
        const int highest = HighestTakenPart(stem, files, &error);
        if (error != 0)
            return end(Fault(JobFault::PartCreate, PartName(stem, highest + 1), error));
        if (highest >= 0) {
            if (request.numbering == PartNumbering::AfterExisting) {
                first = highest + 1;
                if (first >= kPartNumbers)
                    return end(Fault(JobFault::TooManyParts, "", 0));
            } else {
                int lowest = 0;
                while (lowest < highest && EntryTypeAt(PartName(stem, lowest), files) == 0)
                    ++lowest;
                return end(Fault(JobFault::PartsExist, PartName(stem, lowest), EEXIST));
            }
        }
    }

    // The checksum file's name is taken now; written once the stream ends.
    if (request.checksums) {
        manifestSide.path = ManifestPath(request.source, request.folder);
        const auto refuse = [&](SideState state, int error) {
            manifestSide.state = state;
            manifestSide.error = error;
            return end(Fault(JobFault::ChecksumFile, manifestSide.path, error));
        };
        if (NoFileAt(manifestSide.path, files))
            return refuse(SideState::NotAFile, 0);
        manifestSide.why = Sha256::Load();
        if (!manifestSide.why.empty())
            return refuse(SideState::NoSha256, 0);
        switch (manifest.Reserve(request.source, request.folder, request.replace)) {
        case ManifestFileFault::None: break;
        case ManifestFileFault::IsSource: return refuse(SideState::IsSource, 0);
        case ManifestFileFault::Exists: return refuse(SideState::Exists, EEXIST);
        default: return refuse(SideState::Create, manifest.Error());
        }
        manifestSide.state = SideState::NotWritten;
    }

    // The recovery set's volumes depend on the parts' lengths, known only at
    // the end: what can be known now is looked at now.
    const std::string index = stem + ".par2";
    const bool wantsSet = request.recovery.amount > 0 && !filtered;
    std::optional<std::string> staleSet;
    if (wantsSet) {
        setSide.path = index;
        const auto refuse = [&](SideState state, const std::string& path, int error) {
            setSide.state = state;
            setSide.error = error;
            return end(Fault(JobFault::RecoverySet, path, error));
        };
        if (const Par2LayoutFault grain = CheckPar2Grain(request.recovery); grain != Par2LayoutFault::None) {
            setSide.layoutFault = static_cast<int>(grain);
            return refuse(SideState::Layout, index, 0);
        }
        std::vector<std::string> existing = Par2SetFiles(index);
        for (const std::string& name : existing) {
            if (NoFileAt(name, files))
                return refuse(SideState::NotAFile, name, 0);
            if (EntryTypeAt(name, files) != 0 && !request.replace)
                return refuse(SideState::Exists, name, EEXIST);
        }
        setSide.state = SideState::NotWritten;
    } else if (!filtered && EntryTypeAt(index, files) != 0) {
        setSide.state = SideState::Stale;
        setSide.path = index;
        if (request.replace)
            staleSet = index;
    }
    if (staleSet) {
        for (const std::string& file : Par2SetFiles(*staleSet))
            (void)files.Remove(file);
        setSide.state = SideState::Removed;
    }

    // The stream, read once.
    std::optional<NFilePSDK> standardInput;
    NFile* input = request.stream.input;
    if (!input) {
        standardInput.emplace(NFilePSDK::StandardInput());
        input = &*standardInput;
    }
    PartSink sink(stem, first, request.filter, files, settings.flushEveryPart, settings.streamingCache, abort);
    StreamCutSettings cutting;
    cutting.digests = manifestSide.state == SideState::NotWritten;
    cutting.pendingBound = kPendingBound;
    cutting.kernelCopy = settings.kernelCopy;
    const std::string folder = FolderOf(stem);
    cutting.spill = [folder] { return std::make_unique<NFilePSDK>(NFilePSDK::Scratch(folder)); };
    cutting.progress = [&](std::int64_t bytes) {
        read = bytes;
        reports.Progress(0, bytes, 0);
    };
    const StreamCutResult cut = CutStream(*input, request.stream.cut, sink, abort, cutting);
    read = cut.read;
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < sink.Written().size() && i < cut.lengths.size(); ++i) {
        written.push_back({sink.Written()[i], offset, cut.lengths[i]});
        offset += cut.lengths[i];
    }
    JobResult result;
    result.cutShort = sink.Abandoned();
    switch (cut.end) {
    case StreamCutResult::End::Finished: break;
    case StreamCutResult::End::Aborted:
        result.end = JobEnd::Aborted;
        result.path = sink.Abandoned();
        return end(std::move(result));
    case StreamCutResult::End::ReadFailed:
        result.end = JobEnd::Failed;
        result.fault = JobFault::StreamRead;
        result.path = request.source;
        result.error = cut.error;
        return end(std::move(result));
    case StreamCutResult::End::PartFailed:
        result.end = JobEnd::Failed;
        result.path = sink.Name();
        result.error = cut.error;
        if (sink.TooMany()) {
            result.fault = JobFault::TooManyParts;
        } else if (sink.FilterFault()) {
            result.fault = JobFault::Filter;
            result.filterExit = sink.FilterExit();
            result.error = 0;
        } else if (sink.CommitFault() && cut.error == EEXIST) {
            result.fault = JobFault::PartsExist;
        } else {
            result.fault = sink.CommitFault() || (result.cutShort.empty() && !filtered) ? JobFault::PartCreate
                                                                                        : JobFault::Write;
        }
        return end(std::move(result));
    case StreamCutResult::End::SpillFailed:
        result.end = JobEnd::Failed;
        result.fault = JobFault::Write;
        result.path = folder;
        result.error = cut.error;
        return end(std::move(result));
    }
    result.end = JobEnd::Finished;

    // The stream ended by itself: the checksum file, then the set.
    if (manifestSide.state == SideState::NotWritten) {
        if (written.empty()) {
            manifestSide.state = SideState::NoBytes;
        } else {
            JobChecksums checks;
            checks.digests = cut.digests;
            if (!manifest.WriteFor(written, checks, settings.flushEveryPart, manifestSide))
                return end(Fault(JobFault::ChecksumFile, manifestSide.path, manifest.Error()));
            manifestSide.state = SideState::Written;
        }
    }
    if (!wantsSet)
        return end(std::move(result));

    // The set, laid out for the parts' lengths and made from the parts read
    // back as if they were the source (from the page cache, as a rule).
    std::vector<std::int64_t> lengths;
    for (const WrittenPart& part : written)
        lengths.push_back(part.length);
    Par2Planned planned = PlanPar2(lengths, request.recovery);
    if (planned.fault != Par2LayoutFault::None) {
        setSide.state = SideState::Layout;
        setSide.layoutFault = static_cast<int>(planned.fault);
        setSide.needed = planned.needed;
        setSide.limit = planned.limit;
        return end(Fault(JobFault::RecoverySet, index, 0));
    }
    if (written.empty() || planned.layout.sliceSize == 0) {
        setSide.state = SideState::NoBytes;
        return end(std::move(result));
    }
    setSide.reach = Par2ReachOf(lengths, planned.layout.sliceSize, planned.layout.recoverySlices);
    setSide.files = Par2Names(stem, planned.layout);
    std::vector<JoinedPart> joined;
    std::vector<Par2Piece> pieces;
    for (const WrittenPart& part : written) {
        joined.push_back({part.path, part.length});
        if (part.length > 0)
            pieces.push_back({NameOf(part.path), part.offset, part.length});
    }
    const JoinedPartsFiles readBack(stem, std::move(joined), files);
    Par2Creation creation(std::move(planned.layout), request.creator, abort);
    if (const int error = creation.Reserve(stem, request.replace); error != 0) {
        setSide.state = error == EEXIST && !request.replace ? SideState::Exists : SideState::Create;
        setSide.error = error;
        return end(Fault(JobFault::RecoverySet, creation.FaultPath(), error));
    }
    if (!creation.Start(stem, std::move(pieces), readBack) || (!creation.Wait() && creation.Failed())) {
        setSide.state = SideState::Write;
        setSide.error = creation.FaultError();
        return end(Fault(creation.FaultInWriting() ? JobFault::Write : JobFault::Read, creation.FaultPath(),
                         creation.FaultError()));
    }
    if (abort.load()) {
        result.end = JobEnd::Aborted;
        return end(std::move(result));
    }
    if (const int error = creation.Commit(settings.flushEveryPart); error != 0) {
        setSide.state = SideState::Write;
        setSide.error = error;
        return end(Fault(JobFault::RecoverySet, creation.FaultPath(), error));
    }
    setSide.state = SideState::Written;
    return end(std::move(result));
}

}  // namespace tessera
