#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Refusal.h"
#include "SplitEntry.h"

namespace tessera {

// Cuts that keep records whole. Parts hold at most `piece` bytes: while at
// least `piece` bytes are left from where a part starts, it ends just after
// the last occurrence of the pattern that lies whole within those bytes, or
// at `piece` bytes when none does (a record longer than a part is cut). Once
// fewer bytes are left, they are the last part. With the pattern "\n" these
// are the parts of a line-keeping split of at most `piece` bytes a part.
//
// The source is fed block by block, in any sizes, so that a stream is
// planned as it is read and a file as it is scanned; a part's end is known as
// soon as the bytes that decide it have been fed. An occurrence that begins
// before its part (one that overlaps the occurrence a cut was made after)
// does not count for that part.
class SnapPlanner {
public:
    // piece >= 1 (a smaller one is taken as 1); an empty pattern occurs
    // nowhere.
    SnapPlanner(std::int64_t piece, std::span<const std::uint8_t> pattern);

    // The next bytes of the source. Appends to ends the end of every part
    // these bytes decide, ascending.
    void Feed(std::span<const std::uint8_t> bytes, std::vector<std::int64_t>& ends);
    // The source ended after the bytes fed: appends the last part's end when
    // bytes are left after the last one decided.
    void Finish(std::vector<std::int64_t>& ends);

    // Bytes fed so far.
    [[nodiscard]] std::int64_t Fed() const { return fed_; }
    // Where the part being planned begins.
    [[nodiscard]] std::int64_t PartStart() const { return start_; }
    // The bytes before this offset lie in parts already decided or surely in
    // the one being planned (it ends no earlier); those after it may yet go
    // to the next part.
    [[nodiscard]] std::int64_t Settled() const { return lastEnd_ > start_ ? lastEnd_ : start_; }

private:
    // The byte at offset `at`, which lies in the history or in block (that
    // begins at fed_).
    std::uint8_t ByteAt(std::int64_t at, std::span<const std::uint8_t> block) const;
    // Finds the last occurrence that ends within the portion block[from,
    // from + count), which begins at offset fed_ + from, and begins at or
    // after start_; keeps its end in lastEnd_.
    void ScanPortion(std::span<const std::uint8_t> block, std::size_t from, std::size_t count);
    void KeepHistory(std::span<const std::uint8_t> block);

    std::int64_t piece_;
    std::vector<std::uint8_t> pattern_;
    std::int64_t fed_ = 0;
    std::int64_t start_ = 0;
    // The end of the last occurrence found for the part being planned; at
    // or before start_ when there is none.
    std::int64_t lastEnd_ = 0;
    // The last pattern size - 1 bytes fed (fewer at the start), for
    // occurrences that begin in one block and end in the next.
    std::vector<std::uint8_t> history_;
};

// The snap tool on a file: the entries of SnapPlanner over the first size
// bytes of the file at path, in order and without gaps (none for an empty
// file). Each part's end is found by reading backwards from where it could
// end at the latest, so a file of short records is planned from a window per
// part, not read whole. Refusals: NoSource (size < 0), Zero (piece < 1), Empty (no
// pattern), OpenFailed, ReadFailed (the file ends before size), NoMemory,
// TooManyLines (more entries than room).
[[nodiscard]] Planned<std::vector<SplitEntry>> PlanSnapped(const std::string& path, std::int64_t size,
                                                           std::int64_t piece, std::span<const std::uint8_t> pattern,
                                                           std::size_t room);

// The largest window PlanSnapped reads at once.
inline constexpr std::size_t kSnapReadBlock = 1024 * 1024;

}  // namespace tessera
