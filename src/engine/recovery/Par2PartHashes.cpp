#include "engine/recovery/Par2PartHashes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/kernels/Md5Lanes.h"

namespace tessera {

namespace {

// The parts are hashed in blocks of this many bytes (a multiple of 64).
constexpr std::size_t kHashRead = 1 << 20;
// In lanes, a column of this many bytes of the same slice of every part.
constexpr std::uint64_t kLaneRead = 64 << 10;

}  // namespace

int ReadExactlyAt(NFile& file, std::int64_t offset, std::uint8_t* buffer, std::size_t size)
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

Par2StageEnd HashPartsInLanes(std::vector<Par2Part>& parts, std::size_t first, std::size_t count, bool slices,
                              std::uint64_t sliceSize, NFile& source, const std::function<bool()>& stopping)
{
    // Past a part's end its slice is zeros.
    std::vector<std::uint8_t> buffer(kMd5Lanes * kLaneRead);
    detail::Md5Lane lanes[kMd5Lanes];
    detail::Md5Lane* pointers[kMd5Lanes] = {};
    const std::uint8_t* data[kMd5Lanes] = {};
    std::uint32_t crcs[kMd5Lanes] = {};
    std::uint64_t most = 0;
    for (std::size_t k = 0; k < count; ++k) {
        pointers[k] = &lanes[k];
        data[k] = buffer.data() + k * kLaneRead;
        most = std::max(most, parts[first + k].slices);
    }
    for (std::uint64_t s = 0; s < most; ++s) {
        for (std::uint64_t at = 0; at < sliceSize; at += kLaneRead) {
            const std::uint64_t width = std::min(kLaneRead, sliceSize - at);
            std::uint32_t active = 0;
            for (std::size_t k = 0; k < count; ++k) {
                Par2Part& part = parts[first + k];
                if (s >= part.slices)
                    continue;
                if (stopping())
                    return Par2StageEnd::Stopped();
                const std::uint64_t length = static_cast<std::uint64_t>(part.piece.length);
                const std::uint64_t start = s * sliceSize + at;
                const std::uint64_t held = start < length ? std::min(width, length - start) : 0;
                std::uint8_t* bytes = buffer.data() + k * kLaneRead;
                if (held > 0) {
                    if (const int error = ReadExactlyAt(source, part.piece.offset + static_cast<std::int64_t>(start),
                                                        bytes, static_cast<std::size_t>(held));
                        error != 0)
                        return Par2StageEnd::Failed(error < 0 ? 0 : error);
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
                if (s < parts[first + k].slices) {
                    parts[first + k].checksums[s] = {lanes[k].Finish(), crcs[k]};
                    crcs[k] = 0;
                }
    }
    if (!slices)
        for (std::size_t k = 0; k < count; ++k)
            parts[first + k].md5 = lanes[k].Finish();
    return Par2StageEnd::Done();
}

Par2StageEnd HashPartAlone(Par2Part& part, std::uint64_t sliceSize, NFile& source,
                           const std::function<bool()>& stopping)
{
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::uint64_t>(kHashRead, sliceSize)));
    Md5Pair md5;
    const std::uint64_t length = static_cast<std::uint64_t>(part.piece.length);
    for (std::uint64_t s = 0; s < part.slices; ++s) {
        const std::uint64_t start = s * sliceSize;
        const std::uint64_t inSlice = std::min(sliceSize, length - start);
        std::uint32_t crc = 0;
        for (std::uint64_t done = 0; done < inSlice;) {
            if (stopping())
                return Par2StageEnd::Stopped();
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), inSlice - done));
            if (const int error = ReadExactlyAt(source, part.piece.offset + static_cast<std::int64_t>(start + done),
                                                block.data(), take);
                error != 0)
                return Par2StageEnd::Failed(error < 0 ? 0 : error);
            md5.Update(block.data(), take);
            crc = Crc32(crc, block.data(), take);
            done += take;
        }
        if (inSlice < sliceSize) {
            std::fill(block.begin(), block.end(), 0);
            for (std::uint64_t pad = sliceSize - inSlice; pad > 0;) {
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(pad, block.size()));
                md5.UpdateSecond(block.data(), take);
                crc = Crc32(crc, block.data(), take);
                pad -= take;
            }
        }
        part.checksums[s] = {md5.FinishSecond(), crc};
    }
    part.md5 = md5.FinishFirst();
    return Par2StageEnd::Done();
}

}  // namespace tessera
