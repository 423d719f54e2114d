#include "Verify.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "Manifest.h"
#include "Messages.h"
#include "RecoveryTexts.h"
#include "ProgressLine.h"
#include "engine/Checksums.h"
#include "engine/Manifest.h"
#include "fileio/FileQuery.h"

namespace tessera::cli {

namespace {

std::string Plural(std::uint64_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

bool OfTheSet(FileVerdict verdict)
{
    switch (verdict) {
    case FileVerdict::Missing:
    case FileVerdict::Damaged:
    case FileVerdict::Refused:
    case FileVerdict::ListedTwice:
    case FileVerdict::ThroughLink:
    case FileVerdict::Stale:
        return true;
    default:
        return false;
    }
}

// Prints the run's events: the checksums' verdicts as they come, the
// recovery set's files kept for its line at the end.
class VerifyPrinter final : public JobReporter {
public:
    VerifyPrinter(ProgressLine& progress, bool quiet) : progress_(progress), quiet_(quiet) {}

    bool Report(const JobEvent& event) override
    {
        switch (event.kind) {
        case JobEvent::Kind::Progress: progress_.Update(event.done, event.total); break;
        case JobEvent::Kind::Verdict: Verdict(event); break;
        default: break;
        }
        return true;
    }
    void SetRunning(bool) override {}

    // The recovery set's files, told after its line.
    [[nodiscard]] const std::string& SetLines() const { return setLines_; }
    [[nodiscard]] int WriteError() const { return writeError_; }

private:
    void Verdict(const JobEvent& event)
    {
        const std::string name(event.path);
        if (OfTheSet(event.verdict)) {
            setLines_ += VerdictText(event.verdict, name, event.count, quiet_);
            return;
        }
        progress_.Clear();
        const std::string text = VerdictText(event.verdict, name, event.count, quiet_);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (writeError_ == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
            writeError_ = errno != 0 ? errno : EIO;
        if (event.verdict == FileVerdict::Unreadable && writeError_ == 0) {
            const std::string path(event.other);
            Fail(event.error == kNotRegularFile ? "cannot read " + Quoted(path) + ": not a regular file"
                                                : WithError("cannot read " + Quoted(path), event.error));
        }
    }

    ProgressLine& progress_;
    const bool quiet_;
    std::string setLines_;
    int writeError_ = 0;
};

}  // namespace

std::string VerdictText(FileVerdict verdict, const std::string& name, std::size_t count, bool quiet)
{
    std::string text = ShownName(name) + ": ";
    switch (verdict) {
    case FileVerdict::Ok: return quiet ? std::string() : text + "OK\n";
    case FileVerdict::JoinedOk: return quiet ? std::string() : text + "OK (the parts joined)\n";
    case FileVerdict::Failed: return text + "FAILED\n";
    case FileVerdict::JoinedFailed: return text + "FAILED (the parts joined)\n";
    case FileVerdict::Unreadable: return text + "FAILED open or read\n";
    case FileVerdict::NotChecked: return text + "NOT CHECKED (a part failed)\n";
    case FileVerdict::Missing:
        return text + "MISSING" + (count != 0 ? std::string(" (") + FileTypeName(static_cast<std::uint32_t>(count)) + ")" : "") + "\n";
    case FileVerdict::Damaged:
        return text + "DAMAGED (" + (count == 0 ? std::string("its length") : Plural(count, "slice")) + ")\n";
    case FileVerdict::Refused: return text + "REFUSED (a name outside the set's folder)\n";
    case FileVerdict::ListedTwice: return text + "REFUSED (listed twice in the set)\n";
    case FileVerdict::ThroughLink: return text + "REFUSED (a symbolic link on its way)\n";
    case FileVerdict::Stale: return text + "STALE (intact by its checksum)\n";
    case FileVerdict::Rebuilt:
    case FileVerdict::Created:
        break;
    }
    return {};
}

std::string RecoverySetText(const VerifyOutcome::Recovery& recovery, bool quiet)
{
    const std::string name = ShownName(NameOf(recovery.path)) + ": recovery set ";
    const std::string bad = Plural(recovery.badSlices, "slice") + " of " + std::to_string(recovery.inputSlices) +
                            " damaged or missing";
    if (recovery.stale)
        return name + "STALE (made for other files: " + Plural(recovery.staleFiles, "file") +
               " it finds damaged the checksum file finds intact)\n";
    switch (recovery.state) {
    case Par2State::Intact:
        return quiet ? std::string()
                     : name + "OK (" + Plural(recovery.recoverySlices, "recovery slice") +
                           "): " + ReachText(recovery.reach) + "\n";
    case Par2State::Repairable:
        return name + "REPAIRABLE (" + bad + ", " + Plural(recovery.spare, "recovery slice") + " to spare)\n";
    case Par2State::NotRepairable:
        return name + "NOT REPAIRABLE (" + bad + ", " + Plural(recovery.recoverySlices, "recovery slice") +
               (recovery.shortBy > 0 ? ": short by " + std::to_string(recovery.shortBy)
                                     : std::string(": a name it cannot use")) +
               ")\n";
    case Par2State::Unusable:
        break;
    }
    return name + "UNREADABLE (no intact main packet or file description)\n";
}

int VerifyCommand(const Options& options, std::atomic<bool>& abort, const volatile std::sig_atomic_t& signal)
{
    ProgressLine progress(stderr, !options.quiet && ::isatty(STDERR_FILENO) == 1);
    VerifyPrinter printer(progress, options.quiet);
    VerifyRequest request;
    request.manifest = options.manifest;
    const JobResult result = RunVerify(request, printer, abort);
    progress.Clear();
    const VerifyOutcome& outcome = *result.verify;
    if (result.end == JobEnd::Aborted) {
        const int stoppedBy = signal != 0 ? signal : SIGINT;
        Fail(std::string("stopped by ") + (stoppedBy == SIGTERM ? "SIGTERM" : "SIGINT"));
        return 128 + stoppedBy;
    }
    if (result.fault == JobFault::NoSha256)
        return Fail("cannot check checksums: " + outcome.why);
    if (result.fault == JobFault::ChecksumFile)
        return Fail(ManifestReadMessage(options.manifest, outcome.read));
    if (printer.WriteError() != 0)
        return Fail(WithError("cannot write the report", printer.WriteError()));
    if (outcome.lines == 0)
        return Fail(Quoted(options.manifest) + " lists no files");
    // The recovery set's state is told; the exit status stays that of the
    // checksums.
    if (!outcome.recovery.path.empty()) {
        for (const Par2FaultAt& fault : outcome.recovery.unreadable) {
            const std::string path = Quoted(fault.file < outcome.recovery.setFiles.size()
                                                ? outcome.recovery.setFiles[fault.file]
                                                : outcome.recovery.path);
            Fail(fault.fileType != 0
                     ? "cannot read " + path + ": it is " + FileTypeName(fault.fileType) + ", not a regular file"
                     : WithError("cannot read " + path, fault.errorNumber));
        }
        const std::string text = RecoverySetText(outcome.recovery, options.quiet) + printer.SetLines();
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return Fail(WithError("cannot write the report", errno));
    }
    if (outcome.failed != 0)
        return Fail(std::to_string(outcome.failed) + " of " + std::to_string(outcome.verdicts) + " checksums in " +
                    Quoted(options.manifest) + " did not match");
    return kExitDone;
}

}  // namespace tessera::cli
