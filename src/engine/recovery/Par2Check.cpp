#include "engine/recovery/Par2Check.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "fileio/ReadOnlyFile.h"

namespace tessera {
namespace {

constexpr std::size_t kChunk = 1u << 20;
// A slice's zero padding is hashed only when it is no longer than this or
// than the file: a longer one pads the only slice of a file much shorter
// than a slice, whose verdict is the whole file's.
constexpr std::uint64_t kPaddingHashed = 1u << 20;

void CheckFile(const Par2File& file, std::uint64_t sliceSize, const std::string& path, Par2FileCheck& check)
{
    const std::uint64_t slices = file.length / sliceSize + (file.length % sliceSize != 0);
    auto allBad = [&] {
        check.badSlices.clear();
        for (std::uint64_t i = 0; i < slices; ++i)
            check.badSlices.push_back(i);
    };
    ReadOnlyFile input(path);
    std::uint32_t type = 0;
    if (!input.IsOpen() || !input.Stat(type, check.size) || type != S_IFREG) {
        check.state = Par2FileState::Missing;
        check.error = !input.IsOpen() ? input.Error() : EISDIR;
        check.size = 0;
        allBad();
        return;
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
        return;
    }
    if (lastByWhole && (check.badSlices.empty() || check.badSlices.back() != slices - 1))
        check.badSlices.push_back(slices - 1);
    if (file.slices.empty() && check.badSlices.empty())
        allBad();
    check.state = Par2FileState::Damaged;
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

Par2Check CheckPar2Set(const Par2Set& set, const std::string& folder)
{
    Par2Check check;
    if (!set.usable)
        return check;
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
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t k = next++; k < order.size(); k = next++) {
            const Par2File& file = set.files[order[k]];
            Par2FileCheck& fileCheck = check.files[order[k]];
            const std::string path = Par2FilePath(folder, file.name);
            if (path.empty() || twice[order[k]]) {
                fileCheck.state = path.empty() ? Par2FileState::UnsafeName : Par2FileState::ListedTwice;
                const std::uint64_t slices = file.length / set.sliceSize + (file.length % set.sliceSize != 0);
                for (std::uint64_t i = 0; i < slices; ++i)
                    fileCheck.badSlices.push_back(i);
            } else {
                CheckFile(file, set.sliceSize, path, fileCheck);
            }
        }
    };
    std::thread other(work);
    work();
    other.join();
    for (const Par2FileCheck& fileCheck : check.files)
        check.badSlices += fileCheck.badSlices.size();
    check.recoverySlices = set.recovery.size();
    bool allIntact = true;
    bool unsafe = false;
    for (const Par2FileCheck& f : check.files) {
        allIntact = allIntact && f.state == Par2FileState::Intact;
        unsafe = unsafe || f.state == Par2FileState::UnsafeName || f.state == Par2FileState::ListedTwice;
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
