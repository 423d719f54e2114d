#include "plan/PatternSearch.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include "support/PlainScan.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TempDir;
using test::WriteFile;

constexpr std::size_t kRoom = kMaxSplitLines;

Bytes ToBytes(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

std::string Show(const std::vector<SplitEntry>& entries)
{
    std::string s;
    for (const SplitEntry& e : entries)
        s += "(" + FormatEntry(e) + ")";
    return s;
}

std::string Show(const Planned<std::vector<SplitEntry>>& entries)
{
    return entries ? Show(*entries) : "refused: " + std::string(ReasonName(entries.reason()));
}

// The plain forward scan: every start whose bytes equal the pattern.
std::vector<std::size_t> Reference(const Bytes& data, const Bytes& pattern)
{
    return test::PlainScan(data, pattern);
}

// The plain scan window by window, as the file search reads: distinct
// offsets, ascending.
std::vector<std::int64_t> ReferenceWindows(const Bytes& data, const Bytes& pattern, std::size_t window,
                                           std::size_t stride)
{
    std::set<std::int64_t> found;
    for (std::size_t pos = 0; !data.empty(); pos += stride) {
        const std::size_t n = std::min(window, data.size() - pos);
        const Bytes part(data.begin() + static_cast<std::ptrdiff_t>(pos),
                         data.begin() + static_cast<std::ptrdiff_t>(pos + n));
        for (const std::size_t p : Reference(part, pattern))
            found.insert(static_cast<std::int64_t>(pos + p));
        if (pos + n == data.size())
            break;
    }
    return {found.begin(), found.end()};
}

std::vector<std::size_t> Fast(const Bytes& data, const Bytes& pattern)
{
    std::vector<std::size_t> found;
    FindAll(data, pattern, [&](std::size_t p) {
        found.push_back(p);
        return true;
    });
    return found;
}

std::vector<std::size_t> On(SearchKernel kernel, const Bytes& data, const Bytes& pattern)
{
    std::vector<std::size_t> found;
    FindAll(data, pattern, [&](std::size_t p) {
        found.push_back(p);
        return true;
    }, kernel);
    return found;
}

void WriteBytes(const std::string& path, const Bytes& data)
{
    WriteFile(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

// The bytes as lowercase hex, or the reason with the offending byte and its
// offset.
std::string Hex(const Planned<Bytes>& pattern)
{
    if (!pattern) {
        const Refusal why = pattern.error();
        std::string s(ReasonName(why.reason));
        if (!why.token.empty())
            s += " '" + why.token + "' at " + std::to_string(why.at);
        return s;
    }
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (const std::uint8_t b : *pattern)
        s += std::string{digits[b >> 4], digits[b & 15]};
    return s;
}

TEST(ParseHexPattern, Table)
{
    const struct {
        const char* text;
        const char* window;   // the byte field: no white space
        const char* spaced;   // white space between byte pairs
    } cases[] = {
        {"0d0a", "0d0a", "0d0a"},
        {"0D0A", "0d0a", "0d0a"},
        {"0d0A", "0d0a", "0d0a"},
        {"00ff7F80", "00ff7f80", "00ff7f80"},
        {"", "Empty", "Empty"},
        {"0d 0a", "NotAHexDigit ' ' at 2", "0d0a"},
        {" 50\t4B\n0304 ", "NotAHexDigit ' ' at 0", "504b0304"},
        {"0 d0a", "NotAHexDigit ' ' at 1", "NotAHexDigit ' ' at 1"},  // inside a pair
        {"  ", "NotAHexDigit ' ' at 0", "Empty"},
        {"0x0d0a", "NotAHexDigit 'x' at 1", "NotAHexDigit 'x' at 1"},
        {"0d0", "OddHexDigits", "OddHexDigits"},
        {"0d 0", "NotAHexDigit ' ' at 2", "OddHexDigits"},
        {"zz", "NotAHexDigit 'z' at 0", "NotAHexDigit 'z' at 0"},
        {"0g", "NotAHexDigit 'g' at 1", "NotAHexDigit 'g' at 1"},
        {"\xef\xbc\x90\xef\xbc\x90", "NotAHexDigit '\xef' at 0", "NotAHexDigit '\xef' at 0"},  // full-width digits
        {"0d\n", "NotAHexDigit '\n' at 2", "0d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(ParseHexPattern(c.text)), c.window) << '"' << c.text << '"';
        EXPECT_EQ(Hex(ParseHexPattern(c.text, HexSpacing::BetweenPairs)), c.spaced) << '"' << c.text << '"';
    }
}

TEST(FindAll, SmallCases)
{
    using V = std::vector<std::size_t>;
    EXPECT_EQ(Fast(ToBytes("ab\r\ncd\r\nef"), {0x0d, 0x0a}), (V{2, 6}));
    EXPECT_EQ(Fast(ToBytes("abab"), ToBytes("ab")), (V{0, 2}));
    EXPECT_EQ(Fast(ToBytes("aaaa"), ToBytes("aa")), (V{0, 1, 2}));
    EXPECT_EQ(Fast(ToBytes("aaaa"), ToBytes("aaaa")), (V{0}));
    EXPECT_EQ(Fast(ToBytes("aaaa"), ToBytes("aaaaa")), V{});
    EXPECT_EQ(Fast(ToBytes("aaaa"), {}), V{});
    EXPECT_EQ(Fast({}, ToBytes("a")), V{});
    EXPECT_EQ(Fast(ToBytes("xyz"), ToBytes("z")), (V{2}));
}

TEST(FindAll, StopsWhenAsked)
{
    // Both the filter and the linear-time scan it falls back to must stop.
    for (const std::size_t length : {2u, 1000u}) {
        const Bytes data(300'000, 'a');
        const Bytes pattern(length, 'a');
        std::size_t calls = 0;
        FindAll(data, pattern, [&](std::size_t) { return ++calls < 200; });
        EXPECT_EQ(calls, 200u) << length;
    }
}

// Repeating patterns over repeating data: far more candidates than a filter
// can verify, so the search changes method part-way; nothing may be lost or
// repeated at the change.
TEST(FindAll, RepetitiveDataMatchesThePlainScan)
{
    struct Case {
        Bytes data;
        Bytes pattern;
    };
    std::vector<Case> cases;
    cases.push_back({Bytes(200'000, 'a'), Bytes(1024, 'a')});
    cases.push_back({Bytes(200'000, 'a'), Bytes(2, 'a')});
    Bytes period;
    for (int i = 0; i < 100'000; ++i) {
        period.push_back('a');
        period.push_back(i % 997 == 0 ? 'b' : 'a');
    }
    cases.push_back({period, Bytes(300, 'a')});
    Bytes ab;
    for (int i = 0; i < 150'000; ++i)
        ab.push_back(i % 2 ? 'b' : 'a');
    ab[120'001] = 'c';
    Bytes abPattern;
    for (int i = 0; i < 201; ++i)
        abPattern.push_back(i % 2 ? 'b' : 'a');
    cases.push_back({ab, abPattern});
    for (const Case& c : cases) {
        const std::vector<std::size_t> expected = Reference(c.data, c.pattern);
        for (const SearchKernel kernel : SupportedSearchKernels()) {
            const std::vector<std::size_t> got = On(kernel, c.data, c.pattern);
            EXPECT_EQ(got.size(), expected.size()) << c.pattern.size() << " kernel " << static_cast<int>(kernel);
            EXPECT_TRUE(got == expected) << c.pattern.size() << " kernel " << static_cast<int>(kernel);
        }
    }
}

// Random data over alphabets of 1 to 256 letters, random short patterns and
// patterns cut from the data: exactly the plain scan's offsets, on every
// kernel this machine runs (the one FindAll picks would otherwise hide the
// others).
class FindAllOnKernel : public ::testing::TestWithParam<SearchKernel> {};

INSTANTIATE_TEST_SUITE_P(Supported, FindAllOnKernel, ::testing::ValuesIn(SupportedSearchKernels()),
                         [](const auto& info) {
                             switch (info.param) {
                             case SearchKernel::Scalar: return std::string("Scalar");
                             case SearchKernel::Sse2: return std::string("Sse2");
                             case SearchKernel::Avx2: return std::string("Avx2");
                             }
                             return std::string("Unknown");
                         });

TEST_P(FindAllOnKernel, DifferentialAgainstThePlainScan)
{
    std::mt19937_64 random(20261210);
    for (int round = 0; round < 3000; ++round) {
        const int alphabet = std::uniform_int_distribution<int>(1, 4)(random) == 1
                                 ? 256
                                 : std::uniform_int_distribution<int>(1, 4)(random);
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, round % 10 == 0 ? 70'000 : 300)(random);
        Bytes data(size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>('a' + std::uniform_int_distribution<int>(0, alphabet - 1)(random));
        const std::size_t length = std::uniform_int_distribution<std::size_t>(1, round % 7 == 0 ? 80 : 6)(random);
        Bytes pattern(length);
        if (size >= length && round % 2 == 0) {
            const std::size_t at = std::uniform_int_distribution<std::size_t>(0, size - length)(random);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), length, pattern.begin());
        } else {
            for (auto& b : pattern)
                b = static_cast<std::uint8_t>('a' + std::uniform_int_distribution<int>(0, alphabet - 1)(random));
        }
        ASSERT_EQ(On(GetParam(), data, pattern), Reference(data, pattern))
            << "round " << round << " size " << size << " length " << length << " alphabet " << alphabet;
    }
}

// The file search with small windows against the plain scan of the same
// windows: occurrences across a border are found when they start within the
// overlap and not otherwise.
TEST(SearchFile, DifferentialWithSmallWindows)
{
    TempDir dir;
    const std::string path = dir.file("data");
    std::mt19937_64 random(77);
    for (int round = 0; round < 400; ++round) {
        const std::size_t stride = std::uniform_int_distribution<std::size_t>(1, 64)(random);
        const std::size_t window = stride + std::uniform_int_distribution<std::size_t>(0, 16)(random);
        const int alphabet = std::uniform_int_distribution<int>(1, 3)(random);
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 2000)(random);
        Bytes data(size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, alphabet)(random));
        const std::size_t length = std::uniform_int_distribution<std::size_t>(1, window - stride + 3)(random);
        Bytes pattern(length);
        for (auto& b : pattern)
            b = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, alphabet)(random));
        WriteBytes(path, data);

        const SearchOutcome outcome =
            SearchFile(path, static_cast<std::int64_t>(size), pattern, SIZE_MAX, window, stride);
        ASSERT_EQ(outcome.status, Reason::None) << round;
        ASSERT_EQ(outcome.offsets, ReferenceWindows(data, pattern, window, stride))
            << "round " << round << " window " << window << " stride " << stride << " length " << length;
    }
}

// Windows of about a megabyte over low-entropy data, where candidates abound
// and the search changes method inside a window: occurrences across window
// borders must all be found.
TEST(SearchFile, DifferentialWithLargeWindows)
{
    TempDir dir;
    const std::string path = dir.file("data");
    std::mt19937_64 random(5);
    Bytes data(2 << 20);
    for (auto& b : data)
        b = static_cast<std::uint8_t>('a' + std::uniform_int_distribution<int>(0, 1)(random));
    // A long pattern placed inside the first window and across its end.
    Bytes longPattern(300, 'c');
    longPattern[150] = 'a';
    std::copy(longPattern.begin(), longPattern.end(), data.begin() + (256 << 10) - 100);
    std::copy(longPattern.begin(), longPattern.end(), data.begin() + 1'000'000 - 150);
    WriteBytes(path, data);

    std::vector<Bytes> patterns = {longPattern, Bytes(40, 'a')};
    for (int i = 0; i < 6; ++i) {
        Bytes p(std::uniform_int_distribution<std::size_t>(1, 16)(random));
        for (auto& b : p)
            b = static_cast<std::uint8_t>('a' + std::uniform_int_distribution<int>(0, 1)(random));
        patterns.push_back(p);
    }
    for (const Bytes& pattern : patterns) {
        const SearchOutcome outcome =
            SearchFile(path, static_cast<std::int64_t>(data.size()), pattern, SIZE_MAX, 1'000'000, 999'800);
        ASSERT_EQ(outcome.status, Reason::None);
        EXPECT_TRUE(outcome.offsets == ReferenceWindows(data, pattern, 1'000'000, 999'800)) << pattern.size();
        if (pattern == longPattern) {
            EXPECT_EQ(outcome.offsets, (std::vector<std::int64_t>{(256 << 10) - 100, 1'000'000 - 150}));
        }
    }
}

class SearchFixture : public ::testing::Test {
protected:
    Planned<std::vector<SplitEntry>> Plan(std::string_view contents, const Bytes& pattern, std::size_t room = kRoom)
    {
        WriteFile(path_, contents);
        return PlanSearch(path_, static_cast<std::int64_t>(contents.size()), pattern, room);
    }

    TempDir dir_;
    std::string path_ = dir_.file("source");
};

TEST_F(SearchFixture, EntriesInFrontOfEveryOccurrence)
{
    EXPECT_EQ(Show(Plan("ab\r\ncd\r\nef", *ParseHexPattern("0d0a"))), "(0 2)(2 6)(6 10)");
    EXPECT_EQ(Show(Plan("abab", ToBytes("ab"))), "(0 2)(2 4)");
    EXPECT_EQ(Show(Plan("aaaa", ToBytes("aa"))), "(0 1)(1 2)(2 4)");

    // Letters, then three bytes that are no letter.
    std::string thousand;
    for (int i = 0; i < 997; ++i)
        thousand += static_cast<char>('a' + (i * 7) % 26);
    thousand += "\xfd\xfe\xff";
    EXPECT_EQ(Show(Plan(thousand, ToBytes("not in there"))), "(0 1000)");
    EXPECT_EQ(Show(Plan(thousand, Bytes(1001, 'x'))), "(0 1000)");
    EXPECT_EQ(Show(Plan(thousand, ToBytes(thousand.substr(997)))), "(0 997)(997 1000)");
}

TEST_F(SearchFixture, NothingToSearch)
{
    EXPECT_EQ(Show(Plan("", ToBytes("a"))), "");
    EXPECT_EQ(Show(Plan("abc", {})), "refused: Empty");
    EXPECT_EQ(Show(PlanSearch(path_, -1, ToBytes("a"), kRoom)), "refused: NoSource");
    EXPECT_EQ(Show(PlanSearch(dir_.file("missing"), 10, ToBytes("a"), kRoom)), "refused: OpenFailed");
    EXPECT_EQ(SearchFile(dir_.file("missing"), 10, ToBytes("a"), 10).status, Reason::OpenFailed);
}

TEST_F(SearchFixture, FileThatShrankOrGrew)
{
    WriteFile(path_, "xxabxxab");
    // Shrank: the reads cannot deliver the size taken at the start.
    const SearchOutcome shrank = SearchFile(path_, 20, ToBytes("ab"), 100);
    EXPECT_EQ(shrank.status, Reason::ReadFailed);
    EXPECT_TRUE(shrank.offsets.empty());
    EXPECT_EQ(Show(PlanSearch(path_, 20, ToBytes("ab"), kRoom)), "refused: ReadFailed");
    // Grew: only the first size bytes count; "ab" at 6 runs past them.
    EXPECT_EQ(Show(PlanSearch(path_, 7, ToBytes("ab"), kRoom)), "(0 2)(2 7)");
    // Also when the growth lies inside a later window.
    const SearchOutcome grew = SearchFile(path_, 7, ToBytes("ab"), 100, 3, 2);
    EXPECT_EQ(grew.status, Reason::None);
    EXPECT_EQ(grew.offsets, (std::vector<std::int64_t>{2}));
}

// More occurrences than the list can take stops the search at once, and the
// bound is exact: a plan that just fits is still made.
TEST_F(SearchFixture, TooManyOccurrences)
{
    const std::string as(100'000, 'a');
    WriteFile(path_, as);
    const SearchOutcome many = SearchFile(path_, 100'000, ToBytes("aa"), 10);
    EXPECT_EQ(many.status, Reason::TooManyLines);
    EXPECT_TRUE(many.offsets.empty());

    // "ab" at 0, 10, 20 ... 90 in 100 bytes: 10 offsets, the first at 0, so
    // ten entries.
    std::string tens;
    for (int i = 0; i < 10; ++i)
        tens += "ab--------";
    EXPECT_EQ(Plan(tens, ToBytes("ab"), 10)->size(), 10u);
    EXPECT_EQ(Plan(tens, ToBytes("ab"), 9).reason(), Reason::TooManyLines);
    // Without the one at 0 the same count of offsets makes one entry more.
    tens[0] = '-';
    EXPECT_EQ(Plan(tens, ToBytes("ab"), 10)->size(), 10u);
    EXPECT_EQ(Plan(tens, ToBytes("ab"), 9).reason(), Reason::TooManyLines);
    EXPECT_EQ(Plan("abc", ToBytes("zz"), 0).reason(), Reason::TooManyLines);
}

// A sparse file of size bytes (zeros) with bytes written at a few offsets.
void MakeSparseFile(const std::string& path, std::int64_t size,
                    const std::vector<std::pair<std::int64_t, Bytes>>& writes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    for (const auto& [offset, bytes] : writes)
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

Bytes NonZeroBytes(std::size_t length, std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(length);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(random));
    return bytes;
}

TEST_F(SearchFixture, WindowBordersInAFortyMillionByteFile)
{
    const Bytes pattern = ToBytes("WXYZ");
    // One occurrence runs across the end of the first window, one lies in the
    // overlap of the first two windows and is read twice.
    MakeSparseFile(path_, 40'000'000, {{16'781'310, pattern}, {16'778'000, pattern}});
    EXPECT_EQ(Show(PlanSearch(path_, 40'000'000, pattern, kRoom)),
              "(0 16778000)(16778000 16781310)(16781310 40000000)");
}

TEST_F(SearchFixture, LongestPatternFoundAcrossABorder)
{
    // 4,097 bytes starting at 16,777,216 end one byte past the first window:
    // the second window holds them whole.
    const Bytes fits = NonZeroBytes(4097, 1);
    MakeSparseFile(path_, 20'000'000, {{16'777'216, fits}});
    EXPECT_EQ(Show(PlanSearch(path_, 20'000'000, fits, kRoom)), "(0 16777216)(16777216 20000000)");

    // 4,098 bytes starting at 16,777,215 are in neither window whole.
    const Bytes tooLong = NonZeroBytes(4098, 2);
    MakeSparseFile(path_, 20'000'000, {{16'777'215, tooLong}});
    EXPECT_EQ(Show(PlanSearch(path_, 20'000'000, tooLong, kRoom)), "(0 20000000)");
    // Reaching across the whole pattern, it is found.
    EXPECT_EQ(Show(PlanSearch(path_, 20'000'000, tooLong, kRoom, SearchReach::Whole)),
              "(0 16777215)(16777215 20000000)");
}

// Reaching across the whole pattern: a 5,000-byte pattern across the first
// border of a 17 MiB file, and one twice the window's overlap in the middle
// of the second window, are each found once.
TEST_F(SearchFixture, EveryOccurrenceOfALongPatternWhenAsked)
{
    const Bytes five = NonZeroBytes(5000, 3);
    MakeSparseFile(path_, 17 << 20, {{16'777'000, five}, {16'800'000, five}});
    std::size_t found = 0;
    EXPECT_EQ(Show(PlanSearch(path_, 17 << 20, five, kRoom, SearchReach::Whole, &found)),
              "(0 16777000)(16777000 16800000)(16800000 17825792)");
    EXPECT_EQ(found, 2u);
    EXPECT_EQ(Show(PlanSearch(path_, 17 << 20, five, kRoom, SearchReach::Fixed, &found)),
              "(0 16800000)(16800000 17825792)");
    EXPECT_EQ(found, 1u);
    // Nothing found: the whole file, and the count says so.
    EXPECT_EQ(Show(PlanSearch(path_, 17 << 20, NonZeroBytes(5000, 4), kRoom, SearchReach::Whole, &found)),
              "(0 17825792)");
    EXPECT_EQ(found, 0u);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TESSERA_NO_ADDRESS_LIMIT 1
#endif
#endif
#else
#define TESSERA_NO_ADDRESS_LIMIT 1
#endif

#ifndef TESSERA_NO_ADDRESS_LIMIT
// Runs in a child process: caps the address space a little above what is in
// use, searches, and exits 0 when the search reported NoMemory.
[[noreturn]] void SearchUnderAddressLimit(const std::string& path)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + 8 * 1024 * 1024;
    const rlimit cap{limit, limit};
    ::setrlimit(RLIMIT_AS, &cap);
    // A window far larger than any free memory the allocator keeps in hand.
    constexpr std::size_t kWindow = 256 << 20;
    const SearchOutcome outcome = SearchFile(path, kWindow, ToBytes("a"), 10, kWindow, kWindow);
    std::_Exit(outcome.status == Reason::NoMemory ? 0 : 1);
}
#endif

// The search buffer cannot be had: an address-space limit just above what
// the process uses makes the allocation fail for real.
TEST_F(SearchFixture, NoMemoryForTheBuffer)
{
#ifdef TESSERA_NO_ADDRESS_LIMIT
    GTEST_SKIP() << "sanitizers reserve address space that a limit would break";
#else
    MakeSparseFile(path_, 256 << 20, {});
    EXPECT_EXIT(SearchUnderAddressLimit(path_), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace tessera
