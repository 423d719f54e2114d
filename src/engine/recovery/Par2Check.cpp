#include "engine/recovery/Par2Check.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine/kernels/Md5Lanes.h"
#include "fileio/Folder.h"
#include "fileio/ReadOnlyFile.h"

namespace tessera {
namespace {

constexpr std::size_t kChunk = 1u << 20;
// A slice's zero padding is hashed only when it is no longer than this or
// than the file: a longer one pads the only slice of a file much shorter
// than a slice, whose verdict is the whole file's.
constexpr std::uint64_t kPaddingHashed = 1u << 20;
// In lanes, this many bytes of each file at a time (a multiple of 64).
constexpr std::size_t kLaneRead = 64 << 10;
// Fewer files than this side by side are slower in lanes than one by one.
constexpr std::size_t kLeastInLanes = 4;

// What CheckFile reads with and reports to.
struct Reading {
    const Folder& folder;
    const FileSystem& files;
    const std::atomic<bool>* abort;
    std::atomic<std::uint64_t>& done;
    [[nodiscard]] bool Stopping() const { return abort != nullptr && abort->load(); }
};

// False when stopped.
bool CheckFile(const Par2File& file, std::uint64_t sliceSize, Reading& reading, Par2FileCheck& check)
{
    const std::uint64_t slices = file.length / sliceSize + (file.length % sliceSize != 0);
    auto allBad = [&] {
        check.badSlices.clear();
        for (std::uint64_t i = 0; i < slices; ++i)
            check.badSlices.push_back(i);
    };
    ReadOnlyFile input(reading.folder, file.name, reading.files);
    std::uint32_t type = 0;
    if (!input.IsOpen() || !input.Stat(type, check.size) || type != S_IFREG) {
        const int error = !input.IsOpen() ? input.Error() : 0;
        // A symbolic link on the way, or at the name: never followed.
        check.state = error == ELOOP || error == EXDEV ? Par2FileState::ThroughLink : Par2FileState::Missing;
        check.error = error;
        check.type = !input.IsOpen() ? input.FailedType() : type;
        check.size = 0;
        allBad();
        return true;
    }
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, sliceSize)));
    // The whole file's MD5 (the first) and each slice's (the second) over
    // the same chunks at once.
    Md5Pair md5;
    bool wholeReadable = true;
    bool lastByWhole = false;  // the only slice, judged by the whole file
    for (std::uint64_t slice = 0; slice < slices; ++slice) {
        const std::uint64_t start = slice * sliceSize;
        const std::uint64_t inFile = std::min(sliceSize, file.length - start);
        const std::uint64_t padding = sliceSize - inFile;
        const bool padded = padding <= kPaddingHashed || padding <= file.length;
        lastByWhole = !padded;
        // A slice the file does not hold all of is lost without hashing
        // what it lacks; nor can the whole file then be as it was made.
        if (check.size < start + inFile) {
            check.badSlices.push_back(slice);
            lastByWhole = false;
            continue;
        }
        std::uint32_t crc = 0;
        bool readable = true;
        const std::uint64_t hashed = padded ? sliceSize : inFile;
        for (std::uint64_t done = 0; done < hashed;) {
            if (reading.Stopping())
                return false;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), hashed - done));
            std::size_t got = 0;
            if (done < inFile) {
                const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(take, inFile - done));
                const ssize_t n = readable ? input.ReadAt(chunk.data(), want, start + done) : -1;
                if (n < 0) {
                    readable = wholeReadable = false;
                    check.error = errno;
                } else {
                    got = static_cast<std::size_t>(n);
                    md5.Update(chunk.data(), got);
                    reading.done += got;
                }
            }
            // Past the file's end, and past what could be read, the slice is
            // zeros: it then fails its checksum unless the file ends there.
            std::memset(chunk.data() + got, 0, take - got);
            md5.UpdateSecond(chunk.data() + got, take - got);
            crc = Crc32(crc, chunk.data(), take);
            done += take;
        }
        const Md5Digest digest = md5.FinishSecond();
        const bool good = readable && !file.slices.empty() && file.slices[slice].md5 == digest &&
                          file.slices[slice].crc32 == crc;
        if (padded && !good)
            check.badSlices.push_back(slice);
    }
    const bool wholeGood = wholeReadable && check.size == file.length && md5.FinishFirst() == file.md5;
    if (wholeGood) {
        // The file is as it was made, whatever slice checksums were missing.
        check.badSlices.clear();
        check.state = Par2FileState::Intact;
        return true;
    }
    if (lastByWhole && (check.badSlices.empty() || check.badSlices.back() != slices - 1))
        check.badSlices.push_back(slices - 1);
    if (file.slices.empty() && check.badSlices.empty())
        allBad();
    check.state = Par2FileState::Damaged;
    return true;
}

// A file whose whole MD5 is the set's is intact, whatever its slices'
// checksums would say. That MD5 alone, of up to sixteen files at once in the
// lanes of one core, takes a fraction of the time that both MD5s of each
// file take one file at a time; so the files are first read that way, and
// only those not found intact (not there, of another size, unreadable or
// changed) are then checked slice by slice by CheckFile. False when stopped.
bool CheckInLanes(const Par2Set& set, const std::vector<std::size_t>& which, Reading& reading,
                  std::vector<Par2FileCheck>& checks)
{
    const std::size_t count = which.size();
    std::vector<ReadOnlyFile> inputs;
    inputs.reserve(count);
    std::vector<std::uint8_t> buffer(count * kLaneRead);
    detail::Md5Lane lanes[kMd5Lanes];
    detail::Md5Lane* pointers[kMd5Lanes] = {};
    const std::uint8_t* data[kMd5Lanes] = {};
    std::uint64_t counted[kMd5Lanes] = {};
    std::uint32_t going = 0;  // lanes still to read
    std::uint32_t whole = 0;  // lanes read to the file's end
    for (std::size_t k = 0; k < count; ++k) {
        pointers[k] = &lanes[k];
        data[k] = buffer.data() + k * kLaneRead;
        inputs.emplace_back(reading.folder, set.files[which[k]].name, reading.files);
        std::uint32_t type = 0;
        std::uint64_t size = 0;
        if (inputs[k].IsOpen() && inputs[k].Stat(type, size) && type == S_IFREG &&
            size == set.files[which[k]].length)
            going |= 1u << k;
    }
    for (std::uint64_t at = 0; going != 0; at += kLaneRead) {
        if (reading.Stopping())
            return false;
        std::uint32_t active = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t lane = 1u << k;
            if ((going & lane) == 0)
                continue;
            const std::uint64_t length = set.files[which[k]].length;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kLaneRead, length - at));
            std::uint8_t* bytes = buffer.data() + k * kLaneRead;
            // Unreadable, or cut short since it was looked at: CheckFile
            // tells which slices that cost.
            if (inputs[k].ReadAt(bytes, want, at) != static_cast<ssize_t>(want)) {
                going &= ~lane;
                continue;
            }
            counted[k] += want;
            reading.done += want;
            if (want == kLaneRead)
                active |= lane;
            else
                lanes[k].Update(bytes, want);
            if (at + want == length) {
                going &= ~lane;
                whole |= lane;
            }
        }
        Md5LanesBlocks(pointers, data, kLaneRead / 64, active);
    }
    for (std::size_t k = 0; k < count; ++k) {
        Par2FileCheck& check = checks[which[k]];
        if ((whole & 1u << k) != 0 && lanes[k].Finish() == set.files[which[k]].md5) {
            check.state = Par2FileState::Intact;
            check.size = set.files[which[k]].length;
            continue;
        }
        reading.done -= counted[k];
        if (!CheckFile(set.files[which[k]], set.sliceSize, reading, check))
            return false;
    }
    return true;
}

}  // namespace

std::string Par2Folder(const std::string& named)
{
    const std::size_t slash = named.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : named.substr(0, slash);
}

std::string Par2FilePath(const std::string& folder, const std::string& name)
{
    if (name.empty() || name.front() == '/')
        return {};
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string_view step(name.data() + start, end - start);
        if (step.empty() || step == "." || step == "..")
            return {};
        start = end + 1;
    }
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string RecoverySetBeside(const std::string& manifestPath)
{
    const std::string_view suffix = ".sha256";
    const std::size_t slash = manifestPath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (manifestPath.size() - nameStart <= suffix.size() || !manifestPath.ends_with(suffix))
        return {};
    return manifestPath.substr(0, manifestPath.size() - suffix.size()) + ".par2";
}

Par2Check CheckPar2Set(const Par2Set& set, const std::string& folder, const Par2CheckSettings& settings)
{
    Par2Check check;
    if (!set.usable)
        return check;
    const Folder held(folder);
    const FileSystem& files = settings.files != nullptr ? *settings.files : RealFiles();
    // Two threads take the files in turn, the largest first.
    check.files.resize(set.files.size());
    std::vector<std::size_t> order(set.files.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return set.files[a].length > set.files[b].length; });
    // Two files of one name cannot both be there: neither is read.
    std::vector<bool> twice(set.files.size(), false);
    {
        std::vector<std::size_t> byName(order);
        std::sort(byName.begin(), byName.end(),
                  [&](std::size_t a, std::size_t b) { return set.files[a].name < set.files[b].name; });
        for (std::size_t i = 1; i < byName.size(); ++i)
            if (set.files[byName[i]].name == set.files[byName[i - 1]].name)
                twice[byName[i]] = twice[byName[i - 1]] = true;
    }
    std::uint64_t total = 0;
    for (const Par2File& file : set.files)
        total += file.length;
    std::atomic<std::uint64_t> done{0};
    std::atomic<bool> stopped{false};
    Reading reading{held, files, settings.abort, done};
    // Each thread takes the next batch of files: where the processor has
    // vector lanes and there are enough files, up to sixteen (and half the
    // files, so that both threads have some) to be read side by side;
    // otherwise one at a time.
    const std::size_t batch =
        Md5LanesAvailable() && order.size() >= 2 * kLeastInLanes
            ? std::clamp<std::size_t>((order.size() + 1) / 2, kLeastInLanes, kMd5Lanes)
            : 1;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t first = batch * next++; first < order.size() && !stopped; first = batch * next++) {
            std::vector<std::size_t> inLanes;
            for (std::size_t k = first; k < std::min(first + batch, order.size()) && !stopped; ++k) {
                const Par2File& file = set.files[order[k]];
                Par2FileCheck& fileCheck = check.files[order[k]];
                const bool unsafe = Par2FilePath(folder, file.name).empty();
                if (unsafe || twice[order[k]] || !held.IsOpen()) {
                    fileCheck.state = unsafe                ? Par2FileState::UnsafeName
                                      : twice[order[k]]     ? Par2FileState::ListedTwice
                                                            : Par2FileState::Missing;
                    fileCheck.error = held.Error();
                    const std::uint64_t slices = file.length / set.sliceSize + (file.length % set.sliceSize != 0);
                    for (std::uint64_t i = 0; i < slices; ++i)
                        fileCheck.badSlices.push_back(i);
                } else if (batch > 1 && file.length > 0) {
                    inLanes.push_back(order[k]);
                } else if (!CheckFile(file, set.sliceSize, reading, fileCheck)) {
                    stopped = true;
                }
            }
            if (!stopped && !inLanes.empty() && !CheckInLanes(set, inLanes, reading, check.files))
                stopped = true;
        }
    };
    // Both cores read; this thread tells the progress meanwhile.
    std::mutex mutex;
    std::condition_variable ended;
    int running = 2;
    auto worker = [&] {
        work();
        std::lock_guard lock(mutex);
        --running;
        ended.notify_all();
    };
    std::thread first(worker), second(worker);
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            ended.wait_for(lock, std::chrono::milliseconds(100));
            if (settings.progress && running > 0) {
                lock.unlock();
                settings.progress(done.load(), total);
                lock.lock();
            }
        }
    }
    first.join();
    second.join();
    if (stopped) {
        check.stopped = true;
        return check;
    }
    for (const Par2FileCheck& fileCheck : check.files)
        check.badSlices += fileCheck.badSlices.size();
    check.recoverySlices = set.recovery.size();
    bool allIntact = true;
    bool unsafe = false;
    for (const Par2FileCheck& f : check.files) {
        allIntact = allIntact && f.state == Par2FileState::Intact;
        unsafe = unsafe || f.state == Par2FileState::UnsafeName || f.state == Par2FileState::ListedTwice ||
                 f.state == Par2FileState::ThroughLink;
    }
    if (allIntact) {
        check.state = Par2State::Intact;
        check.spare = check.recoverySlices;
    } else if (!unsafe && check.badSlices <= check.recoverySlices) {
        check.state = Par2State::Repairable;
        check.spare = check.recoverySlices - check.badSlices;
    } else {
        check.state = Par2State::NotRepairable;
        check.shortBy = check.badSlices > check.recoverySlices ? check.badSlices - check.recoverySlices : 0;
    }
    return check;
}

}  // namespace tessera
