#include "VerifyRun.h"

#include <algorithm>
#include <memory>

#include "JobRun.h"
#include "Progress.h"
#include "VerifyChecksums.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Layout.h"
#include "engine/recovery/Par2Reader.h"
#include "engine/recovery/Par2Stale.h"
#include "fileio/FileQuery.h"

namespace tessera {

namespace {

// The bar: the checksums first, then the recovery set.
constexpr float kChecksumsShare = 0.7f;

FileVerdict SetVerdict(Par2FileState state)
{
    switch (state) {
    case Par2FileState::Missing: return FileVerdict::Missing;
    case Par2FileState::Damaged: return FileVerdict::Damaged;
    case Par2FileState::UnsafeName: return FileVerdict::Refused;
    case Par2FileState::ListedTwice: return FileVerdict::ListedTwice;
    case Par2FileState::ThroughLink: return FileVerdict::ThroughLink;
    case Par2FileState::Intact: break;
    }
    return FileVerdict::Ok;
}

}  // namespace

JobResult RunVerify(const VerifyRequest& request, JobReporter& reporter, std::atomic<bool>& abort)
{
    RunReports reports(reporter, abort);
    const FileSystem& files = request.files != nullptr ? *request.files : RealFiles();
    auto outcome = std::make_shared<VerifyOutcome>();
    JobResult result;
    result.verify = outcome;
    std::int64_t done = 0, total = 0;
    reports.Start();
    auto ended = [&](JobEnd end, JobFault fault = JobFault::None, const std::string& path = {}) {
        result.end = end;
        result.fault = fault;
        result.path = path;
        return reports.End(std::move(result), done, total);
    };
    if (outcome->why = Sha256::Load(); !outcome->why.empty())
        return ended(JobEnd::Failed, JobFault::NoSha256);

    VerifySettings settings;
    settings.files = &files;
    // Without a checksum file, the set alone.
    ChecksumVerification checked;
    if (!request.manifest.empty())
        checked = VerifyChecksumFile(
            request.manifest, abort,
            [&](const VerifiedLine& line) {
                FileVerdict verdict = FileVerdict::Ok;
                switch (line.verdict) {
                case LineVerdict::Ok: verdict = line.joined ? FileVerdict::JoinedOk : FileVerdict::Ok; break;
                case LineVerdict::Failed: verdict = line.joined ? FileVerdict::JoinedFailed : FileVerdict::Failed; break;
                case LineVerdict::Unreadable: verdict = FileVerdict::Unreadable; break;
                case LineVerdict::NotChecked: verdict = FileVerdict::NotChecked; break;
                }
                reports.Verdict(verdict, line.line->name, 0, line.path, line.error);
            },
            [&](std::int64_t hashed, std::int64_t bytes) {
                done = hashed;
                total = bytes;
                const float fraction = bytes > 0 ? static_cast<float>(hashed) / static_cast<float>(bytes) : 1.0f;
                reports.Progress(ProgressPosition(kChecksumsShare * fraction), done, total);
            },
            settings);
    outcome->read = checked.read;
    outcome->lines = checked.lines;
    outcome->verdicts = checked.verdicts;
    outcome->failed = checked.failed;
    if (checked.stopped || abort.load())
        return ended(JobEnd::Aborted);
    if (checked.read.fault != ManifestFault::None)
        return ended(JobEnd::Failed, JobFault::ChecksumFile, request.manifest);

    // The recovery set beside it: its state is told, never counted.
    const std::string named = request.manifest.empty() ? request.set : RecoverySetBeside(request.manifest);
    if (named.empty() || files.Status(named, Links::NoFollow).error == ENOENT)
        return ended(JobEnd::Finished);
    VerifyOutcome::Recovery& recovery = outcome->recovery;
    recovery.path = named;
    const Par2Set set = ReadPar2Set(named, files);
    recovery.inputSlices = set.inputSlices;
    recovery.setFiles = set.paths;
    for (const Par2FaultAt& fault : set.faults)
        if (fault.fault == Par2Fault::Open)
            recovery.unreadable.push_back(fault);
    const std::string folder = Par2Folder(named);
    Par2CheckSettings checking;
    checking.files = &files;
    checking.abort = &abort;
    checking.progress = [&](std::uint64_t read, std::uint64_t bytes) {
        const float fraction = bytes > 0 ? static_cast<float>(read) / static_cast<float>(bytes) : 1.0f;
        reports.Progress(ProgressPosition(kChecksumsShare + (1 - kChecksumsShare) * fraction), done, total);
    };
    const Par2Check check = CheckPar2Set(set, folder, checking);
    if (check.stopped || abort.load())
        return ended(JobEnd::Aborted);
    recovery.state = check.state;
    recovery.badSlices = check.badSlices;
    recovery.recoverySlices = check.recoverySlices;
    recovery.spare = check.spare;
    recovery.shortBy = check.shortBy;
    std::vector<std::int64_t> lengths;
    for (const Par2File& file : set.files)
        lengths.push_back(static_cast<std::int64_t>(file.length));
    recovery.reach = Par2ReachOf(lengths, set.sliceSize, check.recoverySlices);
    const StaleFinding stale = FindStaleFiles(set, check, folder, request.manifest, abort, files);
    recovery.stale = !stale.files.empty();
    recovery.staleFiles = stale.files.size();
    for (std::size_t f = 0; f < check.files.size() && f < set.files.size(); ++f) {
        const Par2FileCheck& file = check.files[f];
        const bool staleFile = std::find(stale.files.begin(), stale.files.end(), f) != stale.files.end();
        if (staleFile)
            reports.Verdict(FileVerdict::Stale, set.files[f].name);
        else if (file.state != Par2FileState::Intact)
            reports.Verdict(SetVerdict(file.state), set.files[f].name,
                            file.state == Par2FileState::Damaged ? file.badSlices.size() : file.type, {}, file.error);
    }
    return ended(JobEnd::Finished);
}

}  // namespace tessera
