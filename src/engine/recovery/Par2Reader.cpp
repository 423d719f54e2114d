#include "engine/recovery/Par2Reader.h"

#include "engine/recovery/Par2Packets.h"
#include "fileio/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace tessera {
namespace {

using namespace par2;
// Bytes of small packets' bodies kept while the files are scanned, over all
// sets met: what is past it is dropped as malformed.
constexpr std::uint64_t kKeptBudget = 64ull << 20;
constexpr std::size_t kWindow = 1u << 20;

struct Located {
    std::size_t file = 0;
    std::uint64_t offset = 0;
};
struct MainPacket : Located {
    Md5Digest setId{};
    MainBody body;
};
struct Kept : Located {
    Md5Digest setId{};
    std::vector<std::uint8_t> body;
};
struct Recovery : Located {
    Md5Digest setId{};
    std::uint32_t exponent = 0;
    std::uint64_t dataLength = 0;
};

class Scanner {
public:
    explicit Scanner(Par2Set& set) : set_(set) {}

    void Scan(std::size_t index, const Par2Source& source)
    {
        if (source.openError != 0 || source.openType != 0) {
            Fault(Par2Fault::Open, index, 0, source.openError, source.openType);
            return;
        }
        std::uint64_t position = 0;
        while (true) {
            const std::optional<std::uint64_t> found = FindMagic(index, source, position);
            if (!found || source.size - *found < kHeader)
                return;
            const std::uint64_t at = *found;
            std::uint8_t header[kHeader];
            if (!source.read(at, header, kHeader)) {
                Fault(Par2Fault::Open, index, at, EIO);
                return;
            }
            const Header head = ParseHeader(header);
            const std::uint64_t length = head.length;
            if (length < kHeader || length % 4 != 0 || length > source.size - at) {
                Fault(Par2Fault::BadLength, index, at);
                position = at + 1;
                continue;
            }
            const Type& type = head.type;
            const Md5Digest& setId = head.setId;
            const bool small = type != kRecoverySlice && length <= kPar2MaxSmallPacket;
            std::vector<std::uint8_t> body;
            Md5 md5;
            md5.Update(header + 32, 32);
            bool readable = true;
            if (small) {
                body.resize(length - kHeader);
                readable = body.empty() || source.read(at + kHeader, body.data(), body.size());
                md5.Update(body.data(), body.size());
            } else {
                // Hashed as it is read, never held: a recovery slice's data, or
                // a packet too large to be one this reader keeps.
                std::vector<std::uint8_t> window(std::min<std::uint64_t>(kWindow, length - kHeader));
                for (std::uint64_t done = 0; readable && done < length - kHeader;) {
                    const std::size_t take = std::min<std::uint64_t>(window.size(), length - kHeader - done);
                    readable = source.read(at + kHeader + done, window.data(), take);
                    md5.Update(window.data(), take);
                    done += take;
                }
                if (readable && type == kRecoverySlice && length >= kHeader + kRecoveryBody) {
                    readable = source.read(at + kHeader, window.data(), kRecoveryBody);
                    body.assign(window.begin(), window.begin() + kRecoveryBody);
                }
            }
            if (!readable) {
                Fault(Par2Fault::Open, index, at, EIO);
                return;
            }
            if (md5.Finish() != head.md5) {
                Fault(Par2Fault::BadChecksum, index, at);
                position = at + 1;
                continue;
            }
            Take(index, at, length, type, setId, std::move(body), small);
            position = at + length;
        }
    }

    void Assemble();

private:
    void Fault(Par2Fault fault, std::size_t file, std::uint64_t offset, int error = 0, std::uint32_t type = 0)
    {
        // One fault per packet is enough to say what was wrong; a flood of
        // them from a file of garbage is capped.
        if (set_.faults.size() < 1000)
            set_.faults.push_back({fault, file, offset, error, type});
    }

    std::optional<std::uint64_t> FindMagic(std::size_t index, const Par2Source& source, std::uint64_t from)
    {
        // Packets mostly follow one another: the next one where the last
        // ended is looked at before any window is searched.
        char magic[sizeof kMagic];
        if (source.size - std::min(source.size, from) >= sizeof kMagic && source.read(from, magic, sizeof kMagic) &&
            std::memcmp(magic, kMagic, sizeof kMagic) == 0)
            return from;
        std::vector<char> window;
        while (from < source.size && source.size - from >= sizeof kMagic) {
            const std::size_t take = std::min<std::uint64_t>(kWindow, source.size - from);
            window.resize(take);
            if (!source.read(from, window.data(), take)) {
                Fault(Par2Fault::Open, index, from, EIO);
                return std::nullopt;
            }
            const std::string_view text(window.data(), take);
            const std::size_t hit = text.find(std::string_view(kMagic, sizeof kMagic));
            if (hit != std::string_view::npos)
                return from + hit;
            if (take < sizeof kMagic)
                return std::nullopt;
            from += take - (sizeof kMagic - 1);
            if (take < kWindow)
                return std::nullopt;
        }
        return std::nullopt;
    }

    void Take(std::size_t index, std::uint64_t at, std::uint64_t length, const Type& type, const Md5Digest& setId,
              std::vector<std::uint8_t> body, bool small)
    {
        if (type == kRecoverySlice) {
            if (body.size() < kRecoveryBody) {
                Fault(Par2Fault::Malformed, index, at);
                return;
            }
            Recovery recovery;
            recovery.file = index;
            recovery.offset = at;
            recovery.setId = setId;
            recovery.exponent = ParseRecoveryExponent(body.data());
            recovery.dataLength = length - kHeader - kRecoveryBody;
            recovery_.push_back(recovery);
            return;
        }
        if (type != kMain && type != kFileDesc && type != kSliceChecksums && type != kCreator) {
            Fault(Par2Fault::Unknown, index, at);
            return;
        }
        if (!small || kept_ + body.size() > kKeptBudget) {
            Fault(Par2Fault::Malformed, index, at);
            return;
        }
        if (type == kMain) {
            std::optional<MainBody> parsed = ParseMain(body.data(), body.size(), setId);
            if (!parsed) {
                Fault(Par2Fault::Malformed, index, at);
                return;
            }
            if (main_ && main_->setId == setId)
                return;  // a copy
            if (main_) {
                Fault(Par2Fault::OtherSet, index, at);
                return;
            }
            MainPacket main;
            main.file = index;
            main.offset = at;
            main.setId = setId;
            main.body = std::move(*parsed);
            kept_ += body.size();
            main_ = std::move(main);
            return;
        }
        if (type == kCreator) {
            if (set_.creator.empty())
                set_.creator = ParseCreator(body.data(), body.size());
            return;
        }
        const bool wellSized = type == kFileDesc ? ParseFileDescription(body.data(), body.size()).has_value()
                                                 : SliceChecksumsSize(body.size());
        if (!wellSized) {
            Fault(Par2Fault::Malformed, index, at);
            return;
        }
        auto& table = type == kFileDesc ? descriptions_ : checksums_;
        const auto key = std::make_pair(setId, DescribedId(body.data()));
        if (table.count(key) != 0)
            return;  // a copy
        kept_ += body.size();
        Kept kept;
        kept.file = index;
        kept.offset = at;
        kept.setId = setId;
        kept.body = std::move(body);
        table.emplace(key, std::move(kept));
    }

    Par2Set& set_;
    std::optional<MainPacket> main_;
    std::map<std::pair<Md5Digest, Md5Digest>, Kept> descriptions_;
    std::map<std::pair<Md5Digest, Md5Digest>, Kept> checksums_;
    std::vector<Recovery> recovery_;
    std::uint64_t kept_ = 0;
};

void Scanner::Assemble()
{
    if (!main_) {
        Fault(Par2Fault::NoMainPacket, 0, 0);
        return;
    }
    const MainPacket& main = *main_;
    const std::uint64_t sliceSize = main.body.sliceSize;
    set_.setId = main.setId;
    set_.sliceSize = sliceSize;
    if (sliceSize == 0 || sliceSize % 4 != 0) {
        Fault(Par2Fault::BadSliceSize, main.file, main.offset);
        return;
    }
    bool usable = true;
    std::uint64_t slices = 0;
    for (const Md5Digest& id : main.body.fileIds) {
        Par2File file;
        file.id = id;
        const auto description = descriptions_.find({main.setId, id});
        if (description == descriptions_.end()) {
            Fault(Par2Fault::MissingFileDescription, main.file, main.offset);
            usable = false;
            set_.files.push_back(std::move(file));
            continue;
        }
        const std::vector<std::uint8_t>& body = description->second.body;
        const FileDescription described = *ParseFileDescription(body.data(), body.size());
        file.described = true;
        file.md5 = described.md5;
        file.md5First16k = described.md5First16k;
        file.length = described.length;
        file.name = described.name;
        const std::uint64_t count = file.length / sliceSize + (file.length % sliceSize != 0);
        if (count > kPar2MaxInputSlices - slices) {
            Fault(Par2Fault::TooManySlices, description->second.file, description->second.offset);
            set_.files.clear();
            return;
        }
        file.firstSlice = slices;
        slices += count;
        const auto checksums = checksums_.find({main.setId, id});
        if (checksums == checksums_.end()) {
            if (count > 0)
                Fault(Par2Fault::MissingSliceChecksums, description->second.file, description->second.offset);
        } else if (std::optional<std::vector<SliceChecksum>> parsed = ParseSliceChecksums(
                       checksums->second.body.data(), checksums->second.body.size(), count)) {
            file.slices = std::move(*parsed);
        } else {
            Fault(Par2Fault::Malformed, checksums->second.file, checksums->second.offset);
        }
        set_.files.push_back(std::move(file));
    }
    // A slice longer than the longest file is of no use to any of them; one
    // of up to a megabyte a maker may still choose.
    std::uint64_t longest = 0;
    for (const Par2File& file : set_.files)
        longest = std::max(longest, file.length);
    if (sliceSize > std::max(longest + (4 - longest % 4) % 4, kPar2SliceSlack)) {
        Fault(Par2Fault::BadSliceSize, main.file, main.offset);
        set_.files.clear();
        return;
    }
    set_.inputSlices = slices;
    std::map<std::uint32_t, Par2RecoverySlice> byExponent;
    for (const Recovery& recovery : recovery_) {
        if (recovery.setId != main.setId) {
            Fault(Par2Fault::OtherSet, recovery.file, recovery.offset);
            continue;
        }
        if (recovery.dataLength != sliceSize || recovery.exponent > kPar2MaxExponent) {
            Fault(Par2Fault::RecoverySliceSize, recovery.file, recovery.offset);
            continue;
        }
        byExponent.emplace(recovery.exponent, Par2RecoverySlice{recovery.exponent, recovery.file,
                                                                recovery.offset + kHeader + kRecoveryBody});
    }
    for (const auto& [exponent, slice] : byExponent)
        set_.recovery.push_back(slice);
    set_.usable = usable;
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool EndsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

Par2Set ReadPar2Sources(const std::vector<std::string>& paths, const std::vector<Par2Source>& sources)
{
    Par2Set set;
    set.paths = paths;
    Scanner scanner(set);
    for (std::size_t i = 0; i < sources.size(); ++i)
        scanner.Scan(i, sources[i]);
    scanner.Assemble();
    return set;
}

std::string Par2BaseName(const std::string& named)
{
    const std::size_t slash = named.rfind('/');
    std::string base = slash == std::string::npos ? named : named.substr(slash + 1);
    if (EndsWith(base, ".par2"))
        base.resize(base.size() - 5);
    // "<base>.vol00+01" names a volume of "<base>".
    const std::size_t vol = base.rfind(".vol");
    if (vol != std::string::npos && base.find_first_not_of("0123456789+-", vol + 4) == std::string::npos &&
        vol + 4 < base.size())
        base.resize(vol);
    return base;
}

std::vector<std::string> Par2SetFiles(const std::string& named, const FileSystem& files)
{
    const std::string folder = DirectoryOf(named);
    const std::size_t slash = named.rfind('/');
    const std::string base = Par2BaseName(named);
    std::vector<std::string> found{named};
    const std::string prefix = folder == "." && slash == std::string::npos ? "" : folder + (folder == "/" ? "" : "/");
    std::vector<std::string> listed;
    if (files.List(folder, listed) == 0) {
        for (const std::string& entry : listed) {
            const std::string_view name = entry;
            const bool main = name == base + ".par2";
            const bool volume = name.size() > base.size() + 4 + 5 && name.substr(0, base.size() + 4) == base + ".vol" &&
                                EndsWith(name, ".par2");
            if ((main || volume) && prefix + std::string(name) != named)
                found.push_back(prefix + std::string(name));
        }
    }
    std::sort(found.begin() + 1, found.end());
    return found;
}

Par2Set ReadPar2Set(const std::string& named, const FileSystem& files)
{
    const std::vector<std::string> paths = Par2SetFiles(named, files);
    std::vector<Par2Source> sources;
    for (const std::string& path : paths) {
        Par2Source source;
        auto file = std::make_shared<ReadOnlyFile>(path, files);
        std::uint32_t type = 0;
        if (!file->IsOpen() || !file->Stat(type, source.size) || type != S_IFREG) {
            source.openError = !file->IsOpen() || type == 0 ? file->Error() : (type == S_IFDIR ? EISDIR : 0);
            source.openType = file->IsOpen() && type != S_IFDIR ? type : 0;
            source.size = 0;
            sources.push_back(std::move(source));
            continue;
        }
        source.read = [file](std::uint64_t offset, void* buffer, std::size_t size) {
            return file->ReadAt(buffer, size, offset) == static_cast<ssize_t>(size);
        };
        sources.push_back(std::move(source));
    }
    return ReadPar2Sources(paths, sources);
}

}  // namespace tessera
