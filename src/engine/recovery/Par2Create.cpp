#include "engine/recovery/Par2Create.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Field.h"
#include "engine/recovery/Par2Format.h"
#include "engine/recovery/Par2Reader.h"
#include "plan/SplitEntry.h"

namespace tessera {

namespace {

using namespace par2;
// A recovery slice packet: the header, the exponent, the slice.
constexpr std::uint64_t kRecoveryBody = 4;
// The parts are hashed in blocks of this many bytes (a multiple of 64).
constexpr std::size_t kHashRead = 1 << 20;
// The columns the recovery slices are computed in, at most.
constexpr std::uint64_t kColumn = 64 << 10;

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

void Put(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

void Put(std::string& out, const Md5Digest& digest) { out.append(reinterpret_cast<const char*>(digest.data()), 16); }

// Text padded with zero bytes to a multiple of 4.
void PutPadded(std::string& out, const std::string& text)
{
    out += text;
    out.append((4 - text.size() % 4) % 4, '\0');
}

std::string Packet(const Md5Digest& setId, const Type& type, const std::string& body)
{
    std::string packet(kMagic, sizeof kMagic);
    Put(packet, kHeader + body.size(), 8);
    packet.append(16, '\0');  // its MD5, below
    Put(packet, setId);
    packet.append(type.data(), type.size());
    packet += body;
    const Md5Digest md5 = Md5Of(packet.data() + 32, packet.size() - 32);
    std::memcpy(packet.data() + 16, md5.data(), 16);
    return packet;
}

// The set orders its files by their ids read as 128-bit little-endian numbers.
bool IdBefore(const Md5Digest& a, const Md5Digest& b)
{
    for (int i = 15; i >= 0; --i)
        if (a[i] != b[i])
            return a[i] < b[i];
    return false;
}

// Reads exactly size bytes at offset; 0, the errno, or -1 when the file ends first.
int ReadAt(NFile& file, std::int64_t offset, std::uint8_t* buffer, std::size_t size)
{
    if (!file.Seek(offset, 0))
        return file.LastError() != 0 ? file.LastError() : EIO;
    std::size_t done = 0;
    while (done < size) {
        const std::uint32_t got = file.Read(buffer + done, static_cast<std::uint32_t>(size - done));
        if (got == 0)
            return file.LastError() != 0 ? file.LastError() : -1;
        done += got;
    }
    return 0;
}

}  // namespace

struct Par2Creation::File {
    Par2Piece piece;
    Md5Digest id{};
    Md5Digest md5{};
    Md5Digest md5First16k{};
    std::uint64_t firstSlice = 0;
    std::uint64_t slices = 0;
    std::vector<Par2SliceChecksum> checksums;
};

Par2Layout PlanPar2(const std::vector<std::int64_t>& lengths, unsigned percent)
{
    Par2Layout layout;
    std::uint64_t parts = 0, longest = 0;
    for (const std::int64_t length : lengths)
        if (length > 0) {
            ++parts;
            longest = std::max(longest, static_cast<std::uint64_t>(length));
        }
    if (parts == 0 || percent == 0)
        return layout;
    // Each part in a whole number of slices where the parts are alike, about
    // kPar2TargetSlices in all; a part never shares a slice with another.
    const std::uint64_t perPart = std::max<std::uint64_t>(1, (kPar2TargetSlices + parts - 1) / parts);
    layout.sliceSize = RoundUp((longest + perPart - 1) / perPart, 64);
    for (const std::int64_t length : lengths)
        if (length > 0)
            layout.inputSlices += (static_cast<std::uint64_t>(length) + layout.sliceSize - 1) / layout.sliceSize;
    const std::uint64_t recovery = (layout.inputSlices * std::min(percent, 100u) + 99) / 100;
    layout.recoverySlices = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(recovery, 1, kPar2MaxExponent + 1));
    for (std::uint32_t left = layout.recoverySlices, next = 1; left > 0; next *= 2) {
        const std::uint32_t take = std::min(left, next);
        layout.volumes.push_back(take);
        left -= take;
    }
    return layout;
}

Par2Layout PlanPar2ForPlan(const std::vector<std::string>& planLines, unsigned percent)
{
    std::vector<std::int64_t> lengths;
    lengths.reserve(planLines.size());
    for (const std::string& line : planLines) {
        SplitEntry entry;
        if (ReadEntry(line, entry))
            lengths.push_back(entry.end - entry.start);
    }
    return PlanPar2(lengths, percent);
}

std::optional<unsigned> ParseRecoveryPercent(const std::string& text)
{
    std::string digits = text;
    if (!digits.empty() && digits.back() == '%')
        digits.pop_back();
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned percent = static_cast<unsigned>(std::stoul(digits));
    if (percent < 1 || percent > 100)
        return std::nullopt;
    return percent;
}

std::vector<std::string> Par2Names(const std::string& base, const Par2Layout& layout)
{
    std::vector<std::string> names{base + ".par2"};
    const int firstWidth = static_cast<int>(std::to_string(layout.recoverySlices).size());
    const std::uint32_t largest = layout.volumes.empty() ? 0 : *std::max_element(layout.volumes.begin(), layout.volumes.end());
    const int countWidth = static_cast<int>(std::to_string(largest).size());
    std::uint32_t first = 0;
    for (const std::uint32_t count : layout.volumes) {
        char name[64];
        std::snprintf(name, sizeof name, ".vol%0*u+%0*u.par2", firstWidth, first, countWidth, count);
        names.push_back(base + name);
        first += count;
    }
    return names;
}

Par2Creation::Par2Creation(Par2Layout layout, std::string creator, const std::atomic<bool>& abort)
    : layout_(std::move(layout)), creator_(std::move(creator)), abort_(abort)
{
}

Par2Creation::~Par2Creation()
{
    Stop();
    (void)Wait();
    if (!committed_)
        Discard();
}

int Par2Creation::Reserve(const std::string& base, bool replace)
{
    names_ = Par2Names(base, layout_);
    for (const std::string& name : names_) {
        reserved_.push_back(std::make_unique<ReservedFile>());
        if (const int error = reserved_.back()->Open(name, replace); error != 0) {
            reserved_.pop_back();
            Discard();
            faultPath_ = name;
            faultError_ = error;
            return error;
        }
    }
    return 0;
}

void Par2Creation::Fault(const std::string& path, int error, bool writing)
{
    std::lock_guard lock(mutex_);
    if (failed_.load())
        return;
    faultPath_ = path;
    faultError_ = error < 0 ? 0 : error;
    faultWrite_ = writing;
    failed_ = true;
}

bool Par2Creation::Start(const std::string& source, std::vector<Par2Piece> pieces, const FileOpener& files)
{
    source_ = source;
    files_ = &files;
    const std::uint64_t sliceSize = layout_.sliceSize;
    // Each part's id comes from its first 16 KiB, its length and its name;
    // the set orders the parts by it, and that order gives each input slice
    // its constant. So these are read before anything else.
    const std::unique_ptr<NFile> reader = files.Open(source, NFilePSDK::Form::Reading);
    if (!reader->IsOpen()) {
        Fault(source, reader->LastError());
        return false;
    }
    std::vector<std::uint8_t> first(16 << 10);
    for (Par2Piece& piece : pieces) {
        File file;
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(piece.length, 16 << 10));
        if (const int error = ReadAt(*reader, piece.offset, first.data(), take); error != 0) {
            Fault(source, error);
            return false;
        }
        file.md5First16k = Md5Of(first.data(), take);
        std::string id;
        Put(id, file.md5First16k);
        Put(id, static_cast<std::uint64_t>(piece.length), 8);
        id += piece.name;
        file.id = Md5Of(id.data(), id.size());
        file.slices = (static_cast<std::uint64_t>(piece.length) + sliceSize - 1) / sliceSize;
        file.piece = std::move(piece);
        parts_.push_back(std::move(file));
    }
    std::stable_sort(parts_.begin(), parts_.end(), [](const File& a, const File& b) { return IdBefore(a.id, b.id); });
    std::uint64_t slices = 0;
    std::string main;
    Put(main, sliceSize, 8);
    Put(main, parts_.size(), 4);
    for (File& file : parts_) {
        file.firstSlice = slices;
        slices += file.slices;
        file.checksums.resize(file.slices);
        Put(main, file.id);
    }
    if (slices != layout_.inputSlices || parts_.empty()) {
        Fault(source, EINVAL);
        return false;
    }
    setId_ = Md5Of(main.data(), main.size());
    recoveryMd5_.assign(layout_.recoverySlices, Md5());
    for (std::uint32_t j = 0; j < layout_.recoverySlices; ++j) {
        std::string head;
        Put(head, setId_);
        head.append(kRecoverySlice.data(), kRecoverySlice.size());
        Put(head, j, 4);
        recoveryMd5_[j].Update(head.data(), head.size());
    }
    for (std::thread& hasher : hashers_)
        hasher = std::thread([this] { Hasher(); });
    multiplier_ = std::thread([this] { Multiplier(); });
    return true;
}

void Par2Creation::Stop() { stop_ = true; }

bool Par2Creation::Wait()
{
    for (std::thread& hasher : hashers_)
        if (hasher.joinable())
            hasher.join();
    if (multiplier_.joinable())
        multiplier_.join();
    return hashersDone_.load() == 2 && multiplied_ && !failed_.load();
}

// The hashing threads' work: where the processor has vector lanes, the parts
// in groups of up to sixteen, each group's MD5s one task and its slices' MD5s
// and CRC-32s another; elsewhere, the parts one by one.
void Par2Creation::Hasher()
{
    const std::unique_ptr<NFile> reader = files_->Open(source_, NFilePSDK::Form::Reading);
    if (!reader->IsOpen())
        return Fault(source_, reader->LastError());
    if (lanes_ && Md5LanesAvailable()) {
        const std::size_t groups = (parts_.size() + kMd5Lanes - 1) / kMd5Lanes;
        for (std::size_t task = nextPart_++; task < 2 * groups; task = nextPart_++) {
            const std::size_t first = task / 2 * kMd5Lanes;
            const std::size_t count = std::min<std::size_t>(kMd5Lanes, parts_.size() - first);
            if (!HashInLanes(first, count, task % 2 == 1, *reader))
                return;
        }
    } else {
        std::vector<std::uint8_t> block(kHashRead);
        for (std::size_t index = nextPart_++; index < parts_.size(); index = nextPart_++)
            if (!HashPart(parts_[index], *reader, block))
                return;
    }
    ++hashersDone_;
}

bool Par2Creation::HashInLanes(std::size_t first, std::size_t count, bool slices, NFile& reader)
{
    // A column of kLaneRead bytes of the same slice of every part at a time;
    // past a part's end its slice is zeros.
    constexpr std::uint64_t kLaneRead = 64 << 10;
    const std::uint64_t sliceSize = layout_.sliceSize;
    std::vector<std::uint8_t> buffer(kMd5Lanes * kLaneRead);
    detail::Md5Lane lanes[kMd5Lanes];
    detail::Md5Lane* pointers[kMd5Lanes] = {};
    const std::uint8_t* data[kMd5Lanes] = {};
    std::uint32_t crcs[kMd5Lanes] = {};
    std::uint64_t most = 0;
    for (std::size_t k = 0; k < count; ++k) {
        pointers[k] = &lanes[k];
        data[k] = buffer.data() + k * kLaneRead;
        most = std::max(most, parts_[first + k].slices);
    }
    for (std::uint64_t s = 0; s < most; ++s) {
        for (std::uint64_t at = 0; at < sliceSize; at += kLaneRead) {
            const std::uint64_t width = std::min(kLaneRead, sliceSize - at);
            std::uint32_t active = 0;
            for (std::size_t k = 0; k < count; ++k) {
                File& file = parts_[first + k];
                if (s >= file.slices)
                    continue;
                if (Stopping())
                    return false;
                const std::uint64_t length = static_cast<std::uint64_t>(file.piece.length);
                const std::uint64_t start = s * sliceSize + at;
                const std::uint64_t held = start < length ? std::min(width, length - start) : 0;
                std::uint8_t* bytes = buffer.data() + k * kLaneRead;
                if (held > 0) {
                    if (const int error = ReadAt(reader, file.piece.offset + static_cast<std::int64_t>(start), bytes,
                                                 static_cast<std::size_t>(held));
                        error != 0) {
                        Fault(source_, error);
                        return false;
                    }
                }
                if (slices) {
                    std::memset(bytes + held, 0, static_cast<std::size_t>(width - held));
                    crcs[k] = Crc32(crcs[k], bytes, static_cast<std::size_t>(width));
                    active |= 1u << k;
                } else if (held == width) {
                    active |= 1u << k;
                } else if (held > 0) {
                    // The part's last bytes: its lane goes on alone.
                    lanes[k].Update(bytes, static_cast<std::size_t>(held));
                }
            }
            Md5LanesBlocks(pointers, data, static_cast<std::size_t>(width / 64), active);
        }
        if (slices)
            for (std::size_t k = 0; k < count; ++k)
                if (s < parts_[first + k].slices) {
                    parts_[first + k].checksums[s] = {lanes[k].Finish(), crcs[k]};
                    crcs[k] = 0;
                }
    }
    if (!slices)
        for (std::size_t k = 0; k < count; ++k)
            parts_[first + k].md5 = lanes[k].Finish();
    return true;
}

// One part: its MD5 and that of each of its slices (the last one padded with
// zeros), over the same blocks on one core, and each slice's CRC-32.
bool Par2Creation::HashPart(File& file, NFile& reader, std::vector<std::uint8_t>& block)
{
    const std::uint64_t sliceSize = layout_.sliceSize;
    Md5Pair md5;
    const std::uint64_t length = static_cast<std::uint64_t>(file.piece.length);
    for (std::uint64_t s = 0; s < file.slices; ++s) {
        const std::uint64_t start = s * sliceSize;
        const std::uint64_t inSlice = std::min(sliceSize, length - start);
        std::uint32_t crc = 0;
        for (std::uint64_t done = 0; done < inSlice;) {
            if (Stopping())
                return false;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(kHashRead, inSlice - done));
            if (const int error = ReadAt(reader, file.piece.offset + static_cast<std::int64_t>(start + done),
                                         block.data(), take);
                error != 0) {
                Fault(source_, error);
                return false;
            }
            md5.Update(block.data(), take);
            crc = Crc32(crc, block.data(), take);
            done += take;
        }
        if (inSlice < sliceSize) {
            std::fill(block.begin(), block.end(), 0);
            for (std::uint64_t pad = sliceSize - inSlice; pad > 0;) {
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(pad, kHashRead));
                md5.UpdateSecond(block.data(), take);
                crc = Crc32(crc, block.data(), take);
                pad -= take;
            }
        }
        file.checksums[s] = {md5.FinishSecond(), crc};
    }
    file.md5 = md5.FinishFirst();
    return true;
}

// The recovery slices, a column at a time: that column of every input slice
// multiplied by its factor and added into the column of each recovery slice,
// which is then written to its volume and taken into its packet's MD5.
void Par2Creation::Multiplier()
{
    const std::unique_ptr<NFile> reader = files_->Open(source_, NFilePSDK::Form::Reading);
    if (!reader->IsOpen())
        return Fault(source_, reader->LastError());
    const std::uint64_t sliceSize = layout_.sliceSize;
    const std::size_t count = layout_.recoverySlices;
    std::uint64_t column = std::min(kColumn, kPar2ColumnMemory / count);
    column = std::min(std::max<std::uint64_t>(column - column % gf16::kBlock, gf16::kBlock), sliceSize);

    // factors[i * count + j]: input slice i's constant to the j-th power.
    std::vector<std::uint32_t> exponents(count);
    for (std::size_t j = 0; j < count; ++j)
        exponents[j] = static_cast<std::uint32_t>(j);
    const std::vector<std::uint16_t> factors = gf16::SliceFactors(layout_.inputSlices, exponents);

    const std::size_t width = gf16::PreparedSize(static_cast<std::size_t>(column));
    std::vector<std::uint8_t> sums(width * count, 0);
    std::vector<std::uint8_t*> accs(count);
    for (std::size_t j = 0; j < count; ++j)
        accs[j] = sums.data() + j * width;
    std::vector<std::uint8_t> raw(width + 2), prepared(width), out(width);

    // Where each recovery slice's bytes go: its volume and the offset there.
    std::vector<std::size_t> volumeOf(count);
    std::vector<std::int64_t> dataAt(count);
    for (std::size_t v = 0, j = 0; v < layout_.volumes.size(); ++v)
        for (std::uint32_t m = 0; m < layout_.volumes[v]; ++m, ++j) {
            volumeOf[j] = v + 1;
            dataAt[j] = static_cast<std::int64_t>(m * (kHeader + kRecoveryBody + sliceSize) + kHeader + kRecoveryBody);
        }

    for (std::uint64_t at = 0; at < sliceSize; at += column) {
        const std::size_t span = static_cast<std::size_t>(std::min(column, sliceSize - at));
        for (const File& file : parts_) {
            const std::uint64_t length = static_cast<std::uint64_t>(file.piece.length);
            for (std::uint64_t s = 0; s < file.slices; ++s) {
                const std::uint64_t start = s * sliceSize + at;
                if (start >= length)
                    continue;
                if (Stopping())
                    return;
                // Past a part's end the slice is zeros, which add nothing.
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(span, length - start));
                if (const int error = ReadAt(*reader, file.piece.offset + static_cast<std::int64_t>(start), raw.data(), take);
                    error != 0)
                    return Fault(source_, error);
                const std::size_t even = take + (take & 1);
                raw[take] = 0;
                gf16::Prepare(raw.data(), even, prepared.data());
                gf16::MulAddMany(prepared.data(), gf16::PreparedSize(even), &factors[(file.firstSlice + s) * count],
                                 accs.data(), count);
            }
        }
        for (std::size_t j = 0; j < count; ++j) {
            gf16::Unprepare(accs[j], span, out.data());
            std::memset(accs[j], 0, width);
            recoveryMd5_[j].Update(out.data(), span);
            NFile& volume = reserved_[volumeOf[j]]->File();
            if (!volume.Seek(dataAt[j] + static_cast<std::int64_t>(at), 0) ||
                volume.Write(out.data(), static_cast<std::uint32_t>(span)) != span)
                return Fault(names_[volumeOf[j]], volume.LastError() != 0 ? volume.LastError() : EIO, true);
        }
    }
    multiplied_ = true;
}

int Par2Creation::Commit(bool sync)
{
    if (hashersDone_.load() != 2 || !multiplied_ || failed_.load() || reserved_.size() != names_.size())
        return EINVAL;
    // What every file holds: the main packet, each part's description and
    // slice checksums, and the creator.
    std::string main;
    Put(main, layout_.sliceSize, 8);
    Put(main, parts_.size(), 4);
    for (const File& file : parts_)
        Put(main, file.id);
    std::string described = Packet(setId_, kMain, main);
    for (const File& file : parts_) {
        std::string body;
        Put(body, file.id);
        Put(body, file.md5);
        Put(body, file.md5First16k);
        Put(body, static_cast<std::uint64_t>(file.piece.length), 8);
        PutPadded(body, file.piece.name);
        described += Packet(setId_, kFileDesc, body);
        std::string sums;
        Put(sums, file.id);
        for (const Par2SliceChecksum& slice : file.checksums) {
            Put(sums, slice.md5);
            Put(sums, slice.crc32, 4);
        }
        described += Packet(setId_, kSliceChecksums, sums);
    }
    std::string creator;
    PutPadded(creator, creator_);
    described += Packet(setId_, kCreator, creator);

    const std::uint64_t recoveryPacket = kHeader + kRecoveryBody + layout_.sliceSize;
    auto fail = [this](std::size_t index, int error) {
        Discard();
        faultPath_ = names_[index];
        faultError_ = error != 0 ? error : EIO;
        faultWrite_ = true;
        return faultError_;
    };
    for (std::size_t v = 0, j = 0; v < names_.size(); ++v) {
        NFile& file = reserved_[v]->File();
        const std::uint32_t inVolume = v == 0 ? 0 : layout_.volumes[v - 1];
        for (std::uint32_t m = 0; m < inVolume; ++m, ++j) {
            std::string head(kMagic, sizeof kMagic);
            Put(head, recoveryPacket, 8);
            Put(head, recoveryMd5_[j].Finish());
            Put(head, setId_);
            head.append(kRecoverySlice.data(), kRecoverySlice.size());
            Put(head, j, 4);
            if (!file.Seek(static_cast<std::int64_t>(m * recoveryPacket), 0) ||
                file.Write(head.data(), static_cast<std::uint32_t>(head.size())) != head.size())
                return fail(v, file.LastError());
        }
        if (!file.Seek(static_cast<std::int64_t>(inVolume * recoveryPacket), 0) ||
            file.Write(described.data(), static_cast<std::uint32_t>(described.size())) != described.size() ||
            (sync && !file.Flush()))
            return fail(v, file.LastError());
    }
    for (std::size_t v = 0; v < names_.size(); ++v)
        if (const int error = reserved_[v]->Commit(); error != 0) {
            // Those put in place already belong to this set alone: nothing
            // of it is left.
            for (std::size_t k = 0; k < v; ++k)
                (void)(files_ ? *files_ : RealFiles()).Remove(names_[k]);
            return fail(v, error);
        }
    committed_ = true;
    return 0;
}

void Par2Creation::Discard()
{
    for (auto& file : reserved_)
        if (file)
            file->Discard();
    reserved_.clear();
}

}  // namespace tessera
