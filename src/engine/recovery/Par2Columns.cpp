#include "engine/recovery/Par2Columns.h"

#include <algorithm>
#include <cstring>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Field.h"
#include "engine/kernels/Gf16Threads.h"

namespace tessera {

namespace {

// The columns the recovery slices are computed in, at most.
constexpr std::uint64_t kColumn = 64 << 10;
// Input slices read and multiplied in one go: the more, the fewer times each
// accumulator passes through the cache, but their factors' tables (up to 256
// bytes each, for every recovery slice) must stay within kTableMemory.
constexpr std::size_t kMostInputs = 64;
constexpr std::size_t kTableMemory = 8 << 20;
// Columns lie this much further apart than their width: at a power of two
// apart, the same range of every column would meet in a few sets of the
// processor's caches and push each other out.
constexpr std::size_t kStagger = 33 * gf16::kBlock;

// One group of input slices' column, prepared, and their factors: what the
// threads multiply while the next group is read.
struct InputGroup {
    std::vector<std::uint8_t> bytes;       // a column of each
    std::vector<const std::uint8_t*> ins;  // into bytes
    std::vector<std::uint16_t> factors;    // [i * count + j]
    gf16::Factors made;                    // the factors as the kernel takes them
    std::size_t size = 0;                  // slices in it
};

}  // namespace

Par2StageEnd ComputeRecoveryColumns(const std::vector<Par2Part>& parts, const Par2Layout& layout, NFile& source,
                                    const std::function<bool()>& stopping, const Par2ColumnSink& sink)
{
    const std::uint64_t sliceSize = layout.sliceSize;
    const std::size_t count = layout.recoverySlices;
    if (count == 0 || sliceSize == 0)
        return Par2StageEnd::Done();
    std::uint64_t column = std::min(kColumn, kPar2ColumnMemory / count);
    column = std::min(std::max<std::uint64_t>(column - column % gf16::kBlock, gf16::kBlock), sliceSize);

    // Input slice i is multiplied by its constant to the j-th power in
    // recovery slice j: each group's rows are made as it is read.
    const std::vector<std::uint16_t> constants = gf16::InputConstants(layout.inputSlices);

    const std::size_t width = gf16::PreparedSize(static_cast<std::size_t>(column));
    const std::size_t stride = width + kStagger;
    std::vector<std::uint8_t> sums(stride * count, 0);
    std::vector<std::uint8_t*> accs(count);
    for (std::size_t j = 0; j < count; ++j)
        accs[j] = sums.data() + j * stride;
    std::vector<std::uint8_t> raw(width + 2), out(width);
    const std::size_t groupSize = std::clamp<std::size_t>(kTableMemory / gf16::kMostFactorBytes / count, 1, kMostInputs);
    InputGroup groups[2];
    for (InputGroup& group : groups) {
        group.bytes.resize(groupSize * stride);
        group.ins.resize(groupSize);
        group.factors.resize(groupSize * count);
    }
    // Last, so that it is stopped before the buffers it works on go.
    gf16::ColumnThreads threads;

    for (std::uint64_t at = 0; at < sliceSize; at += column) {
        const std::size_t span = static_cast<std::size_t>(std::min(column, sliceSize - at));
        const std::size_t prepared = gf16::PreparedSize(span);
        int filling = 0;
        groups[0].size = groups[1].size = 0;
        // Hands the group being filled to the threads, and fills the other
        // meanwhile (the threads are done with it once Start returns).
        const auto multiply = [&] {
            InputGroup& group = groups[filling];
            if (group.size == 0)
                return;
            group.made.Make(group.factors.data(), group.size, count);
            threads.Start(group.ins.data(), prepared, group.made, accs.data());
            filling ^= 1;
            groups[filling].size = 0;
        };
        for (const Par2Part& part : parts) {
            const std::uint64_t length = static_cast<std::uint64_t>(part.piece.length);
            for (std::uint64_t s = 0; s < part.slices; ++s) {
                const std::uint64_t start = s * sliceSize + at;
                if (start >= length)
                    continue;
                if (stopping())
                    return Par2StageEnd::Stopped();
                // Past a part's end the slice is zeros, which add nothing.
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(span, length - start));
                if (const int error = ReadExactlyAt(source, part.piece.offset + static_cast<std::int64_t>(start),
                                                    raw.data(), take);
                    error != 0)
                    return Par2StageEnd::Failed(error < 0 ? 0 : error);
                InputGroup& group = groups[filling];
                std::uint8_t* in = group.bytes.data() + group.size * stride;
                const std::size_t even = take + (take & 1);
                raw[take] = 0;
                gf16::Prepare(raw.data(), even, in);
                std::memset(in + gf16::PreparedSize(even), 0, prepared - gf16::PreparedSize(even));
                group.ins[group.size] = in;
                const std::uint16_t constant = constants[part.firstSlice + s];
                gf16::Powers(constant, count, group.factors.data() + group.size * count);
                if (++group.size == groupSize)
                    multiply();
            }
        }
        multiply();
        threads.Wait();
        for (std::size_t j = 0; j < count; ++j) {
            gf16::Unprepare(accs[j], span, out.data());
            std::memset(accs[j], 0, width);
            if (const int error = sink(static_cast<std::uint32_t>(j), at, out.data(), span); error != 0)
                return Par2StageEnd::Failed(error, true);
        }
    }
    return Par2StageEnd::Done();
}

}  // namespace tessera
