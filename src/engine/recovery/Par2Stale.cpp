#include "engine/recovery/Par2Stale.h"

#include <sys/stat.h>

#include <map>
#include <memory>

#include "engine/Checksums.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Reader.h"

namespace tessera {

namespace {

// The digest of the regular file at path; empty when it cannot be read whole.
std::string DigestOf(const Folder& folder, const std::string& name, const FileOpener& files,
                     const std::atomic<bool>& abort)
{
    const std::unique_ptr<NFile> file = files.OpenBeneath(folder, name, NFilePSDK::Form::Reading);
    if (!file->IsOpen() || file->FileType() != S_IFREG)
        return {};
    Sha256 sha;
    std::vector<char> block(kHashBlock);
    for (;;) {
        if (abort.load())
            return {};
        const std::uint32_t got = file->Read(block.data(), static_cast<std::uint32_t>(block.size()));
        sha.Update(block.data(), got);
        if (got < block.size())
            return file->LastError() == 0 ? sha.Finish() : std::string();
    }
}

}  // namespace

std::string ChecksumFileBesideSet(const std::string& named)
{
    const std::string base = Par2BaseName(named);
    const std::size_t slash = named.rfind('/');
    return (slash == std::string::npos ? std::string() : named.substr(0, slash + 1)) + base + ".sha256";
}

StaleFinding FindStaleFiles(const Par2Set& set, const Par2Check& check, const std::string& folder,
                            const std::string& manifest, const std::atomic<bool>& abort, const FileOpener& files)
{
    StaleFinding finding;
    std::map<std::string, std::size_t> damaged;
    for (std::size_t f = 0; f < check.files.size() && f < set.files.size(); ++f)
        if (check.files[f].state == Par2FileState::Damaged)
            damaged.emplace(set.files[f].name, f);
    if (damaged.empty())
        return finding;
    std::map<std::size_t, std::string> listed;
    finding.read = StreamManifestFile(
        manifest,
        [&](ManifestLine&& line) {
            const auto found = damaged.find(line.name);
            if (found != damaged.end())
                listed.emplace(found->second, std::move(line.digest));
        },
        files);
    if (finding.read.fault != ManifestFault::None)
        return finding;
    const Folder held(folder);
    for (const auto& [f, digest] : listed)
        if (DigestOf(held, set.files[f].name, files, abort) == digest)
            finding.files.push_back(f);
    return finding;
}

}  // namespace tessera
