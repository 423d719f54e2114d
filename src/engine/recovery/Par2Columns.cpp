#include "engine/recovery/Par2Columns.h"

#include <algorithm>
#include <cstring>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Field.h"

namespace tessera {

namespace {

// The columns the recovery slices are computed in, at most.
constexpr std::uint64_t kColumn = 64 << 10;

}  // namespace

Par2StageEnd ComputeRecoveryColumns(const std::vector<Par2Part>& parts, const Par2Layout& layout, NFile& source,
                                    const std::function<bool()>& stopping, const Par2ColumnSink& sink)
{
    const std::uint64_t sliceSize = layout.sliceSize;
    const std::size_t count = layout.recoverySlices;
    std::uint64_t column = std::min(kColumn, kPar2ColumnMemory / count);
    column = std::min(std::max<std::uint64_t>(column - column % gf16::kBlock, gf16::kBlock), sliceSize);

    // Input slice i is multiplied by its constant to the j-th power into
    // recovery slice j: a row of factors made as the slice is read, since a
    // table of them all grows as input slices times recovery slices.
    const std::vector<std::uint16_t> constants = gf16::SliceFactors(layout.inputSlices, {1});
    std::vector<std::uint16_t> factors(count);

    const std::size_t width = gf16::PreparedSize(static_cast<std::size_t>(column));
    std::vector<std::uint8_t> sums(width * count, 0);
    std::vector<std::uint8_t*> accs(count);
    for (std::size_t j = 0; j < count; ++j)
        accs[j] = sums.data() + j * width;
    std::vector<std::uint8_t> raw(width + 2), prepared(width), out(width);

    for (std::uint64_t at = 0; at < sliceSize; at += column) {
        const std::size_t span = static_cast<std::size_t>(std::min(column, sliceSize - at));
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
                const std::size_t even = take + (take & 1);
                raw[take] = 0;
                gf16::Prepare(raw.data(), even, prepared.data());
                const std::uint16_t constant = constants[part.firstSlice + s];
                factors[0] = 1;
                for (std::size_t j = 1; j < count; ++j)
                    factors[j] = gf16::Mul(factors[j - 1], constant);
                gf16::MulAddMany(prepared.data(), gf16::PreparedSize(even), factors.data(), accs.data(), count);
            }
        }
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
