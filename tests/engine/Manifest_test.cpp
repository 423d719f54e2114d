#include "engine/Manifest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tessera {
namespace {

using test::TempDir;
using test::WriteFile;

const std::string kA(64, 'a');
const std::string kB(64, 'b');
const std::string kC(64, 'c');

ManifestReader ReadText(std::string_view text, std::size_t piece = 0)
{
    ManifestReader reader;
    if (piece == 0) {
        reader.Feed(text);
    } else {
        for (std::size_t i = 0; i < text.size(); i += piece)
            reader.Feed(text.substr(i, piece));
    }
    reader.Finish();
    return reader;
}

// --- The format -------------------------------------------------------------------

// Names with the bytes sha256sum escapes, and names that only look escaped.
TEST(ManifestFormat, EveryNameReadsBackAsWritten)
{
    const std::vector<std::string> names = {
        "big.iso.000", "with space", "back\\slash", "line\nfeed", "ends in cr\r", "\r", "\\",
        "\\n literally", "#not a comment", " leading space", "tab\there", "*star", "\xff\xfe bytes",
    };
    std::string text;
    std::vector<ManifestLine> lines;
    for (const std::string& name : names) {
        lines.push_back({kA, name});
        text += FormatManifestLine(lines.back());
    }
    for (const std::size_t piece : {0, 1, 2, 7, 64}) {
        const ManifestReader reader = ReadText(text, piece);
        EXPECT_EQ(reader.Fault(), ManifestFault::None) << piece << " at line " << reader.FaultLine();
        EXPECT_EQ(reader.Lines(), lines) << piece;
    }
}

TEST(ManifestFormat, EscapesAsSha256sumDoes)
{
    struct Case {
        std::string name;
        std::string shown;
        std::string line;
    };
    const Case cases[] = {
        {"plain", "plain", kA + "  plain\n"},
        {"a\\b", "\\a\\\\b", "\\" + kA + "  a\\\\b\n"},
        {"c\nd", "\\c\\nd", "\\" + kA + "  c\\nd\n"},
        {"e\rf", "\\e\\rf", "\\" + kA + "  e\\rf\n"},
        {"g\th", "g\th", kA + "  g\th\n"},  // a tab is not escaped
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatManifestLine({kA, c.name}), c.line) << c.name;
        EXPECT_EQ(ShownName(c.name), c.shown) << c.name;
    }
}

// A split lists its parts in order, then the source under its last name,
// whose line verify finds again.
TEST(ManifestFormat, ASplitsManifestEndsWithTheSource)
{
    const std::vector<ManifestLine> parts = {{kA, "s\nx.000"}, {kB, "s\nx.001"}};
    EXPECT_EQ(ManifestText(parts, "/d/s\nx", ""), FormatManifestLine(parts[0]) + FormatManifestLine(parts[1]));
    const std::string text = ManifestText(parts, "/d/s\nx", kC);
    ManifestReader reader = ReadText(text);
    const std::vector<ManifestLine> lines = reader.TakeLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], (ManifestLine{kC, "s\nx"}));
    EXPECT_EQ(SourceLine("/d/s\nx.sha256", lines), 2u);
}

// Lines as sha256sum and other tools write them.
TEST(ManifestFormat, ReadsWhatSha256sumReads)
{
    struct Case {
        std::string text;
        std::vector<ManifestLine> lines;
    };
    const Case cases[] = {
        {kA + "  x\n" + std::string(64, 'B') + " *bin\n", {{kA, "x"}, {kB, "bin"}}},
        {kA + "  x\r\n\r\n\n" + kB + "  y", {{kA, "x"}, {kB, "y"}}},  // CRLF, blank lines, no last line feed
        {"# made by hand\n" + kA + "  x\n", {{kA, "x"}}},
        {"  \t" + kA + "  x\n", {{kA, "x"}}},  // indented
        {kA + "  name with trailing space \n", {{kA, "name with trailing space "}}},
        {kA + "  not\\escaped\n", {{kA, "not\\escaped"}}},
        {"\\" + kA + " *\\r\\n\\\\\n", {{kA, "\r\n\\"}}},
        // sha256sum --tag; a name may hold ") = " and ')' itself
        {"SHA256 (x) = " + kA + "\n", {{kA, "x"}}},
        {"\\SHA256 (a\\\\b\\nc)) = " + kA + "\n", {{kA, "a\\b\nc)"}}},
        {"SHA256(p (x) = y)=" + kB + " \r\n", {{kB, "p (x) = y"}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        const ManifestReader reader = ReadText(c.text);
        EXPECT_EQ(reader.Fault(), ManifestFault::None) << c.text;
        EXPECT_EQ(reader.Lines(), c.lines) << c.text;
    }
}

TEST(ManifestFormat, BadLinesAreRefusedWithTheirNumber)
{
    const std::string bad[] = {
        kA.substr(1) + "  x",        // 63 digits
        kA + " x",                   // one space
        kA + "\tx",                  // a tab
        kA + "  ",                   // no name
        std::string(63, '0') + "g  x",
        "\\" + kA + "  a\\tb",       // an escape sha256sum never writes
        "\\" + kA + "  trailing\\",  // a lone backslash at the end
        kA + std::string("  nul\0byte", 10),
        "MD5 (x) = " + kA,
        "SHA256 (x) = " + kA.substr(1),
        "SHA256 (x) " + kA,
        "SHA256 () = " + kA,
        "SHA256 x) = " + kA,
        " ",
    };
    for (const std::string& line : bad) {
        const ManifestReader reader = ReadText(kA + "  ok\n\n" + line + "\n" + kB + "  after\n");
        EXPECT_EQ(reader.Fault(), ManifestFault::NotAChecksumLine) << line;
        EXPECT_EQ(reader.FaultLine(), 3u) << line;
        EXPECT_TRUE(reader.Lines().empty()) << line;
    }
}

// The cap holds any real line, and a longer one is refused as soon as it
// passes the cap, without waiting for its end.
TEST(ManifestFormat, LinesAreCappedWithoutReadingThemWhole)
{
    const ManifestLine longest{kA, std::string(PATH_MAX - 1, '\\')};
    const std::string text = "\\SHA256 (" + ShownName(longest.name).substr(1) + ") = " + kA + "\r\n";
    ASSERT_EQ(text.size(), kMaxManifestLine - 1);
    const ManifestReader read = ReadText(text, 5);
    EXPECT_EQ(read.Fault(), ManifestFault::None);
    EXPECT_EQ(read.Lines(), std::vector<ManifestLine>{longest});
    // A name too long for any file, though its line fits (found by fuzzing:
    // such a line of backslashes wrote back longer than the cap).
    for (const std::string& line :
         {kA + "  " + std::string(PATH_MAX, '\\'), "SHA256 (" + std::string(PATH_MAX, 'x') + ") = " + kA}) {
        const ManifestReader reader = ReadText(kA + "  a\n" + line + "\n");
        EXPECT_EQ(reader.Fault(), ManifestFault::NameTooLong);
        EXPECT_EQ(reader.FaultLine(), 2u);
    }

    // A line of exactly the cap: the padding after '=' is passed over.
    std::string fits = "SHA256 (" + std::string(PATH_MAX - 1, 'x') + ") = ";
    fits += std::string(kMaxManifestLine - fits.size() - 64, ' ') + kA;
    ASSERT_EQ(fits.size(), kMaxManifestLine);
    EXPECT_EQ(ReadText(fits + "\n").Fault(), ManifestFault::None);
    EXPECT_EQ(ReadText(fits).Fault(), ManifestFault::None);

    for (const std::size_t piece : {0, 1, 4096}) {
        const ManifestReader reader = ReadText(kA + "  a\n" + fits + "x\n", piece);
        EXPECT_EQ(reader.Fault(), ManifestFault::LineTooLong) << piece;
        EXPECT_EQ(reader.FaultLine(), 2u) << piece;
    }

    ManifestReader endless;
    const std::string block(1 << 16, '0');
    std::size_t fed = 0;
    while (endless.Fault() == ManifestFault::None && fed < (64u << 20)) {
        endless.Feed(block);
        fed += block.size();
    }
    EXPECT_EQ(endless.Fault(), ManifestFault::LineTooLong);
    EXPECT_EQ(endless.FaultLine(), 1u);
    EXPECT_LE(fed, kMaxManifestLine + block.size());
}

// --- The file -------------------------------------------------------------------------

TEST(ManifestFile, OnlyARegularFileIsRead)
{
    TempDir dir;
    WriteFile(dir.file("m.sha256"), kA + "  x\n");
    const ManifestRead read = ReadManifestFile(dir.file("m.sha256"));
    EXPECT_EQ(read.fault, ManifestFault::None);
    EXPECT_EQ(read.lines, (std::vector<ManifestLine>{{kA, "x"}}));

    const ManifestRead missing = ReadManifestFile(dir.file("none"));
    EXPECT_EQ(missing.fault, ManifestFault::Open);
    EXPECT_EQ(missing.error, ENOENT);

    const ManifestRead folder = ReadManifestFile(dir.path().string());
    EXPECT_EQ(folder.fault, ManifestFault::NotRegular);
    EXPECT_EQ(folder.error, EISDIR);

    // A FIFO without a writer and an endless device are refused at once.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("fifo"), std::string("/dev/zero")}) {
        const ManifestRead device = ReadManifestFile(path);
        EXPECT_EQ(device.fault, ManifestFault::NotRegular) << path;
        EXPECT_EQ(device.error, 0) << path;
    }
}

// A sparse file far larger than memory, holding no line feed: refused at its
// first line, having read no more than the cap (reading it whole would not end).
TEST(ManifestFile, AnEndlessFirstLineIsRefusedAtTheCap)
{
    TempDir dir;
    const std::string path = dir.file("huge.sha256");
    WriteFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), std::int64_t{1} << 40), 0);
    const ManifestRead read = ReadManifestFile(path);
    EXPECT_EQ(read.fault, ManifestFault::LineTooLong);
    EXPECT_EQ(read.line, 1u);
}

TEST(ManifestPaths, BesideThePartsAndFromTheManifest)
{
    EXPECT_EQ(ManifestPath("big.iso", ""), "big.iso.sha256");
    EXPECT_EQ(ManifestPath("/a/b/big.iso", ""), "/a/b/big.iso.sha256");
    EXPECT_EQ(ManifestPath("/a/b/big.iso", "/media/usb"), "/media/usb/big.iso.sha256");
    EXPECT_EQ(ManifestPath("big.iso", "/media/usb/"), "/media/usb/big.iso.sha256");
    EXPECT_EQ(ResolveFromManifest("/media/usb/big.iso.sha256", "big.iso.000"), "/media/usb/big.iso.000");
    EXPECT_EQ(ResolveFromManifest("big.iso.sha256", "big.iso.000"), "big.iso.000");
    EXPECT_EQ(ResolveFromManifest("/m/x.sha256", "/abs/p"), "/abs/p");
}

TEST(ManifestPaths, BesideAPartIsTheSourcesManifest)
{
    EXPECT_EQ(ManifestBesidePart("big.iso.000"), "big.iso.sha256");
    EXPECT_EQ(ManifestBesidePart("/media/usb/big.iso.007"), "/media/usb/big.iso.sha256");
    EXPECT_EQ(ManifestBesidePart("x.1000"), "x.sha256");
    EXPECT_EQ(ManifestBesidePart("big.iso"), "");
    EXPECT_EQ(ManifestBesidePart("/a/.000"), "");  // no source name before the number
    EXPECT_EQ(ManifestBesidePart("a.b/000"), "");
}

// --- Matching -------------------------------------------------------------------------

TEST(ManifestMatch, TheSourceLineIsTheManifestsOwnName)
{
    const std::vector<ManifestLine> lines = {{kA, "big.000"}, {kB, "big.001"}, {kC, "big"}};
    EXPECT_EQ(SourceLine("big.sha256", lines), 2u);
    EXPECT_EQ(SourceLine("/media/usb/big.sha256", lines), 2u);
    EXPECT_EQ(SourceLine("other.sha256", lines), std::string::npos);
    EXPECT_EQ(SourceLine("big.sums", lines), std::string::npos);
    EXPECT_EQ(SourceLine("big.000.sha256", lines), 0u);
}

// Only a plan that is the source, part after part, may list the source's own
// digest: any other gives a manifest whose source line is wrong.
TEST(ManifestMatch, CoversInOrder)
{
    struct Case {
        std::vector<tessera::SplitEntry> plan;
        std::int64_t size;
        bool covers;
    };
    const Case cases[] = {
        {{{0, 10}, {10, 25}, {25, 30}}, 30, true},
        {{{0, 30}}, 30, true},
        {{}, 0, true},
        {{{0, 0}, {0, 5}}, 5, true},
        {{{0, 10}, {10, 25}}, 30, false},  // short of the end
        {{{0, 10}, {12, 30}}, 30, false},  // a gap
        {{{0, 10}, {5, 30}}, 30, false},   // an overlap
        {{{10, 30}, {0, 10}}, 30, false},  // out of order
        {{{5, 30}}, 30, false},            // not from 0
        {{{0, 10}, {10, 40}}, 30, false},  // past the end
        {{}, 30, false},
        {{{0, 20}, {20, 10}, {10, 30}}, 30, false},
    };
    for (const Case& c : cases) {
        std::string plan;
        for (const tessera::SplitEntry& e : c.plan)
            plan += tessera::FormatEntry(e) + ",";
        EXPECT_EQ(CoversInOrder(c.plan, c.size), c.covers) << plan << " of " << c.size;
    }
}

TEST(ManifestMatch, JoinInputsByNameAndInOrderWithASourceLine)
{
    const std::vector<ManifestLine> withSource = {{kA, "big.000"}, {kB, "big.001"}, {kC, "big"}};
    const std::vector<ManifestLine> partsOnly = {{kA, "big.000"}, {kB, "sub/big.001"}};
    struct Case {
        const std::vector<ManifestLine>* lines;
        std::size_t source;
        std::vector<std::string> inputs;
        JoinMatchFault fault;
        std::size_t input;
        std::vector<std::string> digests;
        std::string whole;
    };
    const std::size_t none = std::string::npos;
    const Case cases[] = {
        {&withSource, 2, {"d/big.000", "big.001"}, JoinMatchFault::None, 0, {kA, kB}, kC},
        {&withSource, 2, {"big.001", "big.000"}, JoinMatchFault::NotInOrder, 0, {}, ""},
        {&withSource, 2, {"big.000"}, JoinMatchFault::NotInOrder, 0, {}, ""},
        {&withSource, 2, {"big.000", "big.001", "big.000"}, JoinMatchFault::NotInOrder, 0, {}, ""},
        {&withSource, 2, {"big.000", "big"}, JoinMatchFault::NotListed, 1, {}, ""},  // the source is no part
        {&withSource, 2, {"big.000", "big.002"}, JoinMatchFault::NotListed, 1, {}, ""},
        // Without a source line any listed parts join, in any order.
        {&partsOnly, none, {"big.001", "x/big.000"}, JoinMatchFault::None, 0, {kB, kA}, ""},
        {&partsOnly, none, {"big.000"}, JoinMatchFault::None, 0, {kA}, ""},
        {&partsOnly, none, {"big.000", "big.9"}, JoinMatchFault::NotListed, 1, {}, ""},
    };
    for (const Case& c : cases) {
        const JoinMatch match = MatchJoinInputs(*c.lines, c.source, c.inputs);
        const std::string label = c.inputs.front() + " of " + std::to_string(c.inputs.size());
        EXPECT_EQ(match.fault, c.fault) << label;
        EXPECT_EQ(match.input, c.input) << label;
        EXPECT_EQ(match.digests, c.digests) << label;
        EXPECT_EQ(match.whole, c.whole) << label;
    }
}

}  // namespace
}  // namespace tessera
