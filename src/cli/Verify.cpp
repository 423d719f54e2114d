#include "Verify.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Manifest.h"
#include "Messages.h"
#include "ProgressLine.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"

namespace tessera::cli {

namespace {

// A file's checksums are read in blocks of this size.
constexpr std::uint32_t kVerifyBlock = 4 << 20;

// FileDigest::error of a listed file that is a folder, pipe or device.
constexpr int kNotRegular = -1;

int Fail(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tessera-cli: %s\n", message.c_str());
    return kExitFailed;
}

// Feeds the whole regular file at path to digest and, when given, to joined.
// Its digest, or why it could not be read.
FileDigest HashFile(const std::string& path, std::vector<char>& buffer, Sha256& digest, Sha256* joined,
                    ProgressLine& progress, std::int64_t& done, std::int64_t total)
{
    FileDigest result;
    NFilePSDK file(path, NFilePSDK::Form::Reading);
    if (!file.IsOpen()) {
        result.error = file.LastError();
        return result;
    }
    struct stat st;
    if (::fstat(file.Descriptor(), &st) != 0) {
        result.error = errno;
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = S_ISDIR(st.st_mode) ? EISDIR : kNotRegular;
        return result;
    }
    file.SetCacheUse(NFilePSDK::CacheUse::Cached);
    const auto size = static_cast<std::uint32_t>(buffer.size());
    for (;;) {
        const std::uint32_t n = file.Read(buffer.data(), size);
        digest.Update(buffer.data(), n);
        if (joined != nullptr)
            joined->Update(buffer.data(), n);
        done += n;
        progress.Update(done, total);
        if (n < size)
            break;
    }
    if (file.LastError() != 0) {
        static_cast<void>(digest.Finish());
        result.error = file.LastError();
        return result;
    }
    result.digest = digest.Finish();
    return result;
}

std::string ReadError(const std::string& path, int error)
{
    if (error == kNotRegular)
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

    // The parts are read once; the source line is checked against all of
    // them together, in the manifest's order, which is the order of the plan.
    ProgressLine progress(stderr, !options.quiet && ::isatty(STDERR_FILENO) == 1);
    std::vector<char> buffer(kVerifyBlock);
    Sha256 digest;
    Sha256 joined;
    std::int64_t done = 0;
    std::vector<FileDigest> files(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i != source)
            files[i] = HashFile(paths[i], buffer, digest, source != std::string::npos ? &joined : nullptr, progress,
                                done, total);
    }
    const VerifyReport report = VerifyManifest(lines, source, files, joined.Finish());
    progress.Clear();

    const std::string text = VerifyReportText(lines, source, report, options.quiet);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(WithError("cannot write the report", errno));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i != source && files[i].error != 0)
            Fail(ReadError(paths[i], files[i].error));
    }
    if (report.failed != 0)
        return Fail(std::to_string(report.failed) + " of " + std::to_string(lines.size()) + " checksums in " +
                    Quoted(options.manifest) + " did not match");
    return kExitDone;
}

}  // namespace tessera::cli
