// The window's checksum files: a split that writes "<source>.sha256" beside
// its parts, and a join that checks itself against one. Real dialog, real
// worker; the files stay at one block except where an abort needs three.
#include <gtest/gtest.h>

#include <QSettings>

#include <filesystem>

#include "WindowTest.h"
#include "engine/Transfer.h"
#include "engine/Progress.h"

using namespace tessera::test;

namespace {

class WindowChecksumsTest : public WindowTest {
protected:
    void Start(int button, bool checksums = false)
    {
        QSettings().setValue("Split/WriteChecksums", checksums);
        dialog.Button(button)->click();
    }
    bool WaitForJobEnd()
    {
        return QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs);
    }
    // A source of size bytes split by the window into parts of 400 bytes.
    void Split(const std::string& source, std::int64_t size, bool checksums)
    {
        WritePatternFile(source, size);
        dialog.SetFieldText(kEditSource, Q(source));
        QStringList lines;
        for (std::int64_t start = 0; start < size; start += 400)
            lines.append(Q(std::to_string(start) + " " + std::to_string(std::min(size, start + 400))));
        dialog.AppendLines(kListSplit, lines);
        Start(kButtonStartSplit, checksums);
        ASSERT_TRUE(WaitForJobEnd());
    }
    void Join(const std::vector<std::string>& inputs, const std::string& destination)
    {
        dialog.SetFieldText(kEditJoinDestination, Q(destination));
        QStringList lines;
        for (const std::string& input : inputs)
            lines.append(Q(input));
        dialog.AppendLines(kListJoin, lines);
        Start(kButtonStartJoin);
        ASSERT_TRUE(WaitForJobEnd());
    }

};

TEST_F(WindowChecksumsTest, SplitWritesAManifestThatBothToolsAccept)
{
    const std::string source = dir.file("movie.avi");
    Split(source, 1000, true);
    EXPECT_EQ(StatusText(dialog), "終了");
    const std::string manifest = ReadFile(source + ".sha256");
    // A line for each part, then the source's own.
    ASSERT_EQ(std::count(manifest.begin(), manifest.end(), '\n'), 4) << manifest;
    EXPECT_NE(manifest.find("  movie.avi.002\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("  movie.avi\n"), std::string::npos) << manifest;

    EXPECT_EQ(RunIn("sha256sum", {"--check", "--strict", "--quiet", "movie.avi.sha256"}, dir.path().string()), 0);
#ifdef TESSERA_CLI
    EXPECT_EQ(RunIn(TESSERA_CLI, {"verify", "-q", "movie.avi.sha256"}, dir.path().string()), 0);
    // The command line's check sees a changed byte in what the window wrote.
    WriteFile(source + ".001", PatternBytes(400, 399) + "!");
    EXPECT_EQ(RunIn(TESSERA_CLI, {"verify", "-q", "movie.avi.sha256"}, dir.path().string()), 1);
#endif
}

TEST_F(WindowChecksumsTest, APlanThatIsNotTheSourceInOrderListsOnlyTheParts)
{
    const std::string source = dir.file("s");
    WritePatternFile(source, 100);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"50 100", "0 50"});
    Start(kButtonStartSplit, true);
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    const std::string manifest = ReadFile(source + ".sha256");
    EXPECT_EQ(std::count(manifest.begin(), manifest.end(), '\n'), 2) << manifest;
    EXPECT_EQ(manifest.find("  s\n"), std::string::npos) << manifest;
    EXPECT_EQ(RunIn("sha256sum", {"--check", "--strict", "--quiet", "s.sha256"}, dir.path().string()), 0);
}

TEST_F(WindowChecksumsTest, OffByDefaultAndOffWritesNone)
{
    EXPECT_FALSE(QSettings().value("Split/WriteChecksums", false).toBool());
    const std::string source = dir.file("s");
    Split(source, 500, false);
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_TRUE(std::filesystem::exists(source + ".001"));
    EXPECT_FALSE(std::filesystem::exists(source + ".sha256"));
}

TEST_F(WindowChecksumsTest, ATakenNameRefusesTheSplitAndStaysAsItWas)
{
    const std::string source = dir.file("s");
    WriteFile(source + ".sha256", "mine");
    Split(source, 500, true);
    EXPECT_EQ(StatusText(dialog), Q("ファイルの作成に失敗 : " + source + ".sha256 (チェックサムファイルが既にあります)"));
    EXPECT_EQ(ReadFile(source + ".sha256"), "mine");
    EXPECT_FALSE(std::filesystem::exists(source + ".000"));
    // The dialog is ready for the next job.
    EXPECT_TRUE(dialog.Button(kButtonStartSplit)->isEnabled());
}

TEST_F(WindowChecksumsTest, AbortLeavesNoManifest)
{
    const std::int64_t size = 2 * tessera::kTransferBufferSize + 1000;  // three blocks
    const std::string source = dir.file("big");
    WritePatternFile(source, size);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {Q("0 " + std::to_string(size))});
    Start(kButtonStartSplit, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(dialog).startsWith("書込中"); }, kJobTimeoutMs));
    EXPECT_TRUE(std::filesystem::exists(source + ".sha256"));  // the name is held from the start
    dialog.Button(kButtonAbort)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_TRUE(std::filesystem::exists(source + ".000"));
    EXPECT_FALSE(std::filesystem::exists(source + ".sha256"));
}

// A join of the parts of a window split that wrote its manifest: how the
// check ends after one change to the parts or to the manifest.
TEST_F(WindowChecksumsTest, JoinChecksItselfAgainstTheManifestBesideTheFirstPart)
{
    const std::string source = dir.file("v");
    Split(source, 1000, true);
    const std::vector<std::string> parts = {source + ".000", source + ".001", source + ".002"};
    const std::string manifest = ReadFile(source + ".sha256");
    const std::string part1 = ReadFile(parts[1]);
    const std::string destination = dir.file("joined");

    struct Case {
        const char* what;
        std::function<void()> change;
        std::string status;
    };
    const std::string wholeLine = manifest.substr(manifest.rfind('\n', manifest.size() - 2) + 1);
    std::string otherWhole = manifest;
    otherWhole[otherWhole.size() - wholeLine.size()] = wholeLine[0] == '0' ? '1' : '0';
    const Case cases[] = {
        {"intact", [] {}, "終了 (チェックサム一致)"},
        {"one byte changed",
         [&] {
             std::string changed = part1;
             changed[123] ^= 1;
             WriteFile(parts[1], changed);
         },
         "終了 (チェックサムが一致しません : " + parts[1] + ")"},
        {"the source's line changed", [&] { WriteFile(source + ".sha256", otherWhole); },
         "終了 (結合結果が元ファイルのチェックサムと一致しません : " + destination + ")"},
        {"no manifest", [&] { std::filesystem::remove(source + ".sha256"); }, "終了"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(parts[1], part1);
        WriteFile(source + ".sha256", manifest);
        dialog.OnClearJoinList();
        c.change();
        Join(parts, destination);
        EXPECT_EQ(StatusText(dialog), Q(c.status));
        // The destination is written in place as the inputs are copied; a
        // failed check leaves it as copied, and the status names the culprit.
        EXPECT_EQ(ReadFile(destination), ReadFile(parts[0]) + ReadFile(parts[1]) + ReadFile(parts[2]));
    }
}

TEST_F(WindowChecksumsTest, JoinOfInputsTheManifestDoesNotListRunsUnchecked)
{
    const std::string source = dir.file("w");
    Split(source, 500, true);
    const std::string extra = dir.file("extra");
    WriteFile(extra, "tail");
    const std::string destination = dir.file("out");
    Join({source + ".000", source + ".001", extra}, destination);
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(destination), PatternBytes(0, 500) + "tail");
}

}  // namespace
