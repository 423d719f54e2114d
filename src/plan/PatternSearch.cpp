#include "PatternSearch.h"
#include "ParseNumber.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSERA_X86 1
#endif

#include "Boundaries.h"
#include "Tokens.h"
#include "fileio/NFileStdio.h"

namespace tessera {

Planned<std::vector<std::uint8_t>> ParseHexPattern(std::string_view text, HexSpacing spacing)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    int high = -1;  // the first digit of a pair, while the second is awaited
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = kHexDigits[static_cast<unsigned char>(c)];
        if (digit >= 0) {
            if (high < 0) {
                high = digit;
            } else {
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
                high = -1;
            }
            continue;
        }
        if (spacing == HexSpacing::BetweenPairs && high < 0 && IsAsciiSpace(c))
            continue;
        return Refuse(Reason::NotAHexDigit, text.substr(i, 1), i);
    }
    if (high >= 0)
        return Refuse(Reason::OddHexDigits);
    if (bytes.empty())
        return Refuse(Reason::Empty);
    return bytes;
}

namespace {

using Callback = std::function<bool(std::size_t)>;

// Byte rarity is estimated from this much of the data.
constexpr std::size_t kHistogramBytes = 64 * 1024;
// Candidates are verified in pieces of this size, so that the cost of
// verification can be counted in bytes actually compared.
constexpr std::size_t kVerifyPiece = 64;
// Patterns up to this length are compared in place, byte by byte.
constexpr std::size_t kShortPattern = 16;
// The filter gives way to the linear-time scan once verification has compared
// more than this many bytes per byte scanned (plus a little slack, so that a
// burst of candidates at the start does not decide alone).
constexpr std::size_t kCostFactor = 8;
constexpr std::size_t kCostSlack = 64 * 1024;

// Offsets into the pattern of the two bytes the filter looks at (the same
// one twice for a pattern of one byte).
struct Filter {
    std::size_t first = 0;
    std::size_t second = 0;
};

// Finds the occurrences for one call of FindAll: a filter on two bytes of the
// pattern at fixed distances (the rarest in the data), each hit verified in
// full; where verification costs too much (repeating data and patterns), the
// rest of the data goes to Knuth-Morris-Pratt, which is linear whatever the
// input.
class Scanner {
public:
    // Requires 1 <= pattern size <= data size.
    Scanner(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern, Filter filter,
            const Callback& onMatch)
        : data_(data.data()), pattern_(pattern.data()), m_(pattern.size()), last_(data.size() - pattern.size()),
          onMatch_(onMatch), first_(filter.first), second_(filter.second)
    {
    }

    void Run(SearchKernel kernel);

    const std::uint8_t* data() const { return data_; }
    std::size_t last() const { return last_; }
    std::size_t first() const { return first_; }
    std::size_t second() const { return second_; }
    std::uint8_t firstByte() const { return pattern_[first_]; }
    std::uint8_t secondByte() const { return pattern_[second_]; }

    // Verifies the candidate at pos and reports it; false when the callback
    // asked to stop.
    bool Candidate(std::size_t pos)
    {
        const std::uint8_t* at = data_ + pos;
        if (m_ <= kShortPattern) {
            // Cheaper in place than a call: with repeating data nearly every
            // position is a candidate.
            cost_ += m_;
            for (std::size_t k = 0; k < m_; ++k) {
                if (at[k] != pattern_[k])
                    return true;
            }
            return onMatch_(pos);
        }
        for (std::size_t off = 0; off < m_; off += kVerifyPiece) {
            const std::size_t piece = std::min(kVerifyPiece, m_ - off);
            cost_ += piece;
            if (std::memcmp(at + off, pattern_ + off, piece) != 0)
                return true;
        }
        return onMatch_(pos);
    }

    // True when verification has become too dear for the filter, with every
    // position below scanned done.
    bool TooCostly(std::size_t scanned) const { return cost_ > kCostFactor * scanned + kCostSlack; }

    // The filter without vectors, for positions from..last.
    enum class Step { Finished, Stopped, Switch };
    struct Result {
        Step step;
        std::size_t resume;  // for Switch: the first position not yet examined
    };
    Result ScanScalar(std::size_t from);

private:
    void RunLinear(std::size_t from);

    const std::uint8_t* data_;
    const std::uint8_t* pattern_;
    std::size_t m_;
    std::size_t last_;  // the last position at which an occurrence fits
    const Callback& onMatch_;
    std::size_t first_;  // offsets into the pattern of the two filter bytes
    std::size_t second_;
    std::size_t cost_ = 0;  // bytes compared by verification so far
};

// The two rarest bytes of the pattern by a histogram of the sample.
Filter ChooseFilter(std::span<const std::uint8_t> sample, std::span<const std::uint8_t> pattern)
{
    std::uint32_t histogram[256] = {};
    sample = sample.first(std::min(sample.size(), kHistogramBytes));
    for (const std::uint8_t b : sample)
        ++histogram[b];

    const std::size_t m = pattern.size();
    auto rarity = [&](std::size_t k) { return histogram[pattern[k]]; };
    std::size_t a = 0;
    for (std::size_t k = 1; k < m; ++k) {
        if (rarity(k) < rarity(a))
            a = k;
    }
    std::size_t b = a;
    auto distance = [&](std::size_t k) { return k > a ? k - a : a - k; };
    for (std::size_t k = 0; k < m; ++k) {
        if (k == a)
            continue;
        // Among equally rare bytes the one farthest away: in text, the ends of
        // a pattern are less alike than neighbours.
        if (b == a || rarity(k) < rarity(b) || (rarity(k) == rarity(b) && distance(k) > distance(b)))
            b = k;
    }
    return {std::min(a, b), std::max(a, b)};
}

Scanner::Result Scanner::ScanScalar(std::size_t from)
{
    const std::uint8_t c1 = firstByte();
    const std::uint8_t c2 = secondByte();
    for (std::size_t i = from; i <= last_; ++i) {
        if (data_[i + first_] == c1 && data_[i + second_] == c2) {
            if (!Candidate(i))
                return {Step::Stopped, 0};
            if (TooCostly(i + 1))
                return {Step::Switch, i + 1};
        }
    }
    return {Step::Finished, 0};
}

#ifdef TESSERA_X86

__attribute__((target("avx2"))) Scanner::Result ScanAvx2(Scanner& s)
{
    const std::uint8_t* d = s.data();
    const std::size_t last = s.last();
    const std::uint8_t* p1 = d + s.first();
    const std::uint8_t* p2 = d + s.second();
    const __m256i c1 = _mm256_set1_epi8(static_cast<char>(s.firstByte()));
    const __m256i c2 = _mm256_set1_epi8(static_cast<char>(s.secondByte()));
    std::size_t i = 0;
    // Blocks of 32 positions whose occurrences would all fit: the loads at
    // i + offset stay below i + 32 + m - 1 <= data size.
    for (; last >= 31 && i <= last - 31; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1 + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p2 + i));
        auto mask = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(x, c1), _mm256_cmpeq_epi8(y, c2))));
        if (mask == 0)
            continue;
        do {
            const std::size_t pos = i + static_cast<std::size_t>(__builtin_ctz(mask));
            mask &= mask - 1;
            if (!s.Candidate(pos))
                return {Scanner::Step::Stopped, 0};
        } while (mask != 0);
        if (s.TooCostly(i + 32))
            return {Scanner::Step::Switch, i + 32};
    }
    return s.ScanScalar(i);
}

Scanner::Result ScanSse2(Scanner& s)
{
    const std::uint8_t* d = s.data();
    const std::size_t last = s.last();
    const std::uint8_t* p1 = d + s.first();
    const std::uint8_t* p2 = d + s.second();
    const __m128i c1 = _mm_set1_epi8(static_cast<char>(s.firstByte()));
    const __m128i c2 = _mm_set1_epi8(static_cast<char>(s.secondByte()));
    std::size_t i = 0;
    for (; last >= 15 && i <= last - 15; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1 + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p2 + i));
        auto mask = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, c1), _mm_cmpeq_epi8(y, c2))));
        if (mask == 0)
            continue;
        do {
            const std::size_t pos = i + static_cast<std::size_t>(__builtin_ctz(mask));
            mask &= mask - 1;
            if (!s.Candidate(pos))
                return {Scanner::Step::Stopped, 0};
        } while (mask != 0);
        if (s.TooCostly(i + 16))
            return {Scanner::Step::Switch, i + 16};
    }
    return s.ScanScalar(i);
}

bool HasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

#endif

void Scanner::Run(SearchKernel kernel)
{
    Result result{};
    switch (kernel) {
#ifdef TESSERA_X86
    case SearchKernel::Avx2: result = ScanAvx2(*this); break;
    case SearchKernel::Sse2: result = ScanSse2(*this); break;
#endif
    default: result = ScanScalar(0); break;
    }
    if (result.step == Step::Switch)
        RunLinear(result.resume);
}

void Scanner::RunLinear(std::size_t from)
{
    // Knuth-Morris-Pratt from position from on: finds exactly the occurrences
    // that start at from or later.
    std::vector<std::size_t> border(m_, 0);
    for (std::size_t k = 1, q = 0; k < m_; ++k) {
        while (q > 0 && pattern_[k] != pattern_[q])
            q = border[q - 1];
        if (pattern_[k] == pattern_[q])
            ++q;
        border[k] = q;
    }
    const std::size_t end = last_ + m_;
    std::size_t q = 0;
    for (std::size_t t = from; t < end; ++t) {
        while (q > 0 && data_[t] != pattern_[q])
            q = border[q - 1];
        if (data_[t] == pattern_[q])
            ++q;
        if (q == m_) {
            if (!onMatch_(t + 1 - m_))
                return;
            q = border[q - 1];
        }
    }
}

}  // namespace

void FindAll(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
             const std::function<bool(std::size_t)>& onMatch)
{
    static const SearchKernel fastest = SupportedSearchKernels().back();
    FindAll(data, pattern, onMatch, fastest);
}

std::vector<SearchKernel> SupportedSearchKernels()
{
    std::vector<SearchKernel> kernels{SearchKernel::Scalar};
#ifdef TESSERA_X86
    // SSE2 is part of every x86-64 processor.
    kernels.push_back(SearchKernel::Sse2);
    if (HasAvx2())
        kernels.push_back(SearchKernel::Avx2);
#endif
    return kernels;
}

void FindAll(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
             const std::function<bool(std::size_t)>& onMatch, SearchKernel kernel)
{
    if (pattern.empty() || pattern.size() > data.size())
        return;
    Scanner(data, pattern, ChooseFilter(data, pattern), onMatch).Run(kernel);
}

SearchOutcome SearchFile(const std::string& path, std::int64_t size, std::span<const std::uint8_t> pattern,
                         std::size_t maxOffsets, std::size_t window, std::size_t stride)
{
    SearchOutcome outcome;
    // One read is at most what the file layer can take in one call; a stride
    // longer than the window would skip bytes.
    window = std::clamp<std::size_t>(window, 1, std::numeric_limits<std::uint32_t>::max());
    stride = std::clamp<std::size_t>(stride, 1, window);

    NFileStdio file(path, "rbS");
    if (!file.IsOpen()) {
        outcome.status = Reason::OpenFailed;
        return outcome;
    }
    if (size <= 0 || pattern.empty())
        return outcome;

    // Never more than the bytes that are to be read: a small file gets a small
    // buffer.
    const std::size_t bufferSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(window, static_cast<std::uint64_t>(size)));
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!buffer) {
        outcome.status = Reason::NoMemory;
        return outcome;
    }

    try {
        std::vector<std::int64_t>& offsets = outcome.offsets;
        bool tooMany = false;
        std::int64_t pos = 0;
        for (;;) {
            // Only what the size taken at the start promises, even if the
            // file has grown since.
            const auto want = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(window, static_cast<std::uint64_t>(size - pos)));
            if (!file.Seek(pos, 0) || file.Read(buffer.get(), want) != want) {
                outcome.status = Reason::ReadFailed;
                outcome.offsets.clear();
                return outcome;
            }
            const Callback record = [&](std::size_t p) {
                const std::int64_t at = pos + static_cast<std::int64_t>(p);
                // Windows overlap: an occurrence found again in the next
                // window is already recorded.
                if (!offsets.empty() && at <= offsets.back())
                    return true;
                offsets.push_back(at);
                if (offsets.size() > maxOffsets) {
                    tooMany = true;
                    return false;
                }
                return true;
            };
            FindAll({buffer.get(), want}, pattern, record);
            if (tooMany) {
                outcome.status = Reason::TooManyLines;
                outcome.offsets.clear();
                outcome.offsets.shrink_to_fit();
                return outcome;
            }
            if (size - pos == static_cast<std::int64_t>(want))
                return outcome;
            pos += static_cast<std::int64_t>(stride);
        }
    } catch (const std::bad_alloc&) {
        outcome.status = Reason::NoMemory;
        outcome.offsets.clear();
        outcome.offsets.shrink_to_fit();
        return outcome;
    }
}

Planned<std::vector<SplitEntry>> PlanSearch(const std::string& path, std::int64_t size,
                                            std::span<const std::uint8_t> pattern, std::size_t room,
                                            SearchReach reach, std::size_t* occurrences)
{
    if (size < 0)
        return Refuse(Reason::NoSource);
    if (pattern.empty())
        return Refuse(Reason::Empty);
    // An occurrence lies whole in the window that starts at the last stride
    // at or before it when the windows overlap by its length less one byte.
    std::size_t window = kSearchWindow;
    if (reach == SearchReach::Whole)
        window = std::max(window, kSearchStride + pattern.size() - 1);
    // k distinct offsets make at most k + 1 entries, and exactly k when one of
    // them is 0: past room offsets no plan can fit, so the search stops there.
    SearchOutcome outcome = SearchFile(path, size, pattern, room, window, kSearchStride);
    if (outcome.status != Reason::None)
        return Refuse(outcome.status);
    if (occurrences)
        *occurrences = outcome.offsets.size();
    std::vector<SplitEntry> entries = BoundariesToEntries(std::move(outcome.offsets), size);
    if (entries.size() > room)
        return Refuse(Reason::TooManyLines);
    return entries;
}

}  // namespace tessera
