#include "Verify.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Manifest.h"
#include "Messages.h"
#include "RecoveryTexts.h"
#include "ProgressLine.h"
#include "engine/Checksums.h"
#include "engine/VerifyChecksums.h"
#include "engine/recovery/Par2Stale.h"
#include "engine/kernels/Sha256.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"

namespace tessera::cli {

namespace {

std::string ReadError(const std::string& path, int error)
{
    if (error == kNotRegularFile)
        return "cannot read " + Quoted(path) + ": not a regular file";
    return WithError("cannot read " + Quoted(path), error);
}

}  // namespace

std::string VerifiedLineText(const VerifiedLine& verified, bool quiet)
{
    if (quiet && verified.verdict == LineVerdict::Ok)
        return {};
    std::string text = ShownName(verified.line->name);
    switch (verified.verdict) {
    case LineVerdict::Ok: text += ": OK"; break;
    case LineVerdict::Failed: text += ": FAILED"; break;
    case LineVerdict::Unreadable: text += ": FAILED open or read"; break;
    case LineVerdict::NotChecked: text += ": NOT CHECKED (a part failed)"; break;
    }
    if (verified.joined && verified.verdict != LineVerdict::NotChecked)
        text += " (the parts joined)";
    return text + '\n';
}

std::string RecoveryReportText(const std::string& setName, const Par2Set& set, const Par2Check& check,
                               const std::vector<std::size_t>& stale, bool quiet)
{
    const std::string name = ShownName(setName) + ": recovery set ";
    auto plural = [](std::uint64_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    const std::string bad = plural(check.badSlices, "slice") + " of " + std::to_string(set.inputSlices) +
                            " damaged or missing";
    std::string text;
    if (!stale.empty()) {
        text = name + "STALE (made for other files: " + plural(stale.size(), "file") +
               " it finds damaged the checksum file finds intact)\n";
        for (const std::size_t f : stale)
            text += ShownName(set.files[f].name) + ": STALE (intact by its checksum)\n";
        return text;
    }
    switch (check.state) {
    case Par2State::Intact:
        if (!quiet) {
            std::vector<std::int64_t> lengths;
            for (const Par2File& file : set.files)
                lengths.push_back(static_cast<std::int64_t>(file.length));
            text = name + "OK (" + plural(check.recoverySlices, "recovery slice") +
                   "): " + ReachText(Par2ReachOf(lengths, set.sliceSize, check.recoverySlices)) + "\n";
        }
        return text;
    case Par2State::Repairable:
        text = name + "REPAIRABLE (" + bad + ", " + std::to_string(check.spare) + " recovery slices to spare)\n";
        break;
    case Par2State::NotRepairable:
        text = name + "NOT REPAIRABLE (" + bad + ", " + plural(check.recoverySlices, "recovery slice") +
               (check.shortBy > 0 ? ": short by " + std::to_string(check.shortBy) : std::string(": a name leaves its folder")) +
               ")\n";
        break;
    case Par2State::Unusable:
        return name + "UNREADABLE (no intact main packet or file description)\n";
    }
    for (std::size_t i = 0; i < check.files.size() && i < set.files.size(); ++i) {
        const Par2FileCheck& file = check.files[i];
        const std::string shown = ShownName(set.files[i].name);
        switch (file.state) {
        case Par2FileState::Intact: break;
        case Par2FileState::Missing: text += shown + ": MISSING\n"; break;
        case Par2FileState::UnsafeName: text += shown + ": REFUSED (a name outside the set's folder)\n"; break;
        case Par2FileState::ListedTwice: text += shown + ": REFUSED (listed twice in the set)\n"; break;
        case Par2FileState::Damaged:
            text += shown + ": DAMAGED (" +
                    (file.badSlices.empty() ? std::string("its length") : plural(file.badSlices.size(), "slice")) +
                    ")\n";
            break;
        }
    }
    return text;
}

int RunVerify(const Options& options)
{
    if (const std::string why = Sha256::Load(); !why.empty())
        return Fail("cannot check checksums: " + why);
    ProgressLine progress(stderr, !options.quiet && ::isatty(STDERR_FILENO) == 1);
    const std::atomic<bool> never{false};
    int reportError = 0;
    // Each verdict is told as it is known: nothing of the checksum file is
    // kept for the end.
    const ChecksumVerification verification = VerifyChecksumFile(
        options.manifest, never,
        [&](const VerifiedLine& verified) {
            progress.Clear();
            const std::string text = VerifiedLineText(verified, options.quiet);
            std::fwrite(text.data(), 1, text.size(), stdout);
            if (reportError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
                reportError = errno != 0 ? errno : EIO;
            if (verified.verdict == LineVerdict::Unreadable && reportError == 0)
                Fail(ReadError(verified.path, verified.error));
        },
        [&](std::int64_t done, std::int64_t total) { progress.Update(done, total); });
    progress.Clear();
    if (verification.read.fault != ManifestFault::None)
        return Fail(ManifestReadMessage(options.manifest, verification.read));
    if (verification.lines == 0)
        return Fail(Quoted(options.manifest) + " lists no files");
    if (reportError != 0)
        return Fail(WithError("cannot write the report", reportError));
    // The recovery set beside the manifest, when there is one: its state is
    // told, the exit status stays that of the checksums.
    if (const std::string recovery = RecoverySetBeside(options.manifest);
        !recovery.empty() && NameState(recovery) == 0) {
        const Par2Set set = ReadPar2Set(recovery);
        const Par2Check check = CheckPar2Set(set, Par2Folder(recovery));
        const StaleFinding stale = FindStaleFiles(set, check, Par2Folder(recovery), options.manifest, never);
        const std::size_t slash = recovery.rfind('/');
        const std::string recoveryText =
            RecoveryReportText(slash == std::string::npos ? recovery : recovery.substr(slash + 1), set, check,
                               stale.files, options.quiet);
        std::fwrite(recoveryText.data(), 1, recoveryText.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return Fail(WithError("cannot write the report", errno));
    }
    if (verification.failed != 0)
        return Fail(std::to_string(verification.failed) + " of " +
                    std::to_string(verification.verdicts) + " checksums in " +
                    Quoted(options.manifest) + " did not match");
    return kExitDone;
}

}  // namespace tessera::cli
