#include "ManifestFiles.h"

#include <sys/stat.h>

#include <cerrno>

#include "Checksums.h"
#include "JobPort.h"
#include "fileio/FileQuery.h"

namespace tessera {

ManifestFileFault SplitManifest::Reserve(const std::string& source, const std::string& partFolder, bool replace)
{
    source_ = source;
    path_ = ManifestPath(source, partFolder);
    error_ = 0;
    if (SameFile(path_, source))
        return ManifestFileFault::IsSource;
    error_ = file_.Open(path_, replace);
    if (error_ == EEXIST && !replace)
        return ManifestFileFault::Exists;
    return error_ != 0 ? ManifestFileFault::Create : ManifestFileFault::None;
}

bool SplitManifest::WriteFor(const std::vector<WrittenPart>& written, const JobChecksums& checks, bool flush,
                             SideFile& side)
{
    std::vector<std::string> parts;
    for (const WrittenPart& part : written)
        parts.push_back(part.path);
    const ManifestFileFault fault = Write(parts, checks, flush);
    if (fault != ManifestFileFault::None) {
        side.state = fault == ManifestFileFault::Write || fault == ManifestFileFault::NoDigests ? SideState::Write
                                                                                               : SideState::Create;
        side.error = error_;
        return false;
    }
    return true;
}

ManifestFileFault SplitManifest::Write(const std::vector<std::string>& parts, const JobChecksums& checks, bool flush)
{
    error_ = 0;
    if (checks.digests.size() != parts.size()) {
        file_.Discard();
        return ManifestFileFault::NoDigests;
    }
    std::vector<ManifestLine> lines;
    lines.reserve(parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i)
        lines.push_back({checks.digests[i], NameOf(parts[i])});
    const std::string text = ManifestText(lines, source_, checks.wholeDigest);
    NFile& file = file_.File();
    if (file.Write(text.data(), static_cast<std::uint32_t>(text.size())) != text.size() || (flush && !file.Flush())) {
        error_ = file.LastError();
        file_.Discard();
        return ManifestFileFault::Write;
    }
    error_ = file_.Commit();
    return error_ != 0 ? ManifestFileFault::Commit : ManifestFileFault::None;
}

SplitChecksums ChecksumsForSplit(const std::vector<SplitEntry>& plan, std::int64_t size)
{
    SplitChecksums checksums;
    checksums.write = !plan.empty();
    checksums.whole = checksums.write && CoversInOrder(plan, size);
    return checksums;
}

JoinManifest ReadJoinManifest(const std::string& path, const std::vector<std::string>& inputs)
{
    JoinManifest manifest;
    manifest.path = path;
    manifest.read = ReadManifestFile(path);
    if (manifest.read.fault == ManifestFault::None)
        manifest.match = MatchJoinInputs(manifest.read.lines, SourceLine(path, manifest.read.lines), inputs);
    return manifest;
}

JoinManifest ManifestBesideInputs(const std::vector<std::string>& inputs, bool series)
{
    if (inputs.empty())
        return {};
    const std::string path = ManifestBesidePart(inputs.front());
    if (path.empty() || NameState(path) != 0)
        return {};
    JoinManifest manifest = ReadJoinManifest(path, inputs);
    if (!series && !manifest.Usable())
        return {};
    return manifest;
}

void ExpectDigests(const JoinManifest& manifest, JobChecksums& checks)
{
    checks.expected = manifest.match.digests;
    checks.expectedWhole = manifest.match.whole;
}

}  // namespace tessera
