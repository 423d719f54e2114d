#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "PlanTools.h"
#include "support/TempDir.h"

namespace tessera::cli {
namespace {

// The plan of `split ARGS FILE` for a file holding `content`, lines joined
// with "|", or "error: " and the refusal.
std::string PlanOf(std::vector<std::string> args, const std::string& content, const std::string& input = {})
{
    test::TempDir dir;
    const std::string file = dir.file("f.bin");
    test::WriteFile(file, content);
    std::vector<const char*> argv{"tessera-cli", "split"};
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(file.c_str());
    std::ostringstream out, err;
    const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    if (!parsed.options)
        return "usage: " + err.str().substr(0, err.str().find('\n'));
    std::istringstream in(input);
    const PlanResult plan = BuildPlan(file, static_cast<std::int64_t>(content.size()), parsed.options->tools, in);
    if (!plan.error.empty())
        return "error: " + plan.error.substr(0, plan.error.find("': ") + 1);
    std::string joined;
    for (const SplitEntry& entry : plan.entries)
        joined += (joined.empty() ? "" : "|") + FormatEntry(entry);
    return joined;
}

struct Case {
    std::vector<std::string> args;
    std::string expected;
};

// Each tool adds what its window tool adds; tools apply in command-line order.
TEST(CliPlan, OptionsToLines)
{
    const std::string hundred(100, 'x');
    const Case cases[] = {
        {{"--size", "30"}, "0 30|30 60|60 90|90 100"},
        {{"--size", "0x32"}, "0 50|50 100"},
        {{"--size", "1K"}, "0 100"},
        {{"--pieces", "3"}, "0 34|34 68|68 100"},
        {{"--range", "10:20"}, "10 20"},
        {{"--range", "20:20", "--range", "0:0x0A"}, "20 20|0 10"},
        {{"--extract", "10:20"}, "10 30"},
        {{"--extract", "100:0"}, "100 100"},
        {{"--at", "300"}, "error: --at '300'"},
        {{"--at", "30 0x3C\t10"}, "0 10|10 30|30 60|60 100"},
        // extract goes to its place in text order, the others append
        {{"--range", "9:10", "--extract", "10:10"}, "10 20|9 10"},
        {{"--extract", "10:10", "--range", "9:10"}, "10 20|9 10"},
        {{"--size", "50", "--extract", "60:5", "--pieces", "1"}, "0 50|50 100|60 65|0 100"},
        // refused against the file
        {{"--extract", "90:11"}, "error: --extract '90:11'"},
        {{"--range", "0:101"}, "error: --range '0:101'"},
        {{"--extract", "0x7FFFFFFFFFFFFFFF:1"}, "error: --extract '0x7FFFFFFFFFFFFFFF:1'"},
        // refused whatever the file: bad usage
        {{"--size", "0"}, "usage: tessera-cli: --size '0': expected a piece size of at least 1 byte"},
        {{"--size", "16E"}, "usage: tessera-cli: --size '16E': the number '16E' is too large (2^63 - 1 at most)"},
        {{"--size", "1m"}, "usage: tessera-cli: --size '1m': 'm' is not a size suffix (K, M, G, T, P, E, KiB, ... or kB, MB, ...)"},
        {{"--size", "abc"}, "usage: tessera-cli: --size 'abc': 'abc' is not a number"},
        {{"--at", "10 4q"}, "usage: tessera-cli: --at '10 4q': 'q' is not a size suffix (K, M, G, T, P, E, KiB, ... or kB, MB, ...)"},
        {{"--extract", "1:9E"}, "usage: tessera-cli: --extract '1:9E': the number '9E' is too large (2^63 - 1 at most)"},
        // a range that runs backwards is never right
        {{"--range", "10:5"}, "usage: tessera-cli: --range '10:5': the start lies after the end"},
        {{"--plan", ""}, "usage: tessera-cli: --plan '': expected a file name (- for standard input)"},
        {{"--size", "1X"}, "usage: tessera-cli: --size '1X': 'X' is not a size suffix (K, M, G, T, P, E, KiB, ... or kB, MB, ...)"},
        {{"--pieces", "0"}, "usage: tessera-cli: --pieces '0': expected a piece count from 1 to 2147483647"},
        {{"--pieces", "4294967297"}, "usage: tessera-cli: --pieces '4294967297': expected a piece count from 1 to 2147483647"},
        {{"--extract", "10"}, "usage: tessera-cli: --extract '10': expected OFFSET:SIZE, two numbers"},
        {{"--at", "10 -5"}, "usage: tessera-cli: --at '10 -5': '-5' is not an offset"},
        {{"--at", ""}, "usage: tessera-cli: --at '': expected one or more offsets"},
        {{"--hex", "0d0"}, "usage: tessera-cli: --hex '0d0': an odd number of hex digits"},
        {{"--hex", "0x0d"}, "usage: tessera-cli: --hex '0x0d': 'x' is not a hex digit"},
        {{"--hex", "0 d"}, "usage: tessera-cli: --hex '0 d': ' ' is not a hex digit"},
        {{"--hex", ""}, "usage: tessera-cli: --hex '': expected hex digits"},
        {{"--sjis", "a\xF0\x9F\x98\x80"}, "usage: tessera-cli: --sjis 'a\xF0\x9F\x98\x80': '\xF0\x9F\x98\x80' has no Shift_JIS (code page 932) form"},
        {{"--sjis", "\xE7\xAC\xAC\xF3\xA0\x80\x80"}, "usage: tessera-cli: --sjis '\xE7\xAC\xAC\xF3\xA0\x80\x80': '\xF3\xA0\x80\x80' has no Shift_JIS (code page 932) form"},
        {{"--sjis", "\xFF"}, "usage: tessera-cli: --sjis '\xFF': the text is not UTF-8"},
        {{}, "usage: tessera-cli: no plan: give one or more of --extract, --range, --size, --pieces, --at, --hex, --sjis, --plan"},
        {{"--bogus"}, "usage: tessera-cli: unrecognized option '--bogus'"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args)
            shown += a + " ";
        EXPECT_EQ(PlanOf(c.args, hundred), c.expected) << shown;
    }
}

TEST(CliPlan, SearchesCutInFrontOfEveryOccurrence)
{
    EXPECT_EQ(PlanOf({"--hex", "0D0a"}, "ab\r\ncd\r\nef"), "0 2|2 6|6 10");
    // white space between byte pairs
    EXPECT_EQ(PlanOf({"--hex", "0D 0a"}, "ab\r\ncd\r\nef"), "0 2|2 6|6 10");
    // "第一章" in code page 932 is 91 E6 88 EA 8F CD
    const std::string sjis = "abc\x91\xE6\x88\xEA\x8F\xCDxyz";
    EXPECT_EQ(PlanOf({"--sjis", "第一章"}, sjis), "0 3|3 12");
    EXPECT_EQ(PlanOf({"--size", "4", "--hex", "63"}, sjis), "0 4|4 8|8 12|0 2|2 12");
    // an empty source gives no lines, as in the window
    EXPECT_EQ(PlanOf({"--hex", "00", "--size", "5", "--at", "0"}, ""), "");
}

// A search that finds nothing plans the whole file, as the window does, and
// says so.
TEST(CliPlan, SearchThatFindsNothingSaysSo)
{
    test::TempDir dir;
    const std::string file = dir.file("f.bin");
    test::WriteFile(file, "abcdef");
    std::istringstream none;
    const PlanResult nothing = BuildPlan(file, 6, {{Tool::Hex, "0d 0a"}, {Tool::Sjis, "b"}}, none);
    EXPECT_EQ(nothing.entries, (std::vector<SplitEntry>{{0, 6}, {0, 1}, {1, 6}}));
    EXPECT_EQ(nothing.notices, (std::vector<std::string>{"no occurrence of '0d 0a' found: one part, the whole file"}));
    // Found at 0 only: the same one line, and nothing to say.
    EXPECT_TRUE(BuildPlan(file, 6, {{Tool::Hex, "61"}}, none).notices.empty());
}

// The manual promises every occurrence: a pattern longer than the overlap of
// two search windows is found where it crosses their border.
TEST(CliPlan, LongPatternAcrossASearchWindow)
{
    test::TempDir dir;
    const std::string file = dir.file("big.bin");
    std::string pattern(5000, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>(1 + i % 251);
    {
        // 17 MiB, sparse but for the pattern at 16,777,000.
        std::ofstream out(file, std::ios::binary);
        out.seekp(16'777'000);
        out.write(pattern.data(), static_cast<std::streamsize>(pattern.size()));
        out.seekp((17 << 20) - 1);
        out.put('\0');
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : pattern)
        hex += std::string{digits[static_cast<unsigned char>(c) >> 4], digits[static_cast<unsigned char>(c) & 15]};
    std::istringstream none;
    const PlanResult found = BuildPlan(file, 17 << 20, {{Tool::Hex, hex}}, none);
    EXPECT_EQ(found.error, "");
    EXPECT_EQ(found.entries, (std::vector<SplitEntry>{{0, 16777000}, {16777000, 17825792}}));
    EXPECT_TRUE(found.notices.empty());
}

TEST(CliPlan, PlanFileLinesAreCheckedWithTheirLineNumbers)
{
    test::TempDir dir;
    const std::string plan = dir.file("plan.txt");
    test::WriteFile(plan, "0 10\r\n\n  10\t20  \n5 7\n");
    EXPECT_EQ(PlanOf({"--plan", plan, "--extract", "0:1"}, std::string(100, 'x')), "0 1|0 10|10 20|5 7");
    EXPECT_EQ(PlanOf({"--plan", "-"}, std::string(100, 'x'), "1 2\n3 4"), "1 2|3 4");
    // the split list's rule: leading zeros and tabs read back, the line is kept canonical
    EXPECT_EQ(PlanOf({"--plan", "-"}, std::string(100, 'x'), "\t007  10\r\n"), "7 10");

    const std::pair<std::string, std::string> bad[] = {
        {"0 10\n10 x\n", "f.txt:2: '10 x' is no \"start end\" line"},
        {"0 10\n\n0x10 20\n", "f.txt:3: '0x10 20' is no \"start end\" line"},
        {"0 10 20\n", "f.txt:1: '0 10 20' is no \"start end\" line"},
        {"-1 10\n", "f.txt:1: '-1 10' starts before the file"},
        {"20 10\n", "f.txt:1: '20 10' runs backwards"},
        {"\t5 9\n\n20 10\n", "f.txt:3: '20 10' runs backwards"},
        {"0 101\n", "f.txt:1: '0 101' ends beyond the end of 's' (100 bytes)"},
        // a file that is no plan is not read whole; the message shows the line's start
        {std::string(1 << 20, '1'), "f.txt:1: '" + std::string(80, '1') + "' is no \"start end\" line (longer than 1024 bytes)"},
    };
    for (const auto& [text, message] : bad) {
        const std::string f = dir.file("f.txt");
        test::WriteFile(f, text);
        std::istringstream none;
        const PlanResult result = BuildPlan("s", 100, {{Tool::PlanFile, f}}, none);
        EXPECT_EQ(result.error, f.substr(0, f.size() - 5) + message) << text;
        EXPECT_TRUE(result.entries.empty());
    }
}

// The plan never passes the window's line limit, whichever tool reaches it.
TEST(CliPlan, LineLimit)
{
    std::istringstream none;
    EXPECT_EQ(BuildPlan("s", 1'000'000, {{Tool::Size, "1"}}, none).entries.size(), 1'000'000u);
    const PlanResult over = BuildPlan("s", 1'000'000, {{Tool::Size, "1"}, {Tool::Extract, "0:1"}}, none);
    EXPECT_EQ(over.error, "--extract '0:1': the plan would pass 1000000 lines");
    EXPECT_EQ(BuildPlan("s", 1'000'001, {{Tool::Size, "1"}}, none).error,
              "--size '1': the plan would pass 1000000 lines");
    // --plan counts the lines before it toward the cap
    std::istringstream one("0 1\n");
    EXPECT_EQ(BuildPlan("s", 1'000'000, {{Tool::Size, "1"}, {Tool::PlanFile, "-"}}, one).error,
              "standard input:1: the plan would pass 1000000 lines");
    std::istringstream fits("0 1\n");
    EXPECT_EQ(BuildPlan("s", 1'000'000, {{Tool::Size, "2"}, {Tool::PlanFile, "-"}}, fits).entries.size(), 500'001u);
}

TEST(CliPlan, Json)
{
    EXPECT_EQ(PlanJson({}), "[]\n");
    EXPECT_EQ(PlanJson({{0, 5}, {5, 9}}), "[\n  {\"start\": 0, \"end\": 5},\n  {\"start\": 5, \"end\": 9}\n]\n");
}

}  // namespace
}  // namespace tessera::cli
