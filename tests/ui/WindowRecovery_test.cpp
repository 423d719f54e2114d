// The split list's リカバリセット: a split from the window writes
// "<source>.par2" and its volumes beside its parts, from the same pass. Real
// dialog, real worker; one block a part except where an abort needs three.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSettings>

#include <filesystem>

#include "WindowTest.h"
#include "engine/Transfer.h"

using namespace tessera::test;

namespace {

bool Par2Installed()
{
    return RunIn(QStringLiteral("par2"), {QStringLiteral("--version")}, "/") == 0;
}

// The names in folder that end in ".par2", temporaries among them.
std::vector<std::string> SetFiles(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".par2") != std::string::npos)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class WindowRecoveryTest : public WindowTest {
protected:
    static QAction* Choice(CTesseraDlg& window, const char* name)
    {
        return window.findChild<QAction*>(QLatin1String(name));
    }
    void Choose(const char* name)
    {
        QAction* choice = Choice(dialog, name);
        ASSERT_NE(choice, nullptr) << name;
        choice->trigger();
    }
    // A source of size bytes split by the window into parts of 400 bytes.
    void Split(std::int64_t size, bool checksums = true)
    {
        QSettings().setValue("Split/WriteChecksums", checksums);
        WritePatternFile(source, size);
        dialog.OnClearSplitList();
        dialog.SetFieldText(kEditSource, Q(source));
        QStringList lines;
        for (std::int64_t start = 0; start < size; start += 400)
            lines.append(Q(std::to_string(start) + " " + std::to_string(std::min(size, start + 400))));
        dialog.AppendLines(kListSplit, lines);
        dialog.Button(kButtonStartSplit)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
    }
    void RemoveSplit()
    {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            std::filesystem::remove_all(entry.path());
    }

    const std::string source = dir.file("s");
};

TEST_F(WindowRecoveryTest, EachChoiceWritesASetThatBothToolsAcceptAndThatIsRemembered)
{
    // None at first.
    EXPECT_TRUE(Choice(dialog, "actionSplitRecoveryNone")->isChecked());

    struct Case {
        const char* choice;
        QString end;  // the status line after the split
    };
    // Three parts of 400, 400 and 200 bytes.
    const Case cases[] = {
        {"actionSplitRecovery1Part", "終了 (リカバリセット : 失われたパート 1 個まで修復できます)"},
        {"actionSplitRecovery2Parts", "終了 (リカバリセット : 失われたパート 2 個まで修復できます)"},
        {"actionSplitRecovery10", "終了 (リカバリセット : 失われたパートは修復できません。1 個の修復には 34 % 必要です)"},
        {"actionSplitRecovery25", "終了 (リカバリセット : 失われたパートは修復できません。1 個の修復には 34 % 必要です)"},
    };
    const bool par2 = Par2Installed();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choice);
        Choose(c.choice);
        Split(1000);
        EXPECT_EQ(StatusText(dialog).toStdString(), c.end.toStdString());
        EXPECT_TRUE(std::filesystem::exists(source + ".par2"));
        EXPECT_GT(SetFiles(dir.path().string()).size(), 1U);
        QString said;
#ifdef TESSERA_CLI
        EXPECT_EQ(RunIn(TESSERA_CLI, {"verify", "s.sha256"}, dir.path().string(), &said), 0) << said.toStdString();
        EXPECT_TRUE(said.contains("s.par2: recovery set OK")) << said.toStdString();
#endif
        if (par2)
            EXPECT_EQ(RunIn("par2", {"verify", "-q", "-q", "s.par2"}, dir.path().string()), 0);

        // Kept for the next window.
        CTesseraDlg next;
        EXPECT_TRUE(Choice(next, c.choice)->isChecked());
        EXPECT_FALSE(Choice(next, "actionSplitRecoveryNone")->isChecked());
        RemoveSplit();
    }
#ifdef TESSERA_CLI
    // What the window wrote rebuilds a lost part.
    Choose("actionSplitRecovery1Part");
    Split(1000);
    std::filesystem::remove(source + ".001");
    QString said;
    EXPECT_EQ(RunIn(TESSERA_CLI, {"repair", "s.par2"}, dir.path().string(), &said), 0) << said.toStdString();
    EXPECT_EQ(ReadFile(source + ".001"), PatternBytes(400, 400));
#endif
}

TEST_F(WindowRecoveryTest, NoneWritesNoSetAndAStrangeSettingIsNone)
{
    QSettings().setValue("Split/RecoverySet", "7parts");
    CTesseraDlg window;
    EXPECT_TRUE(Choice(window, "actionSplitRecoveryNone")->isChecked());
    Split(1000, false);
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_TRUE(SetFiles(dir.path().string()).empty());

    // Chosen, then none again.
    Choose("actionSplitRecovery25");
    Choose("actionSplitRecoveryNone");
    RemoveSplit();
    Split(1000, false);
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_TRUE(SetFiles(dir.path().string()).empty());
}

// A name of the set that is taken refuses the split before the first part:
// the index file, a volume, a folder at a volume's name.
TEST_F(WindowRecoveryTest, ATakenNameRefusesTheSplitBeforeTheFirstPart)
{
    Choose("actionSplitRecovery1Part");
    Split(1000, false);
    const std::vector<std::string> names = SetFiles(dir.path().string());
    ASSERT_GE(names.size(), 2U);
    ASSERT_EQ(names.front(), "s.par2");
    const std::string volume = dir.file(names.back());

    struct Case {
        std::string taken;
        bool folder;
        QString status;
    };
    const Case cases[] = {
        {source + ".par2", false, Q("ファイルの作成に失敗 : " + source + ".par2 (リカバリセットが既にあります)")},
        {volume, false, Q("ファイルの作成に失敗 : " + volume + " (リカバリセットが既にあります)")},
        {volume, true, Q("ファイルの作成に失敗 : " + volume + " (リカバリセットの名前にファイル以外のものがあります)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.taken);
        RemoveSplit();
        if (c.folder)
            std::filesystem::create_directory(c.taken);
        else
            WriteFile(c.taken, "kept");
        Split(1000, true);
        EXPECT_EQ(StatusText(dialog), c.status);
        EXPECT_FALSE(std::filesystem::exists(source + ".000"));
        EXPECT_FALSE(std::filesystem::exists(source + ".sha256"));
        if (!c.folder)
            EXPECT_EQ(ReadFile(c.taken), "kept");
        EXPECT_EQ(SetFiles(dir.path().string()).size(), 1U);
        EXPECT_TRUE(dialog.Button(kButtonStartSplit)->isEnabled());
    }
}

TEST_F(WindowRecoveryTest, AbortLeavesNoSet)
{
    Choose("actionSplitRecovery1Part");
    const std::int64_t size = 2 * tessera::kTransferBufferSize + 1000;  // three blocks
    WritePatternFile(source, size);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {Q("0 " + std::to_string(size))});
    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(dialog).startsWith("書込中"); }, kJobTimeoutMs));
    EXPECT_TRUE(std::filesystem::exists(source + ".par2"));  // the name is held from the start
    dialog.Button(kButtonAbort)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_TRUE(std::filesystem::exists(source + ".000"));
    EXPECT_TRUE(SetFiles(dir.path().string()).empty());
}

// A join whose check fails points to the recovery set beside the first
// input, and only when there is one.
TEST_F(WindowRecoveryTest, AFailedJoinCheckPointsToTheSetBesideTheInputs)
{
    Choose("actionSplitRecovery1Part");
    Split(1000);
    const std::string part = source + ".001";
    WriteFile(part, PatternBytes(400, 399) + "!");
    const std::string destination = dir.file("joined");
    const auto join = [&] {
        dialog.OnClearJoinList();
        dialog.SetFieldText(kEditJoinDestination, Q(destination));
        dialog.AppendLines(kListJoin, {Q(source + ".000"), Q(part), Q(source + ".002")});
        dialog.Button(kButtonStartJoin)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
    };
    join();
    const std::string mismatch = "終了 (チェックサムが一致しません : " + part + ")";
    EXPECT_EQ(StatusText(dialog).toStdString(),
              mismatch + " リカバリセット " + source + ".par2 があります : 結合リストのメニューの 修復 で入力の復元を試せます");

    std::filesystem::remove(source + ".par2");
    join();
    EXPECT_EQ(StatusText(dialog).toStdString(), mismatch);
}

}  // namespace
