#include "plan/PlanText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessera {
namespace {

struct LineCase {
    std::string text;
    PlanFault fault;
    SplitEntry entry;
};

TEST(ReadPlanLine, Table)
{
    const LineCase cases[] = {
        {"0 100", PlanFault::None, {0, 100}},
        {"4096 4096", PlanFault::None, {4096, 4096}},
        {"  7\t9  ", PlanFault::None, {7, 9}},
        {"007 010", PlanFault::None, {7, 10}},  // read as the worker reads it
        {"+5 +6", PlanFault::None, {5, 6}},
        {"-0 0", PlanFault::None, {0, 0}},
        {"0 9223372036854775807", PlanFault::None, {0, INT64_MAX}},
        // not two whole numbers: the worker would take a part and drop the rest
        {"", PlanFault::NotAnEntry, {}},
        {"5", PlanFault::NotAnEntry, {}},
        {"5 10 15", PlanFault::NotAnEntry, {}},
        {"5 10x", PlanFault::NotAnEntry, {}},
        {"5,10", PlanFault::NotAnEntry, {}},
        {"0x10 20", PlanFault::NotAnEntry, {}},
        {"1e3 2000", PlanFault::NotAnEntry, {}},
        {"5 +", PlanFault::NotAnEntry, {}},
        {"0 9223372036854775808", PlanFault::NotAnEntry, {}},  // beyond 64 bits
        {std::string("5 10\0", 5), PlanFault::NotAnEntry, {}},
        {"\xef\xbc\x95 10", PlanFault::NotAnEntry, {}},  // a full-width 5
        // the ranges the worker refuses
        {"-1 10", PlanFault::NegativeStart, {}},
        {"-9223372036854775808 0", PlanFault::NegativeStart, {}},
        {"10 9", PlanFault::Backwards, {}},
        {"0 -1", PlanFault::Backwards, {}},
    };
    for (const LineCase& c : cases) {
        SplitEntry entry{-7, -7};
        EXPECT_EQ(ReadPlanLine(c.text, entry), c.fault) << c.text;
        if (c.fault == PlanFault::None)
            EXPECT_EQ(entry, c.entry) << c.text;
        else
            EXPECT_EQ(entry, (SplitEntry{-7, -7})) << c.text;
    }
}

// The whole text in one piece, then in pieces of every size from 1 byte: the
// result never depends on where a piece ends.
PlanTextReader ReadInPieces(const std::string& text, std::size_t listed, std::size_t piece)
{
    PlanTextReader reader(listed);
    for (std::size_t i = 0; i < text.size(); i += piece)
        reader.Feed(std::string_view(text).substr(i, piece));
    reader.Finish();
    return reader;
}

struct TextCase {
    std::string text;
    std::size_t listed;
    PlanFault fault;
    std::size_t line;
    std::vector<SplitEntry> entries;
};

TEST(PlanTextReader, Table)
{
    const std::vector<TextCase> cases = {
        {"", 0, PlanFault::None, 0, {}},
        {"\n\n  \r\n", 0, PlanFault::None, 0, {}},
        {"0 10\n10 20\n", 0, PlanFault::None, 0, {{0, 10}, {10, 20}}},
        {"0 10\r\n10 20", 0, PlanFault::None, 0, {{0, 10}, {10, 20}}},  // CRLF, no last line end
        {"\n0 10\n\n5 5\n", 0, PlanFault::None, 0, {{0, 10}, {5, 5}}},
        // the first bad line, numbered from 1 with blank lines counted
        {"0 10\n\nabc\n10 5\n", 0, PlanFault::NotAnEntry, 3, {}},
        {"0 10\n20 10\nabc\n", 0, PlanFault::Backwards, 2, {}},
        {"-5 10", 0, PlanFault::NegativeStart, 1, {}},
        {"0 10\n10 20\n20 30", 0, PlanFault::None, 0, {{0, 10}, {10, 20}, {20, 30}}},
        // a lone "\r" ends no line
        {"0 10\r20 30\n", 0, PlanFault::NotAnEntry, 1, {}},
        // the cap counts the lines already listed
        {"0 1\n1 2\n", kMaxSplitLines - 2, PlanFault::None, 0, {{0, 1}, {1, 2}}},
        {"0 1\n1 2\n\n2 3\n", kMaxSplitLines - 2, PlanFault::TooManyLines, 4, {}},
        {"0 1\n", kMaxSplitLines, PlanFault::TooManyLines, 1, {}},
        {"\n\n", kMaxSplitLines, PlanFault::None, 0, {}},
        // a line longer than the limit, even of valid digits
        {std::string(kMaxPlanLineLength - 4, ' ') + "0 10\n", 0, PlanFault::None, 0, {{0, 10}}},
        {std::string(kMaxPlanLineLength - 4, ' ') + "0 10\r\n", 0, PlanFault::None, 0, {{0, 10}}},
        {"0 1\n" + std::string(kMaxPlanLineLength - 3, ' ') + "0 10\n", 0, PlanFault::NotAnEntry, 2, {}},
        {std::string(5000, '1'), 0, PlanFault::NotAnEntry, 1, {}},
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const TextCase& c = cases[k];
        for (const std::size_t piece : {c.text.size() + 1, std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
            const PlanTextReader reader = ReadInPieces(c.text, c.listed, piece);
            EXPECT_EQ(reader.Fault(), c.fault) << k << " piece " << piece;
            EXPECT_EQ(reader.FaultLine(), c.line) << k << " piece " << piece;
            EXPECT_EQ(reader.Entries(), c.entries) << k << " piece " << piece;
        }
    }
}

TEST(PlanTextReader, NamesTheRefusedLineCutAtTheLimit)
{
    PlanTextReader reader;
    EXPECT_FALSE(reader.Feed("0 10\n7 x\r\n8 9\n"));
    EXPECT_EQ(reader.FaultLine(), 2u);
    EXPECT_EQ(reader.FaultText(), "7 x");
    EXPECT_FALSE(reader.Finish());

    PlanTextReader longLine;
    longLine.Feed(std::string(3 * kMaxPlanLineLength, 'z'));
    EXPECT_FALSE(longLine.Finish());
    EXPECT_EQ(longLine.FaultText(), std::string(kMaxPlanLineLength, 'z'));
}

// A line past the limit refuses the text the moment it passes it: a file with
// no line break is never read to its end.
TEST(PlanTextReader, RefusesAnOverlongLineAtOnce)
{
    PlanTextReader reader;
    EXPECT_TRUE(reader.Feed("0 10\n" + std::string(kMaxPlanLineLength, '1')));
    // one byte more may still be the "\r" of a CRLF line end
    EXPECT_TRUE(reader.Feed("\r"));
    EXPECT_FALSE(reader.Feed("1"));
    EXPECT_EQ(reader.Refused().reason, Reason::LineTooLong);
    EXPECT_EQ(reader.Refused().at, 2u);
    EXPECT_EQ(reader.Fault(), PlanFault::NotAnEntry);  // it is no "start end" line
    EXPECT_FALSE(reader.Feed("\n5 6\n"));
    EXPECT_FALSE(reader.Finish());
    EXPECT_TRUE(reader.Entries().empty());

    PlanTextReader other;
    EXPECT_FALSE(other.Feed(std::string(kMaxPlanLineLength + 1, ' ')));
    EXPECT_EQ(other.Refused().reason, Reason::LineTooLong);

    PlanTextReader crlf;
    EXPECT_TRUE(crlf.Feed(std::string(kMaxPlanLineLength - 4, ' ') + "0 10\r"));
    EXPECT_TRUE(crlf.Feed("\n"));
    EXPECT_TRUE(crlf.Finish());
    EXPECT_EQ(crlf.Entries(), (std::vector<SplitEntry>{{0, 10}}));
}

// Given the source's size, a line that ends past it refuses the text.
TEST(PlanTextReader, LinesEndInsideTheSource)
{
    PlanTextReader inside(0, 100);
    EXPECT_TRUE(inside.Feed("0 10\n10 100\n100 100\n"));
    EXPECT_TRUE(inside.Finish());
    EXPECT_EQ(inside.Entries().size(), 3u);

    PlanTextReader past(0, 100);
    EXPECT_FALSE(past.Feed("0 10\n\n10 101\n"));
    EXPECT_EQ(past.Refused(), (Refusal{Reason::BeyondEnd, "10 101", 3}));
    EXPECT_TRUE(past.Entries().empty());
}

TEST(PlanText, FormatThenReadGivesTheSameLines)
{
    const std::vector<std::string> lines = {"0 10", "10 20", "5 5", FormatEntry(0, INT64_MAX)};
    const std::string text = FormatPlanText(lines);
    EXPECT_EQ(text, "0 10\n10 20\n5 5\n0 9223372036854775807\n");
    PlanTextReader reader;
    ASSERT_TRUE(reader.Feed(text));
    ASSERT_TRUE(reader.Finish());
    std::vector<std::string> back;
    for (const SplitEntry& e : reader.Entries())
        back.push_back(FormatEntry(e));
    EXPECT_EQ(back, lines);
    EXPECT_EQ(FormatPlanText({}), "");
}

}  // namespace
}  // namespace tessera
