#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Manifest.h"
#include "Verify.h"
#include "Series.h"
#include "support/TempDir.h"

namespace tessera::cli {
namespace {

// Every reason the manifest reader gives, as the command line says it.
TEST(Manifest, ReasonsBecomeMessages)
{
    using Refusal = tessera::Admission::Refusal;
    struct Case {
        ManifestRead read;
        std::string message;
    };
    const Case cases[] = {
        {{{}, ManifestFault::Open, 0, ENOENT, {Refusal::NotFound, ENOENT}},
         "cannot open 'm.sha256': No such file or directory"},
        {{{}, ManifestFault::Open, 0, EWOULDBLOCK, {Refusal::Open, EWOULDBLOCK}},
         "cannot open 'm.sha256': another job is writing it"},
        {{{}, ManifestFault::NotRegular, 0, EISDIR, {Refusal::NotRegular, 0, S_IFDIR}},
         "cannot read 'm.sha256': it is a folder"},
        {{{}, ManifestFault::NotRegular, 0, 0, {Refusal::NotRegular, 0, S_IFCHR}},
         "cannot read 'm.sha256': it is a character device, not a regular file"},
        {{{}, ManifestFault::LongerThanSize, 0, 0, {Refusal::LongerThanSize, 0, S_IFREG, 0}},
         "cannot read 'm.sha256': it holds more than the 0 bytes its size says (a file that grows, or one such as "
         "/proc's)"},
        {{{}, ManifestFault::Read, 0, EIO}, "cannot read 'm.sha256': Input/output error"},
        {{{}, ManifestFault::NotAChecksumLine, 7, 0}, "m.sha256:7: no SHA-256 checksum line"},
        {{{}, ManifestFault::LineTooLong, 1, 0},
         "m.sha256:1: no SHA-256 checksum line: longer than " + std::to_string(kMaxManifestLine) + " bytes"},
        {{{}, ManifestFault::NameTooLong, 2, 0},
         "m.sha256:2: a name of " + std::to_string(PATH_MAX) + " bytes or more, which no file has"},
        {{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ManifestReadMessage("m.sha256", c.read), c.message);

    const std::vector<std::string> inputs = {"a.000", "new\nline"};
    EXPECT_EQ(JoinMatchMessage("m", inputs, {{}, "", JoinMatchFault::NotListed, 1}),
              "'new\\nline' is not listed in 'm'");
    EXPECT_EQ(JoinMatchMessage("m", inputs, {{}, "", JoinMatchFault::NotInOrder, 0}),
              "the inputs are not the parts listed in 'm', in order");
}

// One line of report a verdict, whatever the names hold; the source line
// checked against the parts joined says so.
TEST(Verify, TheReportKeepsEachNameOnItsLine)
{
    using V = FileVerdict;
    struct Case {
        const char* name;
        V verdict;
        std::size_t count;
        const char* text;
        bool shownQuiet;
    };
    const Case cases[] = {
        {"a\nb.000", V::Ok, 0, "\\a\\nb.000: OK\n", false},
        {"a\\b.001", V::Failed, 0, "\\a\\\\b.001: FAILED\n", true},
        {"cr\r.002", V::Unreadable, 0, "\\cr\\r.002: FAILED open or read\n", true},
        {"a\nb", V::NotChecked, 0, "\\a\\nb: NOT CHECKED (a part failed)\n", true},
        {"a\nb", V::JoinedFailed, 0, "\\a\\nb: FAILED (the parts joined)\n", true},
        {"a\nb", V::JoinedOk, 0, "\\a\\nb: OK (the parts joined)\n", false},
        {"p.001", V::Damaged, 1, "p.001: DAMAGED (1 slice)\n", true},
        {"p.001", V::Damaged, 0, "p.001: DAMAGED (its length)\n", true},
        {"p.002", V::Missing, S_IFIFO, "p.002: MISSING (a named pipe)\n", true},
        {"p\n.003", V::Stale, 0, "\\p\\n.003: STALE (intact by its checksum)\n", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VerdictText(c.verdict, c.name, c.count, false), c.text);
        EXPECT_EQ(VerdictText(c.verdict, c.name, c.count, true), c.shownQuiet ? c.text : "");
    }
}

TEST(Series, RunsFromTheFirstPartToTheFirstGap)
{
    test::TempDir dir;
    for (const char* name : {"s.000", "s.001", "s.002", "s.004", "s.998", "s.999", "s.1000", "s.1002"})
        test::WriteFile(dir.file(name), "x");
    const SeriesFound from0 = FindSeries(dir.file("s.000"));
    EXPECT_EQ(from0.error, "");
    EXPECT_EQ(from0.parts, (std::vector<std::string>{dir.file("s.000"), dir.file("s.001"), dir.file("s.002")}));
    // past .999 the numbers grow a digit, as in the join list
    EXPECT_EQ(FindSeries(dir.file("s.998")).parts,
              (std::vector<std::string>{dir.file("s.998"), dir.file("s.999"), dir.file("s.1000")}));
    EXPECT_EQ(FindSeries(dir.file("s.003")).error,
              "cannot open '" + dir.file("s.003") + "': No such file or directory");
    EXPECT_NE(FindSeries(dir.file("s")).error, "");
    EXPECT_NE(FindSeries(dir.file("s.0a1")).error, "");
    EXPECT_NE(FindSeries(dir.path().string() + "/.000").error, "");
}

}  // namespace
}  // namespace tessera::cli
