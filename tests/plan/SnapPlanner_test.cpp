#include "plan/SnapPlanner.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/PlainScan.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TempDir;
using test::WriteFile;

Bytes ToBytes(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

// The rule as written, by a plain scan of each part's bytes.
std::vector<std::int64_t> Model(const Bytes& data, std::int64_t piece, const Bytes& pattern)
{
    std::vector<std::int64_t> ends;
    const auto n = static_cast<std::int64_t>(data.size());
    std::int64_t start = 0;
    while (n - start >= piece) {
        const Bytes window(data.begin() + start, data.begin() + start + piece);
        const std::vector<std::size_t> found = test::PlainScan(window, pattern);
        const std::int64_t end =
            found.empty() ? start + piece : start + static_cast<std::int64_t>(found.back() + pattern.size());
        ends.push_back(end);
        start = end;
    }
    if (start < n)
        ends.push_back(n);
    return ends;
}

// The planner fed in blocks of the given sizes (cycled), checking on the way
// that no part ends before what was said to be settled in it.
std::vector<std::int64_t> Fed(const Bytes& data, std::int64_t piece, const Bytes& pattern,
                              const std::vector<std::size_t>& blocks)
{
    SnapPlanner planner(piece, pattern);
    std::vector<std::int64_t> ends;
    std::int64_t settled = 0;
    // The first part a call decides is the one that was being planned.
    const auto decide = [&](auto call) {
        const std::size_t before = ends.size();
        call();
        if (ends.size() > before)
            EXPECT_GE(ends[before], settled) << "a part ended before bytes settled in it";
        settled = planner.Settled();
        EXPECT_GE(settled, planner.PartStart());
        EXPECT_LE(settled, planner.Fed());
    };
    std::size_t pos = 0;
    std::size_t k = 0;
    while (pos < data.size()) {
        const std::size_t n = std::min(blocks[k++ % blocks.size()], data.size() - pos);
        decide([&] { planner.Feed({data.data() + pos, n}, ends); });
        pos += n;
    }
    decide([&] { planner.Finish(ends); });
    return ends;
}

std::vector<std::int64_t> Ends(const std::vector<SplitEntry>& entries)
{
    std::vector<std::int64_t> ends;
    std::int64_t start = 0;
    for (const SplitEntry& e : entries) {
        EXPECT_EQ(e.start, start) << "entries with a gap";
        ends.push_back(e.end);
        start = e.end;
    }
    return ends;
}

TEST(SnapPlanner, Cases)
{
    struct Case {
        std::string data;
        std::int64_t piece;
        std::string pattern;
        std::vector<std::int64_t> ends;
    };
    const std::vector<Case> cases{
        {"", 5, "\n", {}},
        {"abc", 5, "\n", {3}},
        // Exactly a part's bytes left: still cut after the last occurrence.
        {"ab\ncd", 5, "\n", {3, 5}},
        {"ab\ncd\n", 6, "\n", {6}},
        // A record longer than a part is cut, and the cut's rest is a record.
        {"abcdefgh\nij\n", 5, "\n", {5, 9, 12}},
        {"\n\n\n\n", 1, "\n", {1, 2, 3, 4}},
        {"a\r\nb\r\nc", 6, "\r\n", {6, 7}},
        {"a\r\nb\r\nc", 5, "\r\n", {3, 7}},
        // An occurrence across the end of a part's bytes does not count.
        {"ab\r\ncd", 3, "\r\n", {3, 6}},
        // Overlapping occurrences: the last one that lies whole in the part;
        // one that begins before its part does not count for it.
        {"aaaaa", 4, "aa", {4, 5}},
        {"xaaay", 3, "aa", {3, 5}},
        // A pattern longer than a part never fits.
        {"abcabc", 2, "abc", {2, 4, 6}},
    };
    for (const Case& c : cases) {
        const Bytes data = ToBytes(c.data);
        const Bytes pattern = ToBytes(c.pattern);
        EXPECT_EQ(Model(data, c.piece, pattern), c.ends) << "the model, on '" << c.data << "' " << c.piece;
        for (const std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{1000}})
            EXPECT_EQ(Fed(data, c.piece, pattern, {block}), c.ends) << "'" << c.data << "' " << c.piece << " in blocks of "
                                                                    << block;
    }
}

// PlanSnapped on the bytes written to a file: it looks for each part's end
// backwards from the part's limit, not by feeding the planner.
std::vector<std::int64_t> FromFile(const TempDir& dir, const Bytes& data, std::int64_t piece, const Bytes& pattern)
{
    const std::string file = dir.file("planned");
    WriteFile(file, std::string(data.begin(), data.end()));
    const auto planned = PlanSnapped(file, static_cast<std::int64_t>(data.size()), piece, pattern, kMaxSplitLines);
    EXPECT_TRUE(planned) << ReasonName(planned.error().reason);
    return planned ? Ends(*planned) : std::vector<std::int64_t>{};
}

TEST(SnapPlanner, FedInAnyBlocksAsTheRuleSays)
{
    TempDir dir;
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        // Few distinct bytes, so that patterns occur, overlap and cross blocks.
        const int alphabet = 2 + static_cast<int>(random() % 3);
        Bytes data(random() % 300);
        for (std::uint8_t& b : data)
            b = static_cast<std::uint8_t>('a' + random() % alphabet);
        Bytes pattern(1 + random() % 4);
        for (std::uint8_t& b : pattern)
            b = static_cast<std::uint8_t>('a' + random() % alphabet);
        const std::int64_t piece = 1 + static_cast<std::int64_t>(random() % 40);
        std::vector<std::size_t> blocks(1 + random() % 4);
        for (std::size_t& b : blocks)
            b = 1 + random() % 50;
        ASSERT_EQ(Fed(data, piece, pattern, blocks), Model(data, piece, pattern)) << "round " << round;
        ASSERT_EQ(FromFile(dir, data, piece, pattern), Model(data, piece, pattern)) << "file, round " << round;
    }
}

TEST(SnapPlanner, LongPatternSearchedBackwardsAcrossChunks)
{
    // Occurrences far apart, one across the seam of the backward search's
    // chunks, in a part much longer than a chunk.
    Bytes data(300'000, 'x');
    const Bytes pattern = ToBytes("END-OF-RECORD");
    for (const std::size_t at : {std::size_t{10}, std::size_t{65'530}, std::size_t{131'070}, std::size_t{250'000}})
        std::copy(pattern.begin(), pattern.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
    for (const std::int64_t piece : {std::int64_t{140'000}, std::int64_t{200'000}, std::int64_t{65'543}})
        EXPECT_EQ(Fed(data, piece, pattern, {1 << 20}), Model(data, piece, pattern)) << piece;
    EXPECT_EQ(Fed(data, 140'000, pattern, {4096, 7}), Model(data, 140'000, pattern));
    // A file's part end is looked for in growing windows from the part's
    // limit back: across their seams too, and in a part with none at all.
    TempDir dir;
    for (const std::int64_t piece : {std::int64_t{140'000}, std::int64_t{200'000}, std::int64_t{65'543},
                                     std::int64_t{65'536 + 12}, std::int64_t{300'000},
                                     // the last whole occurrence across the first window's start
                                     std::int64_t{65'539 + 65'536}})
        EXPECT_EQ(FromFile(dir, data, piece, pattern), Model(data, piece, pattern)) << "file, " << piece;
    const Bytes plain(3'000'000, 'x');
    EXPECT_EQ(FromFile(dir, plain, 2'500'000, pattern), Model(plain, 2'500'000, pattern));
    Bytes lines = plain;
    lines[17] = '\n';
    EXPECT_EQ(FromFile(dir, lines, 2'500'000, Bytes{'\n'}), (std::vector<std::int64_t>{18, 2'500'018, 3'000'000}));
}

// The parts `split -C piece -t separator` makes of the file, by their ends.
std::vector<std::int64_t> SplitC(const TempDir& dir, const std::string& file, std::int64_t piece, char separator)
{
    const std::filesystem::path out = dir.path() / "oracle";
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    const std::string sep = separator == '\n' ? "" : std::string(" -t '") + separator + "'";
    const std::string command = "split -a 6 -d -C " + std::to_string(piece) + sep + " '" + file + "' '" +
                                (out / "x").string() + "'";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(out))
        names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    std::vector<std::int64_t> ends;
    std::int64_t end = 0;
    for (const std::string& name : names) {
        end += static_cast<std::int64_t>(std::filesystem::file_size(name));
        ends.push_back(end);
    }
    return ends;
}

TEST(SnapPlanner, FilePartsAsALineKeepingSplitMakesThem)
{
    TempDir dir;
    const std::string file = dir.file("text");
    std::mt19937 random(11);
    struct Shape {
        std::size_t bytes;
        std::size_t longestRecord;
        std::int64_t piece;
    };
    // Small parts and records; records longer than parts; parts and records
    // longer than the oracle's read buffer; parts of one byte.
    const std::vector<Shape> shapes{
        {2'000, 30, 50},       {2'000, 200, 50},   {1'500, 10, 7},        {200, 5, 1},
        {700'000, 300'000, 200'000}, {900'000, 2'000, 150'001}, {400'000, 100, 131'072},
    };
    for (const Shape& shape : shapes) {
        for (const char separator : {'\n', 'q'}) {
            std::string text;
            while (text.size() < shape.bytes) {
                const std::size_t record = random() % shape.longestRecord;
                for (std::size_t i = 0; i < record; ++i)
                    text += static_cast<char>('a' + random() % 16);
                text += separator;
            }
            text.resize(shape.bytes - random() % 3);
            WriteFile(file, text);
            const std::vector<std::int64_t> oracle = SplitC(dir, file, shape.piece, separator);
            const Bytes pattern{static_cast<std::uint8_t>(separator)};
            const auto planned = PlanSnapped(file, static_cast<std::int64_t>(text.size()), shape.piece, pattern,
                                             kMaxSplitLines);
            ASSERT_TRUE(planned) << ReasonName(planned.error().reason);
            EXPECT_EQ(Ends(*planned), oracle) << shape.bytes << " bytes, parts of " << shape.piece;
            EXPECT_EQ(Fed(Bytes(text.begin(), text.end()), shape.piece, pattern, {4096, 65'536, 3}), oracle)
                << "fed in small blocks: " << shape.bytes << " bytes, parts of " << shape.piece;
        }
    }
}

TEST(SnapPlanner, FileRefusals)
{
    TempDir dir;
    const std::string file = dir.file("f");
    WriteFile(file, "a\nb\nc\nd\n");
    const Bytes newline{'\n'};
    EXPECT_EQ(PlanSnapped(file, -1, 2, newline, 10).error().reason, Reason::NoSource);
    EXPECT_EQ(PlanSnapped(file, 8, 0, newline, 10).error().reason, Reason::Zero);
    EXPECT_EQ(PlanSnapped(file, 8, 2, {}, 10).error().reason, Reason::Empty);
    EXPECT_EQ(PlanSnapped(dir.file("missing"), 8, 2, newline, 10).error().reason, Reason::OpenFailed);
    // The file is shorter than the size the plan is made for.
    EXPECT_EQ(PlanSnapped(file, 9, 2, newline, 10).error().reason, Reason::ReadFailed);
    EXPECT_EQ(PlanSnapped(file, 8, 2, newline, 3).error().reason, Reason::TooManyLines);
    const auto four = PlanSnapped(file, 8, 2, newline, 4);
    ASSERT_TRUE(four);
    EXPECT_EQ(Ends(*four), (std::vector<std::int64_t>{2, 4, 6, 8}));
    const auto empty = PlanSnapped(file, 0, 2, newline, 0);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace tessera
