#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "Checksums.h"
#include "JoinRun.h"
#include "ManifestFiles.h"
#include "Transfer.h"
#include "engine/kernels/Sha256.h"
#include "fileio/FileQuery.h"
#include "fileio/StagedFile.h"

namespace tessera {

using detail::SaturatedAdd;
using detail::Transfer;

namespace {

JobResult Fault(JobFault fault, const std::string& path, int error)
{
    JobResult result;
    result.fault = fault;
    result.path = path;
    result.error = error;
    return result;
}

}  // namespace

JoinRequest JoinRequestFrom(JobPort& port, JoinRequest rest)
{
    rest.destination = port.DestinationPath();
    rest.inputs = port.Inputs(0, port.InputCount());
    return rest;
}

JobResult RunJoin(const JoinRequest& request, JobReporter& reporter, std::atomic<bool>& abort)
{
    RunReports reports(reporter, abort);
    const JobSettings& settings = request.settings;
    Transfer job(reports, settings);
    job.ClearAbort();
    job.Start();
    SideFile checked;
    StagedFile stage;  // the destination, when staged
    // What was staged and not put in place is gone before the end is told.
    const auto end = [&](JobResult result) {
        stage.Discard();
        result.checksumFile = checked;
        return reports.End(std::move(result), job.Copied(), job.Total());
    };

    const std::string& destinationPath = request.destination;
    const std::vector<std::string>& inputs = request.inputs;

    // The checksum file the inputs are checked against, read and matched
    // with them before anything is opened.
    JobChecksums checks;
    bool checking = false;
    if (request.check != JoinCheck::None) {
        JoinManifest manifest = request.check == JoinCheck::Given ? ReadJoinManifest(request.manifest, inputs)
                                                                  : ManifestBesideInputs(inputs, request.series);
        if (!manifest.path.empty()) {
            checked.path = manifest.path;
            if (request.check == JoinCheck::Beside)
                reports.Note(JobNote::CheckingAgainst, manifest.path);
            if (!manifest.Usable()) {
                checked.state = SideState::Unusable;
                checked.readFault = static_cast<int>(manifest.read.fault);
                checked.readLine = manifest.read.line;
                checked.error = manifest.read.error;
                checked.admission = manifest.read.admission;
                checked.matchFault = static_cast<int>(manifest.match.fault);
                checked.matchInput = manifest.match.input;
                return end(job.Fail(JobFault::ChecksumFile, manifest.path, manifest.read.error, {}));
            }
            checked.why = Sha256::Load();
            if (!checked.why.empty()) {
                checked.state = SideState::NoSha256;
                if (!request.uncheckedWithoutSha256)
                    return end(job.Fail(JobFault::ChecksumFile, manifest.path, 0, {}));
            } else {
                ExpectDigests(manifest, checks);
                checking = true;
                checked.state = SideState::Checked;
            }
        }
    }

    // One of the inputs is the destination: said first, whatever else is
    // wrong with the destination, since nothing else can mend it.
    const FileSystem& files = job.Files();
    const bool toStream = request.stream != nullptr;
    for (const std::string& path : toStream ? std::vector<std::string>{} : inputs) {
        if (SameFile(destinationPath, path, files))
            return end(job.Fail(JobFault::DestinationListed, destinationPath, 0, {}));
    }

    // A destination that is there already is not replaced unless asked; a
    // pipe or device is written, never replaced; a symlink that leads nowhere
    // is never written through.
    const std::uint32_t existing = toStream ? S_IFIFO : FileTypeAt(destinationPath, nullptr, files);
    const bool direct = toStream || (existing != 0 && existing != S_IFREG && existing != S_IFDIR);
    const bool staged = request.stage && !direct;
    if (!toStream && existing == 0 && EntryTypeAt(destinationPath, files) == S_IFLNK &&
        !(staged && request.replace)) {
        JobResult result = Fault(JobFault::DestinationExists, destinationPath, EEXIST);
        result.fileType = S_IFLNK;
        return end(job.Fail(std::move(result), {}));
    }
    if (!request.replace && !direct && !toStream) {
        // A name that cannot be looked up is reported as what it is.
        const int state = NameState(destinationPath, files);
        if (state == 0)
            return end(job.Fail(JobFault::DestinationExists, destinationPath, EEXIST, {}));
        if (state != ENOENT)
            return end(job.Fail(JobFault::DestinationOpen, destinationPath, state, {}));
    }

    // The inputs are looked at while the destination is still intact: one
    // that cannot be opened would fail the job after the destination's old
    // contents were gone.
    std::vector<std::int64_t> sizes;
    sizes.reserve(inputs.size());
    std::int64_t total = 0;
    for (const std::string& path : inputs) {
        if (job.AbortRequested())
            return end(job.Finish({}));
        // What is no regular file is refused by its name first (a device is
        // never opened), then by the open file (the name may change hands);
        // so is a file that holds more than its size says.
        std::unique_ptr<NFile> input;
        const Admission admission = job.Admit(path, input);
        if (!admission.Admitted())
            return end(
                job.Fail(Transfer::Refused(admission, path, JobFault::InputOpen, JobFault::InputNotRegular), {}));
        total = SaturatedAdd(total, admission.size);
        sizes.push_back(admission.size);
    }

    // Standard output is the caller's: written through a file of our own.
    class Borrowed final : public NFile {
    public:
        explicit Borrowed(NFile& file) : file_(file) {}
        bool IsOpen() const override { return file_.IsOpen(); }
        void Close() override {}
        std::uint32_t Read(void* b, std::uint32_t n) override { return file_.Read(b, n); }
        std::uint32_t Write(const void* b, std::uint32_t n) override { return file_.Write(b, n); }
        bool Seek(std::int64_t offset, int origin) override { return file_.Seek(offset, origin); }
        void SetBufferSize(std::uint32_t size) override { file_.SetBufferSize(size); }
        std::int64_t GetSize() override { return file_.GetSize(); }
        bool Flush() override { return file_.Flush(); }
        int LastError() const override { return file_.LastError(); }
        std::uint32_t FileType() override { return file_.FileType(); }
        tessera::FileStatus Status() const override { return file_.Status(); }
        std::int64_t ReadAt(void* b, std::size_t n, std::uint64_t at) const override { return file_.ReadAt(b, n, at); }
        void WatchAbort(const std::atomic<bool>* abort) override { file_.WatchAbort(abort); }
        NFile& Backing() override { return file_.Backing(); }

    private:
        NFile& file_;
    };
    std::unique_ptr<NFile> destination;
    if (toStream)
        destination = std::make_unique<Borrowed>(*request.stream);
    else if (staged)
        destination = stage.Create(destinationPath, job.Files());
    else
        destination = job.Open(destinationPath, request.replace || direct ? NFilePSDK::Form::Writing
                                                                           : NFilePSDK::Form::CreateNew);
    destination->WatchAbort(&abort);
    if (!destination->IsOpen()) {
        const int error = destination->LastError();
        JobResult result = Fault(error == EEXIST && !request.replace ? JobFault::DestinationExists
                                                                     : JobFault::DestinationOpen,
                                 destinationPath, error);
        // A folder, or a pipe nobody reads: what stands there is named.
        if (existing != S_IFREG)
            result.fileType = existing;
        return end(job.Fail(std::move(result), {}));
    }
    if (!job.AllocateBuffer(total))
        return end(job.Fail(JobFault::NoMemory, {}, ENOMEM, {destination.get()}));

    // The inputs are hashed beside the copy, by a thread of their own: one
    // stream of them all when the source's digest is known, else each input's
    // own digest, compared as soon as it is complete.
    std::vector<HashRange> ranges;
    std::optional<HashStreams> hashing;
    HashSettings hash;
    if (checking) {
        for (std::size_t i = 0; i < inputs.size(); ++i)
            ranges.push_back({inputs[i], 0, sizes[i]});
        hash.threads = 1;
        hash.files = settings.hashFiles ? settings.hashFiles : &job.Files();
        hash.pieces = checks.expectedWhole.empty();
        hash.whole = !hash.pieces;
        if (hash.pieces)
            hash.expected = checks.expected;
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
            return end(job.Fail(Transfer::Refused(admission, path, JobFault::InputOpen, JobFault::InputNotRegular),
                                {destination.get()}));
        const Transfer::Copy copy = job.CopyPiece(*input, *destination, path, 0, admission.size, true, true);
        if (copy != Transfer::Copy::Done)
            return end(job.EndAfter(copy, *input, path, *destination, destinationPath, path, admission.size,
                                    {input.get(), destination.get()}));
    }
    if (hashing && !job.AbortRequested()) {
        job.AwaitHashing();
        if (hashing->Failed())
            return end(job.FailHashing(*hashing, {destination.get()}));
        if (hash.whole && !job.AbortRequested() && hashing->Whole() != checks.expectedWhole) {
            // The joined bytes are not the source. The inputs are read once
            // more, each against its own digest, to name the first that
            // differs; when none does, the source's line is what differs.
            hash.pieces = true;
            hash.whole = false;
            hash.expected = checks.expected;
            HashStreams again(ranges, hash, abort);
            again.Run();
            if (again.Failed())
                return end(job.FailHashing(again, {destination.get()}));
            if (!job.AbortRequested())
                return end(job.Fail(JobFault::Check, destinationPath, 0, {destination.get()}));
        }
    }
    if (settings.flushEveryPart && !toStream && !job.AbortRequested() && !destination->Flush())
        return end(job.Fail(JobFault::Write, destinationPath, destination->LastError(), {destination.get()}));
    if (!stage.TemporaryPath().empty() && !job.AbortRequested()) {
        // Put in place only whole; a stopped job leaves the old file.
        destination->Close();
        const int error = stage.Commit(request.replace);
        if (error != 0)
            return end(job.Fail(error == EEXIST ? JobFault::DestinationExists : JobFault::DestinationOpen,
                                destinationPath, error, {destination.get()}));
    }
    return end(job.Finish({destination.get()}));
}

}  // namespace tessera
