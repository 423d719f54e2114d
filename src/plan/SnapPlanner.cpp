#include "SnapPlanner.h"

#include <string.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "PatternSearch.h"
#include "fileio/NFileStdio.h"

namespace tessera {

namespace {

// A pattern is looked for from the end of a portion backwards, this many
// bytes at a time, so that the search stops near the last occurrence.
constexpr std::size_t kBackwardChunk = 64 * 1024;
// The first window a file's part end is looked for in.
constexpr std::size_t kFileCutFirstWindow = 64 * 1024;

// Where the last occurrence of pattern that lies wholly within bytes begins;
// SIZE_MAX when there is none.
std::size_t LastOccurrence(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> pattern)
{
    if (pattern.size() == 1) {
        const void* found = bytes.empty() ? nullptr : ::memrchr(bytes.data(), pattern[0], bytes.size());
        return found ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes.data()) : SIZE_MAX;
    }
    std::size_t last = SIZE_MAX;
    FindAll(bytes, pattern, [&](std::size_t p) {
        last = p;
        return true;
    });
    return last;
}

}  // namespace

SnapPlanner::SnapPlanner(std::int64_t piece, std::span<const std::uint8_t> pattern)
    : piece_(std::max<std::int64_t>(piece, 1)), pattern_(pattern.begin(), pattern.end())
{
}

std::uint8_t SnapPlanner::ByteAt(std::int64_t at, std::span<const std::uint8_t> block) const
{
    if (at >= fed_)
        return block[static_cast<std::size_t>(at - fed_)];
    return history_[history_.size() - static_cast<std::size_t>(fed_ - at)];
}

void SnapPlanner::ScanPortion(std::span<const std::uint8_t> block, std::size_t from, std::size_t count)
{
    const std::size_t m = pattern_.size();
    const std::int64_t portion = fed_ + static_cast<std::int64_t>(from);
    if (m == 0)
        return;

    // The last occurrence wholly inside the portion ends after any that
    // begins before it.
    const std::size_t chunk = std::max(kBackwardChunk, 2 * m);
    std::size_t end = from + count;
    while (end - from >= m) {
        const std::size_t lo = end - from > chunk ? end - chunk : from;
        if (const std::size_t last = LastOccurrence(block.subspan(lo, end - lo), pattern_); last != SIZE_MAX) {
            lastEnd_ = fed_ + static_cast<std::int64_t>(lo + last + m);
            return;
        }
        if (lo == from)
            break;
        // The next chunk reaches into this one by what an occurrence across
        // the seam needs.
        end = lo + m - 1;
    }

    // One that begins before the portion (in an earlier block, or before a
    // cut's window end) and ends inside it; never one that begins before the
    // part.
    if (m == 1)
        return;
    const std::int64_t seamStart = std::max(start_, portion - static_cast<std::int64_t>(m - 1));
    if (seamStart >= portion)
        return;
    const std::int64_t seamEnd = portion + static_cast<std::int64_t>(std::min(m - 1, count));
    std::uint8_t seam[2 * 4096];
    std::vector<std::uint8_t> large;
    std::uint8_t* bytes = seam;
    const auto length = static_cast<std::size_t>(seamEnd - seamStart);
    if (length > sizeof seam) {
        large.resize(length);
        bytes = large.data();
    }
    for (std::size_t k = 0; k < length; ++k)
        bytes[k] = ByteAt(seamStart + static_cast<std::int64_t>(k), block);
    if (const std::size_t last = LastOccurrence({bytes, length}, pattern_); last != SIZE_MAX)
        lastEnd_ = seamStart + static_cast<std::int64_t>(last + m);
}

void SnapPlanner::KeepHistory(std::span<const std::uint8_t> block)
{
    const std::size_t keep = pattern_.empty() ? 0 : pattern_.size() - 1;
    if (keep == 0)
        return;
    if (block.size() >= keep) {
        history_.assign(block.end() - static_cast<std::ptrdiff_t>(keep), block.end());
        return;
    }
    history_.insert(history_.end(), block.begin(), block.end());
    if (history_.size() > keep)
        history_.erase(history_.begin(), history_.end() - static_cast<std::ptrdiff_t>(keep));
}

void SnapPlanner::Feed(std::span<const std::uint8_t> bytes, std::vector<std::int64_t>& ends)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::int64_t limit = piece_ > kMax - start_ ? kMax : start_ + piece_;
        const std::int64_t at = fed_ + static_cast<std::int64_t>(i);
        const auto take =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() - i, static_cast<std::uint64_t>(limit - at)));
        ScanPortion(bytes, i, take);
        i += take;
        if (fed_ + static_cast<std::int64_t>(i) < limit)
            break;
        // The part's bytes are all here: it ends after its last occurrence.
        // The bytes between that and the limit hold none wholly, so the next
        // part goes on scanning from the limit.
        const std::int64_t end = lastEnd_ > start_ ? lastEnd_ : limit;
        ends.push_back(end);
        start_ = end;
        lastEnd_ = end;
    }
    KeepHistory(bytes);
    fed_ += static_cast<std::int64_t>(bytes.size());
}

void SnapPlanner::Finish(std::vector<std::int64_t>& ends)
{
    if (fed_ > start_)
        ends.push_back(fed_);
    start_ = fed_;
    lastEnd_ = fed_;
}

namespace {

// Where the part that starts at `start` ends in the file: just after the last
// occurrence that lies whole within [start, limit), or at limit. The bytes
// are read backwards from the limit, a window at a time, so that a part's
// end costs a read near it rather than a pass over the part. False when a
// read fails.
bool FileCut(NFile& file, std::int64_t start, std::int64_t limit, std::span<const std::uint8_t> pattern,
             std::vector<std::uint8_t>& window, std::int64_t& end)
{
    const std::size_t m = pattern.size();
    end = limit;
    if (limit - start < static_cast<std::int64_t>(m))
        return true;
    // Small first (records are short as a rule), larger while none turns up.
    std::size_t chunk = std::max(kFileCutFirstWindow, 2 * m);
    std::int64_t hi = limit;
    for (;;) {
        const std::int64_t lo = std::max(start, hi - static_cast<std::int64_t>(chunk));
        const auto length = static_cast<std::size_t>(hi - lo);
        if (window.size() < length)
            window.resize(length);
        if (!file.Seek(lo, SEEK_SET) || file.Read(window.data(), static_cast<std::uint32_t>(length)) != length)
            return false;
        if (const std::size_t last = LastOccurrence({window.data(), length}, pattern); last != SIZE_MAX) {
            end = lo + static_cast<std::int64_t>(last + m);
            return true;
        }
        if (lo == start)
            return true;
        // The next window reaches into this one by what an occurrence across
        // the seam needs.
        hi = lo + static_cast<std::int64_t>(m) - 1;
        chunk = std::max(std::min(chunk * 4, kSnapReadBlock), 2 * m);
    }
}

}  // namespace

Planned<std::vector<SplitEntry>> PlanSnapped(const std::string& path, std::int64_t size, std::int64_t piece,
                                             std::span<const std::uint8_t> pattern, std::size_t room)
{
    if (size < 0)
        return Refuse(Reason::NoSource);
    if (piece < 1)
        return Refuse(Reason::Zero);
    if (pattern.empty())
        return Refuse(Reason::Empty);
    NFileStdio file(path, "rb");
    if (!file.IsOpen())
        return Refuse(Reason::OpenFailed);
    // The parts are planned from the size taken at the start; a file that no
    // longer holds that much cannot be planned.
    if (file.GetSize() < size)
        return Refuse(Reason::ReadFailed);
    try {
        // The same parts as SnapPlanner fed the whole file, found from each
        // part's end: while at least piece bytes are left, the part ends
        // after the last occurrence within them.
        std::vector<SplitEntry> entries;
        std::vector<std::uint8_t> window;
        std::int64_t start = 0;
        while (start < size) {
            if (entries.size() == room)
                return Refuse(Reason::TooManyLines);
            std::int64_t end = size;
            if (size - start >= piece && !FileCut(file, start, start + piece, pattern, window, end))
                return Refuse(Reason::ReadFailed);
            entries.push_back({start, end});
            start = end;
        }
        return entries;
    } catch (const std::bad_alloc&) {
        return Refuse(Reason::NoMemory);
    }
}

}  // namespace tessera
