#include "RepairRun.h"

#include <memory>

#include "JobRun.h"
#include "Progress.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Stale.h"

namespace tessera {

namespace {

// The bar: the check first, then the repair.
constexpr float kCheckShare = 0.4f;

float Fraction(std::uint64_t done, std::uint64_t total)
{
    return total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 1.0f;
}

}  // namespace

JobResult RunRepair(const RepairRequest& request, JobReporter& reporter, std::atomic<bool>& abort)
{
    RunReports reports(reporter, abort);
    const FileSystem& files = request.files != nullptr ? *request.files : RealFiles();
    auto outcome = std::make_shared<RepairOutcome>();
    JobResult result;
    result.repair = outcome;
    std::int64_t done = 0, total = 0;
    reports.Start();
    auto ended = [&](JobEnd end, JobFault fault = JobFault::None, const std::string& path = {}, int error = 0) {
        result.end = end;
        result.fault = fault;
        result.path = path;
        result.error = error;
        return reports.End(std::move(result), done, total);
    };
    auto refused = [&](Par2RepairFault fault) {
        outcome->repair.fault = fault;
        return ended(JobEnd::Failed, JobFault::Recovery, outcome->repair.path);
    };

    // The named file itself must be there; its volumes may be missing.
    if (const FileStatus named = files.Status(request.set, Links::Follow); !named.Found())
        return ended(JobEnd::Failed, JobFault::Read, request.set, named.error);
    const Par2Set set = ReadPar2Set(request.set, files);
    outcome->setFiles = set.paths;
    outcome->passedOver = set.faults;
    outcome->usable = set.usable;
    for (const Par2File& file : set.files)
        outcome->names.push_back(file.name);
    if (!set.usable)
        return refused(Par2RepairFault::NotUsable);

    const std::string folder = Par2Folder(request.set);
    Par2CheckSettings checking;
    checking.files = &files;
    checking.abort = &abort;
    checking.progress = [&](std::uint64_t read, std::uint64_t bytes) {
        done = static_cast<std::int64_t>(read);
        total = static_cast<std::int64_t>(bytes);
        reports.Progress(ProgressPosition(kCheckShare * Fraction(read, bytes)), done, total);
    };
    const Par2Check check = CheckPar2Set(set, folder, checking);
    if (check.stopped || abort.load())
        return ended(JobEnd::Aborted);
    outcome->state = check.state;
    outcome->badSlices = check.badSlices;
    outcome->recoverySlices = check.recoverySlices;
    outcome->shortBy = check.shortBy;
    if (check.state == Par2State::Intact)
        return ended(JobEnd::Finished);

    // A file the checksum file beside the set finds intact is newer than the
    // set: nothing of a stale set is used.
    if (const std::string manifest = ChecksumFileBesideSet(request.set);
        check.state == Par2State::Repairable && files.Status(manifest, Links::NoFollow).Found()) {
        if (outcome->why = Sha256::Load(); !outcome->why.empty())
            return ended(JobEnd::Failed, JobFault::NoSha256, manifest);
        const StaleFinding stale = FindStaleFiles(set, check, folder, manifest, abort, files);
        outcome->checksumFile = manifest;
        outcome->checksumRead = stale.read;
        if (!stale.files.empty()) {
            outcome->staleFile = set.files[stale.files.front()].name;
            outcome->repair.path = outcome->staleFile;
            return refused(Par2RepairFault::Stale);
        }
    }

    Par2RepairSettings settings;
    settings.files = &files;
    settings.memoryLimit = request.memoryLimit;
    settings.abort = &abort;
    settings.progress = [&](std::uint64_t made, std::uint64_t bytes) {
        done = static_cast<std::int64_t>(made);
        total = static_cast<std::int64_t>(bytes);
        reports.Progress(ProgressPosition(kCheckShare + (1 - kCheckShare) * Fraction(made, bytes)), done, total);
    };
    outcome->repair = RepairPar2Set(set, check, folder, settings);
    const Par2RepairResult& repair = outcome->repair;
    // What was put in place is told, also when a later file could not be.
    for (const Par2Rebuilt& rebuilt : repair.rebuilt)
        reports.Verdict(rebuilt.keptAs.empty() ? FileVerdict::Created : FileVerdict::Rebuilt, set.files[rebuilt.file].name,
                        0, rebuilt.keptAs);
    switch (repair.fault) {
    case Par2RepairFault::None: return ended(JobEnd::Finished);
    case Par2RepairFault::Stopped: return ended(JobEnd::Aborted);
    case Par2RepairFault::Read: return ended(JobEnd::Failed, JobFault::Read, repair.path, repair.error);
    case Par2RepairFault::Write: return ended(JobEnd::Failed, JobFault::Write, repair.path, repair.error);
    default: return ended(JobEnd::Failed, JobFault::Recovery, repair.path, repair.error);
    }
}

}  // namespace tessera
