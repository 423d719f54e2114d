#include "Verify.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Manifest.h"
#include "Messages.h"
#include "ProgressLine.h"
#include "engine/Checksums.h"
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

std::string VerifyReportText(const std::vector<ManifestLine>& lines, std::size_t source, const VerifyReport& report,
                             bool quiet)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineVerdict verdict = report.verdicts.at(i);
        if (quiet && verdict == LineVerdict::Ok)
            continue;
        text += ShownName(lines[i].name);
        switch (verdict) {
        case LineVerdict::Ok: text += ": OK"; break;
        case LineVerdict::Failed: text += ": FAILED"; break;
        case LineVerdict::Unreadable: text += ": FAILED open or read"; break;
        case LineVerdict::NotChecked: text += ": NOT CHECKED (a part failed)"; break;
        }
        if (i == source && verdict != LineVerdict::NotChecked)
            text += " (the parts joined)";
        text += '\n';
    }
    return text;
}

std::string RecoveryReportText(const std::string& setName, const Par2Set& set, const Par2Check& check, bool quiet)
{
    const std::string name = ShownName(setName) + ": recovery set ";
    auto plural = [](std::uint64_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    const std::string bad = plural(check.badSlices, "slice") + " of " + std::to_string(set.inputSlices) +
                            " damaged or missing";
    std::string text;
    switch (check.state) {
    case Par2State::Intact:
        if (!quiet)
            text = name + "OK (" + plural(check.recoverySlices, "recovery slice") + ")\n";
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
    const ManifestRead manifest = ReadManifestFile(options.manifest);
    if (manifest.fault != ManifestFault::None)
        return Fail(ManifestReadMessage(options.manifest, manifest));
    if (manifest.lines.empty())
        return Fail(Quoted(options.manifest) + " lists no files");
    const std::vector<ManifestLine>& lines = manifest.lines;
    const std::size_t source = SourceLine(options.manifest, lines);

    std::vector<std::string> paths;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        paths.push_back(ResolveFromManifest(options.manifest, lines[i].name));
        const std::int64_t size = i != source ? SizeAt(paths.back()) : -1;
        if (size > 0)
            total += size;
    }

    // Both cores: with a source line, one hashes each part and the other all
    // of them in the manifest's order, which is the order of the plan, for
    // the source line; without, each takes the next largest file.
    if (const std::string why = Sha256::Load(); !why.empty())
        return Fail("cannot check checksums: " + why);
    ProgressLine progress(stderr, !options.quiet && ::isatty(STDERR_FILENO) == 1);
    const std::atomic<bool> never{false};
    const ListedDigests digests =
        HashListedFiles(paths, source, source != std::string::npos, 2, never,
                        [&](std::int64_t done) { progress.Update(done, total); });
    const std::vector<FileDigest>& files = digests.files;
    const VerifyReport report = VerifyManifest(lines, source, files, digests.joined);
    progress.Clear();

    const std::string text = VerifyReportText(lines, source, report, options.quiet);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(WithError("cannot write the report", errno));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i != source && files[i].error != 0)
            Fail(ReadError(paths[i], files[i].error));
    }
    // The recovery set beside the manifest, when there is one: its state is
    // told, the exit status stays that of the checksums.
    if (const std::string recovery = RecoverySetBeside(options.manifest);
        !recovery.empty() && NameState(recovery) == 0) {
        const Par2Set set = ReadPar2Set(recovery);
        const Par2Check check = CheckPar2Set(set, Par2Folder(recovery));
        const std::size_t slash = recovery.rfind('/');
        const std::string recoveryText =
            RecoveryReportText(slash == std::string::npos ? recovery : recovery.substr(slash + 1), set, check,
                               options.quiet);
        std::fwrite(recoveryText.data(), 1, recoveryText.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return Fail(WithError("cannot write the report", errno));
    }
    if (report.failed != 0)
        return Fail(std::to_string(report.failed) + " of " + std::to_string(lines.size()) + " checksums in " +
                    Quoted(options.manifest) + " did not match");
    return kExitDone;
}

}  // namespace tessera::cli
