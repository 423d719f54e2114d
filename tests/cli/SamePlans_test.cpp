// One table of tool cases, each run through both front ends: the window's
// planning handlers (the real dialog, its fields and buttons) and the command
// line's `tessera-cli plan` (its option parser and BuildPlan). Both must give
// the same plan, or both refuse: the README's "same plans" is tested here.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "PlanTools.h"
#include "support/TempDir.h"
#include "ui/DialogTestSupport.h"

namespace tessera::cli {
namespace {

using test::Q;

struct Field {
    int edit;
    const char* text;
};

struct ToolCase {
    const char* what;
    std::string source;           // the bytes of the file to cut
    std::vector<Field> fields;    // the window: typed into these fields...
    int button;                   // ...then this button pressed
    std::vector<std::string> args;  // the command line's options for the same
    std::string plan;             // lines joined with "|"; "refused" when none
};

const std::string kHundred(100, 'x');
// "第一章" in code page 932 is 91 E6 88 EA 8F CD.
const std::string kSjis = "abc\x91\xE6\x88\xEA\x8F\xCDxyz\x91\xE6\x88\xEA\x8F\xCD";

const std::vector<ToolCase>& Cases()
{
    static const std::vector<ToolCase> cases = {
        {"extract", kHundred, {{kEditExtractOffset, "10"}, {kEditExtractSize, "20"}}, kButtonExtractAdd,
         {"--extract", "10:20"}, "10 30"},
        {"extract in hex to the end", kHundred, {{kEditExtractOffset, "0x5A"}, {kEditExtractSize, "10"}},
         kButtonExtractAdd, {"--extract", "0x5A:10"}, "90 100"},
        {"extract past the end", kHundred, {{kEditExtractOffset, "90"}, {kEditExtractSize, "11"}},
         kButtonExtractAdd, {"--extract", "90:11"}, "refused"},
        {"extract past 2^63 - 1", kHundred,
         {{kEditExtractOffset, "0x7FFFFFFFFFFFFFFF"}, {kEditExtractSize, "1"}}, kButtonExtractAdd,
         {"--extract", "0x7FFFFFFFFFFFFFFF:1"}, "refused"},
        {"range", kHundred, {{kEditRangeStart, "10"}, {kEditRangeEnd, "20"}}, kButtonRangeAdd,
         {"--range", "10:20"}, "10 20"},
        {"empty range", kHundred, {{kEditRangeStart, "20"}, {kEditRangeEnd, "20"}}, kButtonRangeAdd,
         {"--range", "20:20"}, "20 20"},
        {"range backwards", kHundred, {{kEditRangeStart, "30"}, {kEditRangeEnd, "20"}}, kButtonRangeAdd,
         {"--range", "30:20"}, "refused"},
        {"range past the end", kHundred, {{kEditRangeStart, "0"}, {kEditRangeEnd, "101"}}, kButtonRangeAdd,
         {"--range", "0:101"}, "refused"},
        {"fixed size", kHundred, {{kEditPieceSize, "30"}}, kButtonFixedSizeAdd, {"--size", "30"},
         "0 30|30 60|60 90|90 100"},
        {"fixed size in hex", kHundred, {{kEditPieceSize, "0x32"}}, kButtonFixedSizeAdd, {"--size", "0x32"},
         "0 50|50 100"},
        {"fixed size larger than the file", kHundred, {{kEditPieceSize, "1000"}}, kButtonFixedSizeAdd,
         {"--size", "1000"}, "0 100"},
        {"fixed size 0", kHundred, {{kEditPieceSize, "0"}}, kButtonFixedSizeAdd, {"--size", "0"}, "refused"},
        {"fixed size no number", kHundred, {{kEditPieceSize, "abc"}}, kButtonFixedSizeAdd, {"--size", "abc"},
         "refused"},
        {"fixed size negative", kHundred, {{kEditPieceSize, "-5"}}, kButtonFixedSizeAdd, {"--size", "-5"},
         "refused"},
        {"equal pieces", kHundred, {{kEditPieceCount, "3"}}, kButtonEqualSplitAdd, {"--pieces", "3"},
         "0 34|34 68|68 100"},
        {"more pieces than bytes", std::string(3, 'x'), {{kEditPieceCount, "5"}}, kButtonEqualSplitAdd,
         {"--pieces", "5"}, "0 1|1 2|2 3|3 3|3 3"},
        {"0 pieces", kHundred, {{kEditPieceCount, "0"}}, kButtonEqualSplitAdd, {"--pieces", "0"}, "refused"},
        {"boundaries", kHundred, {{kEditBoundaries, "30 0x3C\t10"}}, kButtonBoundariesAdd,
         {"--at", "30 0x3C\t10"}, "0 10|10 30|30 60|60 100"},
        {"boundaries over lines, with repeats", kHundred, {{kEditBoundaries, "70\n30\n\n30 0 100"}},
         kButtonBoundariesAdd, {"--at", "70\n30\n\n30 0 100"}, "0 30|30 70|70 100"},
        {"boundary past the end", kHundred, {{kEditBoundaries, "30 101"}}, kButtonBoundariesAdd,
         {"--at", "30 101"}, "refused"},
        {"boundary no number", kHundred, {{kEditBoundaries, "30 x"}}, kButtonBoundariesAdd, {"--at", "30 x"},
         "refused"},
        {"bytes", "ab\r\ncd\r\nef", {{kEditByteSequence, "0d0A"}}, kButtonSearchBytes, {"--hex", "0d0A"},
         "0 2|2 6|6 10"},
        {"bytes overlapping", "aaaa", {{kEditByteSequence, "6161"}}, kButtonSearchBytes, {"--hex", "6161"},
         "0 1|1 2|2 4"},
        {"bytes not found: the whole file", kHundred, {{kEditByteSequence, "0d0a"}}, kButtonSearchBytes,
         {"--hex", "0d0a"}, "0 100"},
        {"bytes at 0 only", "ab--", {{kEditByteSequence, "6162"}}, kButtonSearchBytes, {"--hex", "6162"}, "0 4"},
        {"odd hex digits", kHundred, {{kEditByteSequence, "0d0"}}, kButtonSearchBytes, {"--hex", "0d0"},
         "refused"},
        {"no hex digit", kHundred, {{kEditByteSequence, "zz"}}, kButtonSearchBytes, {"--hex", "zz"}, "refused"},
        {"text", kSjis, {{kEditString, "第一章"}}, kButtonSearchString, {"--sjis", "第一章"}, "0 3|3 12|12 18"},
        {"text without a code page 932 form", kSjis, {{kEditString, "第\xF0\x9F\x98\x80"}}, kButtonSearchString,
         {"--sjis", "第\xF0\x9F\x98\x80"}, "refused"},
        {"text with a character the converter skips", kSjis, {{kEditString, "第\xF3\xA0\x80\x80一章"}},
         kButtonSearchString, {"--sjis", "第\xF3\xA0\x80\x80一章"}, "refused"},
        {"an empty source", "", {{kEditPieceSize, "5"}}, kButtonFixedSizeAdd, {"--size", "5"}, ""},
    };
    return cases;
}

std::string Joined(const QStringList& lines)
{
    return lines.isEmpty() ? std::string() : lines.join(QLatin1Char('|')).toStdString();
}

std::string Joined(const std::vector<tessera::SplitEntry>& entries)
{
    std::string joined;
    for (const tessera::SplitEntry& entry : entries)
        joined += (joined.empty() ? "" : "|") + tessera::FormatEntry(entry);
    return joined;
}

// The window: the fields typed, the button pressed, the split list read.
// A refusal adds nothing and says nothing.
std::string WindowPlan(CTesseraDlg& dialog, const std::string& source, const ToolCase& c)
{
    dialog.Button(kButtonClearSplitList)->click();
    dialog.SetFieldText(kEditSource, Q(source));
    for (const Field& field : c.fields)
        dialog.SetFieldText(field.edit, QString::fromUtf8(field.text));
    dialog.Button(c.button)->click();
    const QStringList lines = dialog.ListLines(kListSplit);
    return lines.isEmpty() && c.plan == "refused" ? "refused" : Joined(lines);
}

// The command line: `tessera-cli plan ARGS SOURCE`, refused as bad usage or
// as a failure alike.
std::string CommandLinePlan(const std::string& source, std::int64_t size, const ToolCase& c)
{
    std::vector<const char*> argv{"tessera-cli", "plan"};
    for (const std::string& a : c.args)
        argv.push_back(a.c_str());
    argv.push_back(source.c_str());
    std::ostringstream out, err;
    const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    if (!parsed.options)
        return parsed.exitStatus == kExitUsage ? "refused" : "exit " + std::to_string(parsed.exitStatus);
    std::istringstream none;
    const PlanResult plan = BuildPlan(source, size, parsed.options->tools, none);
    return plan.error.empty() ? Joined(plan.entries) : "refused";
}

TEST(SamePlans, EveryToolThroughBothFrontEnds)
{
    test::TempDir dir;
    CTesseraDlg dialog;
    for (const ToolCase& c : Cases()) {
        const std::string source = dir.file("source.bin");
        test::WriteFile(source, c.source);
        EXPECT_EQ(WindowPlan(dialog, source, c), c.plan) << "window: " << c.what;
        EXPECT_EQ(CommandLinePlan(source, static_cast<std::int64_t>(c.source.size()), c), c.plan)
            << "command line: " << c.what;
    }
}

// The tools apply in order in both: extract goes to its place in text order,
// every other tool appends.
TEST(SamePlans, ToolsInSequence)
{
    test::TempDir dir;
    const std::string source = dir.file("source.bin");
    test::WriteFile(source, kHundred);
    CTesseraDlg dialog;
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.SetFieldText(kEditPieceSize, QStringLiteral("50"));
    dialog.Button(kButtonFixedSizeAdd)->click();
    dialog.SetFieldText(kEditRangeStart, QStringLiteral("9"));
    dialog.SetFieldText(kEditRangeEnd, QStringLiteral("10"));
    dialog.Button(kButtonRangeAdd)->click();
    dialog.SetFieldText(kEditExtractOffset, QStringLiteral("60"));
    dialog.SetFieldText(kEditExtractSize, QStringLiteral("5"));
    dialog.Button(kButtonExtractAdd)->click();
    dialog.SetFieldText(kEditPieceCount, QStringLiteral("1"));
    dialog.Button(kButtonEqualSplitAdd)->click();
    const std::string expected = "0 50|50 100|60 65|9 10|0 100";
    EXPECT_EQ(Joined(dialog.ListLines(kListSplit)), expected);

    const ToolCase sequence{"sequence", kHundred, {}, 0,
                            {"--size", "50", "--range", "9:10", "--extract", "60:5", "--pieces", "1"}, expected};
    EXPECT_EQ(CommandLinePlan(source, 100, sequence), expected);
}

}  // namespace
}  // namespace tessera::cli
