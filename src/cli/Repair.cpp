#include "Repair.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "Manifest.h"
#include "Messages.h"
#include "ProgressLine.h"
#include "engine/Manifest.h"
#include "engine/RepairRun.h"
#include "fileio/FileQuery.h"

namespace tessera::cli {

namespace {

std::string FaultText(Par2Fault fault)
{
    switch (fault) {
    case Par2Fault::Open: return "cannot be read";
    case Par2Fault::BadLength: return "a packet with an impossible length";
    case Par2Fault::BadChecksum: return "a damaged packet";
    case Par2Fault::Unknown: return "a packet of an unknown type";
    case Par2Fault::Malformed: return "a malformed packet";
    case Par2Fault::OtherSet: return "a packet of another recovery set";
    case Par2Fault::BadSliceSize: return "a slice size of 0, not a multiple of 4, or longer than its files need";
    case Par2Fault::TooManySlices: return "more slices than a recovery set may hold";
    case Par2Fault::NoMainPacket: return "no intact main packet";
    case Par2Fault::MissingFileDescription: return "a file of the set is not described";
    case Par2Fault::MissingSliceChecksums: return "a file's slice checksums are missing";
    case Par2Fault::RecoverySliceSize: return "a recovery slice of the wrong size";
    }
    return "a fault";
}

std::string Plural(std::uint64_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Prints the files put in place as they are told.
class RepairPrinter final : public JobReporter {
public:
    explicit RepairPrinter(ProgressLine& progress) : progress_(progress) {}

    bool Report(const JobEvent& event) override
    {
        if (event.kind == JobEvent::Kind::Progress) {
            progress_.Update(event.done, event.total);
        } else if (event.kind == JobEvent::Kind::Verdict) {
            progress_.Clear();
            const std::string name = ShownName(std::string(event.path));
            if (event.verdict == FileVerdict::Created)
                std::printf("%s: created\n", name.c_str());
            else if (event.verdict == FileVerdict::Rebuilt)
                std::printf("%s: repaired; the damaged file kept as %s\n", name.c_str(),
                            Quoted(std::string(event.other)).c_str());
        }
        return true;
    }
    void SetRunning(bool) override {}

private:
    ProgressLine& progress_;
};

// What the repair put in place and moved aside, for a failure that comes
// after some of it: nothing of the user's is lost, and the message says
// where it is.
std::string WhatChanged(const RepairOutcome& outcome)
{
    const Par2RepairResult& repair = outcome.repair;
    if (repair.rebuilt.empty() && repair.movedAside.empty())
        return "; nothing changed";
    std::string text;
    for (const Par2Rebuilt& rebuilt : repair.rebuilt)
        text += (text.empty() ? "; " : ", ") + Quoted(outcome.names[rebuilt.file]) + " was put in place";
    for (const Par2Rebuilt& aside : repair.movedAside)
        text += (text.empty() ? "; " : ", ") + Quoted(outcome.names[aside.file]) + " is kept as " +
                Quoted(aside.keptAs);
    return text;
}

std::string RecoveryFault(const RepairOutcome& outcome, const std::string& named)
{
    const Par2RepairResult& repair = outcome.repair;
    switch (repair.fault) {
    case Par2RepairFault::NotUsable: return Quoted(named) + " is not a usable recovery set";
    case Par2RepairFault::NotEnough:
        return "not repairable: " + Plural(outcome.badSlices, "slice") + " damaged or missing, " +
               Plural(outcome.recoverySlices, "recovery slice") + ": needs " +
               Plural(repair.needed, "more recovery slice") + "; nothing changed";
    case Par2RepairFault::UnsafeName:
        return "not repairable: " + Quoted(repair.path) +
               " leaves the set's folder, passes through a symbolic link or is listed twice; nothing changed";
    case Par2RepairFault::NotRegular:
        if (repair.fileType != 0)
            return "not repairable: " + Quoted(repair.path) + " is " + FileTypeName(repair.fileType) +
                   ", not a regular file; nothing changed";
        return WithError("not repairable: cannot read " + Quoted(repair.path), repair.error) + "; nothing changed";
    case Par2RepairFault::TooLarge:
        return "not repairable here: the computation needs " +
               std::to_string((repair.memoryNeeded + (1 << 20) - 1) >> 20) + " MiB, more than its " +
               std::to_string(kPar2RepairMemory >> 20) + " MiB; nothing changed";
    case Par2RepairFault::Singular:
        return "not repairable: the recovery slices present do not determine the lost ones; nothing changed";
    case Par2RepairFault::Mismatch:
        return "the rebuilt " + Quoted(repair.path) + " does not match its checksum; nothing changed";
    case Par2RepairFault::Stale:
        return "not repairing: " + Quoted(outcome.checksumFile) + " finds " + Quoted(outcome.staleFile) +
               " intact, which " + Quoted(named) + " finds damaged: the set is older than the files; nothing changed";
    case Par2RepairFault::None:
    case Par2RepairFault::Read:
    case Par2RepairFault::Write:
    case Par2RepairFault::Stopped:
        break;
    }
    return "cannot repair " + Quoted(named);
}

}  // namespace

int RepairCommand(const Options& options, std::atomic<bool>& abort, const volatile std::sig_atomic_t& signal)
{
    const std::string& named = options.recoverySet;
    ProgressLine progress(stderr, !options.quiet && ::isatty(STDERR_FILENO) == 1);
    RepairPrinter printer(progress);
    RepairRequest request;
    request.set = named;
    const JobResult result = RunRepair(request, printer, abort);
    progress.Clear();
    const RepairOutcome& outcome = *result.repair;
    // Passed-over packets are told, as the set may still be whole without them.
    for (const Par2FaultAt& fault : outcome.passedOver) {
        if (fault.fault == Par2Fault::Unknown || (options.quiet && outcome.usable))
            continue;
        const std::string where = fault.file < outcome.setFiles.size() ? outcome.setFiles[fault.file] : named;
        std::string text = Quoted(where) + " at byte " + std::to_string(fault.offset) + ": " + FaultText(fault.fault);
        if (fault.fileType != 0)
            text = "cannot read " + Quoted(where) + ": it is " + FileTypeName(fault.fileType) + ", not a regular file";
        else if (fault.errorNumber != 0)
            text = WithError(fault.fault == Par2Fault::Open ? "cannot read " + Quoted(where) : text, fault.errorNumber);
        std::fprintf(stderr, "tessera-cli: %s\n", text.c_str());
    }
    if (outcome.checksumRead.fault != ManifestFault::None)
        std::fprintf(stderr, "tessera-cli: %s; repairing without it\n",
                     ManifestReadMessage(outcome.checksumFile, outcome.checksumRead).c_str());
    for (const auto& [path, error] : outcome.repair.leftBehind)
        std::fprintf(stderr, "tessera-cli: %s\n",
                     WithError("cannot remove the temporary file " + Quoted(path), error).c_str());
    switch (result.end) {
    case JobEnd::Finished:
        break;
    case JobEnd::Aborted: {
        const int stoppedBy = signal != 0 ? signal : SIGINT;
        Fail(std::string("stopped by ") + (stoppedBy == SIGTERM ? "SIGTERM" : "SIGINT") + "; nothing changed");
        return 128 + stoppedBy;
    }
    case JobEnd::NotStarted:
    case JobEnd::Failed:
        switch (result.fault) {
        case JobFault::NoSha256: return Fail("cannot check " + Quoted(result.path) + ": " + outcome.why);
        case JobFault::Read: return Fail(WithError("cannot read " + Quoted(result.path), result.error) + WhatChanged(outcome));
        case JobFault::Write:
            return Fail(WithError("cannot write " + Quoted(result.path), result.error) + WhatChanged(outcome));
        default: return Fail(RecoveryFault(outcome, named));
        }
    }
    if (outcome.state == Par2State::Intact) {
        if (!options.quiet)
            std::printf("%s intact: nothing to repair\n", Plural(outcome.names.size(), "file").c_str());
    } else if (!options.quiet) {
        std::printf("%s rebuilt from %s\n", Plural(outcome.repair.rebuilt.size(), "file").c_str(),
                    Plural(outcome.repair.slicesRebuilt, "recovery slice").c_str());
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(WithError("cannot write the report", errno));
    return kExitDone;
}

}  // namespace tessera::cli
