#include "engine/recovery/Par2Create.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/kernels/Md5Lanes.h"
#include "engine/recovery/Par2Packets.h"

namespace tessera {

using namespace par2;

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

void Par2Creation::Ended(const Par2StageEnd& end, const std::string& path)
{
    if (end.how == Par2StageEnd::How::Failed)
        Fault(path, end.error, end.writing);
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
        Par2Part part;
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(piece.length, 16 << 10));
        if (const int error = ReadExactlyAt(*reader, piece.offset, first.data(), take); error != 0) {
            Fault(source, error);
            return false;
        }
        part.md5First16k = Md5Of(first.data(), take);
        part.id = FileId(part.md5First16k, static_cast<std::uint64_t>(piece.length), piece.name);
        part.slices = (static_cast<std::uint64_t>(piece.length) + sliceSize - 1) / sliceSize;
        part.piece = std::move(piece);
        parts_.push_back(std::move(part));
    }
    std::stable_sort(parts_.begin(), parts_.end(),
                     [](const Par2Part& a, const Par2Part& b) { return FileIdBefore(a.id, b.id); });
    MainBody main;
    main.sliceSize = sliceSize;
    std::uint64_t slices = 0;
    for (Par2Part& part : parts_) {
        part.firstSlice = slices;
        slices += part.slices;
        part.checksums.resize(part.slices);
        main.fileIds.push_back(part.id);
    }
    if (slices != layout_.inputSlices || parts_.empty()) {
        Fault(source, EINVAL);
        return false;
    }
    setId_ = SetIdOf(BuildMain(main));
    recoveryMd5_.clear();
    for (std::uint32_t j = 0; j < layout_.recoverySlices; ++j)
        recoveryMd5_.push_back(RecoveryMd5(setId_, j));
    volumeOf_.assign(layout_.recoverySlices, 0);
    dataAt_.assign(layout_.recoverySlices, 0);
    for (std::size_t v = 0, j = 0; v < layout_.volumes.size(); ++v)
        for (std::uint32_t m = 0; m < layout_.volumes[v]; ++m, ++j) {
            volumeOf_[j] = v + 1;
            dataAt_[j] = static_cast<std::int64_t>(m * (kHeader + kRecoveryBody + sliceSize) + kHeader + kRecoveryBody);
        }
    for (std::thread& hasher : hashers_)
        hasher = std::thread([this] { Hasher(); });
    multiplier_ = std::thread([this] { Multiplier(); });
    return true;
}

void Par2Creation::Stop() { stop_ = true; }

// Several threads read the same bytes of the source, beside the copy: none
// lets its pages go, or the others would read them from the disk again.
std::unique_ptr<NFile> Par2Creation::OpenSource() const
{
    std::unique_ptr<NFile> reader = files_->Open(source_, NFilePSDK::Form::Reading);
    reader->SetCacheUse(NFile::CacheUse::Cached);
    return reader;
}

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
// and CRC-32s another; elsewhere, and for slices that are no whole number of
// the lanes' 64-byte blocks, the parts one by one.
void Par2Creation::Hasher()
{
    const std::unique_ptr<NFile> reader = OpenSource();
    if (!reader->IsOpen())
        return Fault(source_, reader->LastError());
    const auto stopping = [this] { return Stopping(); };
    if (lanes_ && Md5LanesAvailable() && layout_.sliceSize % 64 == 0) {
        const std::size_t groups = (parts_.size() + kMd5Lanes - 1) / kMd5Lanes;
        for (std::size_t task = nextPart_++; task < 2 * groups; task = nextPart_++) {
            const std::size_t first = task / 2 * kMd5Lanes;
            const std::size_t count = std::min<std::size_t>(kMd5Lanes, parts_.size() - first);
            const Par2StageEnd end =
                HashPartsInLanes(parts_, first, count, task % 2 == 1, layout_.sliceSize, *reader, stopping);
            if (end.how != Par2StageEnd::How::Done)
                return Ended(end, source_);
        }
    } else {
        for (std::size_t index = nextPart_++; index < parts_.size(); index = nextPart_++) {
            const Par2StageEnd end = HashPartAlone(parts_[index], layout_.sliceSize, *reader, stopping);
            if (end.how != Par2StageEnd::How::Done)
                return Ended(end, source_);
        }
    }
    ++hashersDone_;
}

void Par2Creation::Multiplier()
{
    const std::unique_ptr<NFile> reader = OpenSource();
    if (!reader->IsOpen())
        return Fault(source_, reader->LastError());
    std::uint32_t faulty = 0;
    const Par2StageEnd end = ComputeRecoveryColumns(
        parts_, layout_, *reader, [this] { return Stopping(); },
        [&](std::uint32_t j, std::uint64_t at, const std::uint8_t* bytes, std::size_t size) {
            faulty = j;
            return WriteColumn(j, at, bytes, size);
        });
    if (end.how != Par2StageEnd::How::Done)
        return Ended(end, end.writing ? names_[volumeOf_[faulty]] : source_);
    multiplied_ = true;
}

int Par2Creation::WriteColumn(std::uint32_t j, std::uint64_t at, const std::uint8_t* bytes, std::size_t size)
{
    recoveryMd5_[j].Update(bytes, size);
    NFile& volume = reserved_[volumeOf_[j]]->File();
    if (!volume.Seek(dataAt_[j] + static_cast<std::int64_t>(at), 0) ||
        volume.Write(bytes, static_cast<std::uint32_t>(size)) != size)
        return volume.LastError() != 0 ? volume.LastError() : EIO;
    return 0;
}

std::string Par2Creation::DescribingPackets() const
{
    MainBody main;
    main.sliceSize = layout_.sliceSize;
    for (const Par2Part& part : parts_)
        main.fileIds.push_back(part.id);
    std::string packets = Packet(setId_, kMain, BuildMain(main));
    for (const Par2Part& part : parts_) {
        FileDescription description;
        description.id = part.id;
        description.md5 = part.md5;
        description.md5First16k = part.md5First16k;
        description.length = static_cast<std::uint64_t>(part.piece.length);
        description.name = part.piece.name;
        packets += Packet(setId_, kFileDesc, BuildFileDescription(description));
        packets += Packet(setId_, kSliceChecksums, BuildSliceChecksums(part.id, part.checksums));
    }
    packets += Packet(setId_, kCreator, BuildCreator(creator_));
    return packets;
}

int Par2Creation::Commit(bool sync)
{
    if (hashersDone_.load() != 2 || !multiplied_ || failed_.load() || reserved_.size() != names_.size())
        return EINVAL;
    const std::string described = DescribingPackets();
    const std::uint64_t recoveryPacket = kHeader + kRecoveryBody + layout_.sliceSize;
    auto fail = [this](std::size_t index, int error) {
        Discard();
        faultPath_ = names_[index];
        faultError_ = error != 0 ? error : EIO;
        faultWrite_ = true;
        return faultError_;
    };
    // Each volume: its recovery packets' heads, now that their MD5s are
    // known, then the describing packets.
    for (std::size_t v = 0, j = 0; v < names_.size(); ++v) {
        NFile& file = reserved_[v]->File();
        const std::uint32_t inVolume = v == 0 ? 0 : layout_.volumes[v - 1];
        for (std::uint32_t m = 0; m < inVolume; ++m, ++j) {
            const std::string head =
                BuildRecoveryHead(setId_, static_cast<std::uint32_t>(j), layout_.sliceSize, recoveryMd5_[j].Finish());
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
