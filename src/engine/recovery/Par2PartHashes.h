#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/kernels/Md5.h"
#include "engine/recovery/Par2Packets.h"
#include "fileio/NFile.h"

// The parts of a split as a recovery set describes them, and the two ways of
// hashing them from the source's ranges: their MD5s, and the MD5 and CRC-32
// of each of their slices (the last padded with zeros).
namespace tessera {

// A part of the set: its name in the set (beside the .par2 files) and the
// range of the source it holds.
struct Par2Piece {
    std::string name;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

struct Par2Part {
    Par2Piece piece;
    Md5Digest id{};
    Md5Digest md5{};
    Md5Digest md5First16k{};
    std::uint64_t firstSlice = 0;  // its first slice's index among all input slices
    std::uint64_t slices = 0;
    std::vector<par2::SliceChecksum> checksums;
};

// How a stage that reads the source ended.
struct Par2StageEnd {
    enum class How { Done, Stopped, Failed };
    How how = How::Done;
    int error = 0;         // Failed: the errno (0: the source ended early)
    bool writing = false;  // Failed: in writing what the stage made, not in reading
    [[nodiscard]] static Par2StageEnd Done() { return {}; }
    [[nodiscard]] static Par2StageEnd Stopped() { return {How::Stopped}; }
    [[nodiscard]] static Par2StageEnd Failed(int error, bool writing = false) { return {How::Failed, error, writing}; }
};

// Reads exactly size bytes of file at offset; 0, the errno, or -1 when the
// file ends first.
[[nodiscard]] int ReadExactlyAt(NFile& file, std::int64_t offset, std::uint8_t* buffer, std::size_t size);

// Hashes parts [first, first + count) (at most kMd5Lanes) in vector lanes,
// reading the same column of their slices side by side: their MD5s, or
// (slices) their slices' MD5s and CRC-32s. sliceSize is a multiple of 64.
// stopping is asked before every read.
[[nodiscard]] Par2StageEnd HashPartsInLanes(std::vector<Par2Part>& parts, std::size_t first, std::size_t count,
                                            bool slices, std::uint64_t sliceSize, NFile& source,
                                            const std::function<bool()>& stopping);

// Hashes one part on one core, both MD5s over the same blocks at once.
[[nodiscard]] Par2StageEnd HashPartAlone(Par2Part& part, std::uint64_t sliceSize, NFile& source,
                                         const std::function<bool()>& stopping);

}  // namespace tessera
