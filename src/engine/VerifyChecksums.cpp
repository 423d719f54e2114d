#include "VerifyChecksums.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "Checksums.h"
#include "engine/kernels/Sha256.h"

namespace tessera {

namespace {

// What the first reading of the checksum file finds: how many lines, its
// source line, whether the source is there, and the bytes to hash.
struct Survey {
    ManifestRead read;
    std::size_t lines = 0;
    std::size_t source = std::string::npos;
    bool sourceThere = false;
    std::int64_t bytes = 0;
};

Survey Look(const std::string& path, const FileOpener& files)
{
    Survey survey;
    std::string sourceName = NameOf(path);
    const bool named = sourceName.ends_with(".sha256");
    sourceName.resize(named ? sourceName.size() - 7 : 0);
    survey.read = StreamManifestFile(
        path,
        [&](ManifestLine&& line) {
            const std::string file = ResolveFromManifest(path, line.name);
            if (named && survey.source == std::string::npos && line.name == sourceName) {
                survey.source = survey.lines;
                survey.sourceThere = files.Status(file, Links::NoFollow).error != ENOENT;
                if (!survey.sourceThere) {
                    ++survey.lines;
                    return;
                }
            }
            survey.bytes += std::max<std::int64_t>(files.Status(file, Links::Follow).size, 0);
            ++survey.lines;
        },
        files);
    return survey;
}

// The parts, every line but the source's in order, hashed one after another
// on a thread of its own.
class JoinedDigest {
public:
    JoinedDigest(std::string path, std::size_t source, const FileOpener& files, const std::atomic<bool>& abort)
        : path_(std::move(path)), source_(source), files_(files), abort_(abort)
    {
    }
    ~JoinedDigest()
    {
        if (thread_.joinable())
            thread_.join();
    }

    void Start() { thread_ = std::thread([this] { Run(); }); }
    // The digest, or empty when a part could not be read whole.
    std::string Wait()
    {
        if (thread_.joinable())
            thread_.join();
        return digest_;
    }
    [[nodiscard]] std::int64_t Done() const { return done_.load(); }

private:
    void Run()
    {
        Sha256 sha;
        bool whole = true;
        std::vector<char> block(kHashBlock);
        std::size_t index = 0;
        const ManifestRead read = StreamManifestFile(path_, [&](ManifestLine&& line) {
            if (index++ == source_ || !whole || abort_.load())
                return;
            const std::unique_ptr<NFile> file =
                files_.Open(ResolveFromManifest(path_, line.name), NFilePSDK::Form::Reading);
            if (!file->IsOpen() || file->FileType() != S_IFREG) {
                whole = false;
                return;
            }
            file->SetCacheUse(NFile::CacheUse::Cached);
            for (;;) {
                if (abort_.load()) {
                    whole = false;
                    return;
                }
                const std::uint32_t got = file->Read(block.data(), static_cast<std::uint32_t>(block.size()));
                sha.Update(block.data(), got);
                done_ += got;
                if (got < block.size()) {
                    whole = whole && file->LastError() == 0;
                    return;
                }
            }
        }, files_);
        const std::string digest = sha.Finish();
        if (whole && read.fault == ManifestFault::None)
            digest_ = digest;
    }

    const std::string path_;
    const std::size_t source_;
    const FileOpener& files_;
    const std::atomic<bool>& abort_;
    std::thread thread_;
    std::atomic<std::int64_t> done_{0};
    std::string digest_;
};

}  // namespace

ChecksumVerification VerifyChecksumFile(const std::string& path, const std::atomic<bool>& abort,
                                        const std::function<void(const VerifiedLine&)>& onLine,
                                        const std::function<void(std::int64_t, std::int64_t)>& progress,
                                        const VerifySettings& settings)
{
    ChecksumVerification result;
    const FileOpener& files = settings.files != nullptr ? *settings.files : RealFiles();
    const Survey survey = Look(path, files);
    result.read = survey.read;
    if (survey.read.fault != ManifestFault::None)
        return result;
    result.lines = survey.lines;
    result.source = survey.source;
    // The parts joined are the source only when there are parts.
    result.joinedChecked = survey.source != std::string::npos && survey.lines > 1;
    // A source line whose file is not there is checked only as the parts
    // joined; any other line is checked against its own file.
    const bool hashSource = survey.sourceThere || !result.joinedChecked;
    const std::int64_t total = survey.bytes * (result.joinedChecked ? 2 : 1);

    JoinedDigest joined(path, survey.source, files, abort);
    if (result.joinedChecked)
        joined.Start();
    std::int64_t hashed = 0;  // by the batches before the current one
    bool partFailed = false;
    std::string sourceDigest;

    struct Pending {
        std::size_t index;
        ManifestLine line;
        std::string path;
    };
    std::vector<Pending> batch;
    auto flush = [&] {
        std::vector<HashRange> ranges;
        for (const Pending& pending : batch)
            ranges.push_back({pending.path, 0, -1});
        HashSettings hashing;
        hashing.whole = false;
        hashing.threads = result.joinedChecked ? 1 : settings.threads;
        hashing.stopAtFault = false;
        hashing.regularOnly = true;
        hashing.files = &files;
        HashStreams streams(std::move(ranges), std::move(hashing), abort);
        streams.Start();
        streams.Wait([&] {
            if (progress)
                progress(hashed + streams.Done() + joined.Done(), total);
        });
        hashed += streams.Done();
        if (abort.load()) {
            result.stopped = true;
            batch.clear();
            return;
        }
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const RangeDigest& piece = streams.Pieces()[i];
            VerifiedLine verified;
            verified.index = batch[i].index;
            verified.line = &batch[i].line;
            verified.path = batch[i].path;
            if (piece.digest.empty()) {
                verified.verdict = LineVerdict::Unreadable;
                verified.error = piece.error != 0 ? piece.error : EIO;
            } else if (piece.digest != batch[i].line.digest) {
                verified.verdict = LineVerdict::Failed;
            }
            ++result.verdicts;
            if (verified.verdict != LineVerdict::Ok) {
                ++result.failed;
                partFailed = partFailed || verified.index != survey.source;
            }
            if (onLine)
                onLine(verified);
        }
        batch.clear();
    };

    std::size_t index = 0;
    const ManifestRead again = StreamManifestFile(path, [&](ManifestLine&& line) {
        const std::size_t at = index++;
        if (result.stopped)
            return;
        if (at == survey.source) {
            sourceDigest = line.digest;
            if (!hashSource)
                return;
        }
        std::string file = ResolveFromManifest(path, line.name);
        batch.push_back({at, std::move(line), std::move(file)});
        if (batch.size() >= settings.batch)
            flush();
    }, files);
    if (!result.stopped && !batch.empty())
        flush();
    const std::string joinedDigest = joined.Wait();
    if (abort.load())
        result.stopped = true;
    if (result.stopped)
        return result;
    if (again.fault != ManifestFault::None || index != survey.lines) {
        // It changed between the readings.
        result.read = again;
        if (result.read.fault == ManifestFault::None)
            result.read.fault = ManifestFault::Read;
        return result;
    }
    if (result.joinedChecked) {
        result.joined = partFailed ? LineVerdict::NotChecked
                        : joinedDigest == sourceDigest ? LineVerdict::Ok
                                                       : LineVerdict::Failed;
        ++result.verdicts;
        if (result.joined == LineVerdict::Failed)
            ++result.failed;
        if (onLine) {
            const ManifestLine line{sourceDigest, NameOf(path).substr(0, NameOf(path).size() - 7)};
            VerifiedLine verified;
            verified.index = survey.source;
            verified.line = &line;
            verified.path = ResolveFromManifest(path, line.name);
            verified.verdict = result.joined;
            verified.joined = true;
            onLine(verified);
        }
    }
    return result;
}

}  // namespace tessera
