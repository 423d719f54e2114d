// Jobs end to end through the real dialog and the real worker thread. Every
// block costs 200 ms of pauses: the files stay at one block except where the
// case needs several.
#include <gtest/gtest.h>

#include <QListView>
#include <QProgressBar>

#include <filesystem>

#include "DialogTestSupport.h"
#include "fileio/ProcessSettings.h"
#include "engine/Transfer.h"
#include "engine/Progress.h"
#include "ui/StatusTexts.h"
#include "support/TempDir.h"

using namespace tessera::test;

namespace {

constexpr int kJobTimeoutMs = 20'000;

class JobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }

    // Waits until the worker has returned.
    bool WaitForJobEnd()
    {
        return QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs);
    }

    ControlStates States() const { return EnableStates(dialog); }

    static ControlStates Expected(bool idle)
    {
        ControlStates s;
        for (int i = 0; i < kButtonCount; ++i)
            s.buttons[i] = (i == kButtonAbort) != idle;
        for (int i = 0; i < kEditCount; ++i)
            s.edits[i] = idle && i != kEditSource && i != kEditJoinDestination;
        s.lists = {idle, idle};
        return s;
    }

    TempDir dir;
    CTesseraDlg dialog;
};

TEST_F(JobTest, SplitWritesEveryEntryByteExact)
{
    const std::string source = dir.file("movie.avi");
    WritePatternFile(source, 1000);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"300 600", "0 10", "5 5", "0 1000"});

    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(dialog.ProgressBar()->value(), tessera::kProgressRange);
    EXPECT_EQ(ReadFile(source + ".000"), PatternBytes(300, 300));
    EXPECT_EQ(ReadFile(source + ".001"), PatternBytes(0, 10));
    EXPECT_TRUE(std::filesystem::exists(source + ".002"));
    EXPECT_EQ(ReadFile(source + ".002"), "");
    EXPECT_EQ(ReadFile(source + ".003"), PatternBytes(0, 1000));
    EXPECT_FALSE(std::filesystem::exists(source + ".004"));
    // The plan stays for another run.
    EXPECT_EQ(dialog.ListLines(kListSplit).size(), 4);
    EXPECT_EQ(States(), Expected(true));
}

TEST_F(JobTest, JoinAppendsTheListedFilesInOrder)
{
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    const std::string c = dir.file("c");
    WriteFile(a, "0123456789");
    WriteFile(b, "");
    WriteFile(c, "abcde");
    const std::string destination = dir.file("joined");
    WriteFile(destination, std::string(100, 'z'));  // emptied first
    for (const std::string& path : {a, b, c})
        DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {path});
    DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {a});
    dialog.SetFieldText(kEditJoinDestination, Q(destination));

    dialog.Button(kButtonStartJoin)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(destination), "0123456789abcde0123456789");
    // From the first running job on, the destination field stays disabled.
    EXPECT_EQ(States(), Expected(true));
}

// Start-up makes the program's folder current; a name typed without a folder
// still lands where the program was started, as its arguments do.
TEST_F(JobTest, ARelativeDestinationLandsInTheStartFolder)
{
    const std::string input = dir.file("a");
    WriteFile(input, "0123456789");
    const std::string programFolder = std::filesystem::current_path().string();
    ASSERT_NE(programFolder, dir.path().string());
    tessera::SetStartDirectory(dir.path().string());
    DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {input, input});
    QTest::keyClicks(dialog.Edit(kEditJoinDestination), "sub/../rel.bin");
    std::filesystem::create_directory(dir.path() / "sub");

    dialog.Button(kButtonStartJoin)->click();
    ASSERT_TRUE(WaitForJobEnd());
    tessera::SetStartDirectory({});
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(dir.file("rel.bin")), "01234567890123456789");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(programFolder) / "rel.bin"));
}

// Dropped names that are not UTF-8 reach the worker as their bytes: the
// Shift_JIS name is split and joined, and of two look-alikes the dropped one
// is cut, never the other.
TEST_F(JobTest, NamesThatAreNotUtf8AreSplitAndJoinedByTheirBytes)
{
    const std::string sjis = dir.file("\x93\xae\x89\xe6.avi");
    const std::string stray = dir.file("n\xFFx.bin");
    const std::string lookAlike = dir.file("n\xEF\xBF\xBDx.bin");
    WritePatternFile(sjis, 1000);
    WriteFile(stray, "stray bytes");
    WriteFile(lookAlike, "the look-alike");
    const QPoint sourceField = dialog.Edit(kEditSource)->geometry().center();

    ASSERT_TRUE(DropFiles(dialog, sourceField, {sjis}));
    dialog.AppendLines(kListSplit, {"0 400", "400 1000"});
    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(sjis + ".000"), PatternBytes(0, 400));
    EXPECT_EQ(ReadFile(sjis + ".001"), PatternBytes(400, 600));

    ASSERT_TRUE(DropFiles(dialog, sourceField, {stray}));
    dialog.AppendLines(kListSplit, {"0 5"});
    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(stray + ".000"), "stray");
    EXPECT_FALSE(std::filesystem::exists(lookAlike + ".000"));

    const std::string destination = dir.file("\x8c\x8b\x8d\x87.avi");
    ASSERT_TRUE(DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {sjis + ".001", sjis + ".000"}));
    dialog.SetFieldText(kEditJoinDestination, Q(destination));
    dialog.Button(kButtonStartJoin)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(destination), PatternBytes(400, 600) + PatternBytes(0, 400));
}

TEST_F(JobTest, RunningJobLocksTheDialogAndAbortKeepsWholeBlocks)
{
    const std::int64_t block = tessera::kTransferBufferSize;
    const std::int64_t size = 2 * block + 1000;  // three blocks
    const std::string source = dir.file("big.bin");
    WritePatternFile(source, size);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {Q("0 " + std::to_string(size))});
    const std::string other = dir.file("other");
    WriteFile(other, "x");

    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(dialog).startsWith("読込中"); }, kJobTimeoutMs));
    EXPECT_EQ(States(), Expected(false));
    EXPECT_TRUE(dialog.JobRunning());

    // Nothing closes the dialog under a running worker.
    QTest::keyClick(dialog.Button(kButtonAbort), Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.close());
    dialog.done(QDialog::Accepted);
    dialog.OnExit();
    EXPECT_TRUE(dialog.isVisible());

    // Drops would change what the worker reads: ignored.
    EXPECT_FALSE(DropFiles(dialog, dialog.Edit(kEditSource)->geometry().center(), {other}));
    EXPECT_FALSE(DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {other}));
    EXPECT_EQ(dialog.FieldText(kEditSource), source);
    EXPECT_EQ(dialog.ListLines(kListSplit).size(), 1);
    EXPECT_TRUE(dialog.ListLines(kListJoin).isEmpty());

    // Abort while the first block is being written: it greys out at once,
    // that block still completes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(dialog).startsWith("書込中"); }, kJobTimeoutMs));
    dialog.Button(kButtonAbort)->click();
    EXPECT_FALSE(dialog.Button(kButtonAbort)->isEnabled());
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(dialog.ProgressBar()->value(), tessera::kProgressRange);
    EXPECT_EQ(States(), Expected(true));

    const auto written = static_cast<std::int64_t>(std::filesystem::file_size(source + ".000"));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, size);
    EXPECT_EQ(written % block, 0);
    EXPECT_EQ(ReadFile(source + ".000"), PatternBytes(0, written));

    // Idle again: Escape closes.
    dialog.Edit(kEditPieceSize)->setFocus();
    QTest::keyClick(dialog.Edit(kEditPieceSize), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(JobTest, DoublePressOfStartRunsOneJob)
{
    const std::string source = dir.file("s");
    WritePatternFile(source, 100);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"0 100"});

    dialog.Button(kButtonStartSplit)->click();
    EXPECT_FALSE(dialog.Button(kButtonStartSplit)->isEnabled());
    EXPECT_FALSE(dialog.Button(kButtonStartJoin)->isEnabled());
    dialog.Button(kButtonStartSplit)->click();
    dialog.OnStartSplit();
    dialog.OnStartJoin();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_TRUE(std::filesystem::exists(source + ".000"));
    EXPECT_FALSE(std::filesystem::exists(source + ".001"));
}

TEST_F(JobTest, SplitWithoutASourceChangesNothingVisible)
{
    dialog.AppendLines(kListSplit, {"0 1"});
    const ControlStates before = States();
    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(WaitForJobEnd());
    // The Start buttons are open again; the destination field was never
    // switched, so it keeps its template state.
    EXPECT_EQ(States(), before);
    EXPECT_EQ(StatusText(dialog), "スタティック");
    EXPECT_EQ(dialog.ProgressBar()->value(), 0);
}

TEST_F(JobTest, EnterWhileIdleSetsAFlagTheNextJobClears)
{
    const std::string source = dir.file("s");
    WritePatternFile(source, 10);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"0 10"});
    dialog.Edit(kEditExtractOffset)->setFocus();
    QTest::keyClick(dialog.Edit(kEditExtractOffset), Qt::Key_Return);

    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(ReadFile(source + ".000"), PatternBytes(0, 10));
}

}  // namespace
