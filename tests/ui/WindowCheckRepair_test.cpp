// The join list's 検査 and 修復: the listed inputs checked against the
// checksum file and the recovery set beside the first of them, and rebuilt
// from that set. Real dialog, real worker; parts of 400, 400 and 200 bytes
// written by a split from the window.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSettings>

#include <filesystem>
#include <map>

#include "WindowTest.h"

using namespace tessera::test;

namespace {

// Every file in folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    return files;
}

// Presses a button the moment it is enabled: Abort, as the job switches the
// controls to running, before its first file is read.
class PressWhenEnabled : public QObject {
public:
    explicit PressWhenEnabled(QPushButton& button) : button_(button) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &button_ && event->type() == QEvent::EnabledChange && button_.isEnabled())
            button_.click();
        return false;
    }

private:
    QPushButton& button_;
};

class WindowCheckRepairTest : public WindowTest {
protected:
    QAction* Action(const char* name) { return dialog.findChild<QAction*>(QLatin1String(name)); }
    // The join list's menu opened (its items enabled as they are now) and
    // closed again.
    void OpenJoinMenu()
    {
        QListView* list = dialog.List(kListJoin);
        emit list->customContextMenuRequested(QPoint(5, 5));
        auto* menu = list->findChild<QMenu*>(QStringLiteral("menuJoinList"));
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, kJobTimeoutMs));
        menu->close();
    }

    // source (1,000 bytes) split by the window, with a checksum file and a
    // recovery set ("1part", "2parts", "" for none) as asked; the parts then
    // listed for a join.
    void Split(bool checksums, const char* recovery)
    {
        QSettings().setValue("Split/WriteChecksums", checksums);
        QSettings().setValue("Split/RecoverySet", recovery);
        WritePatternFile(source, 1000);
        dialog.OnClearSplitList();
        dialog.SetFieldText(kEditSource, Q(source));
        dialog.AppendLines(kListSplit, {Q("0 400"), Q("400 800"), Q("800 1000")});
        dialog.Button(kButtonStartSplit)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
        ASSERT_TRUE(std::filesystem::exists(part(2)));
        List({part(0), part(1), part(2)});
    }
    void List(const std::vector<std::string>& inputs)
    {
        dialog.OnClearJoinList();
        QStringList lines;
        for (const std::string& input : inputs)
            lines.append(Q(input));
        dialog.AppendLines(kListJoin, lines);
    }
    [[nodiscard]] std::string part(int n) const { return source + ".00" + std::to_string(n); }

    // Runs the menu item from the join list's menu; its status line. abort:
    // Abort is pressed as the job begins.
    std::string Run(const char* action, bool abort = false)
    {
        QAction* item = Action(action);
        EXPECT_NE(item, nullptr);
        if (item == nullptr)
            return {};
        PressWhenEnabled pressing(*dialog.Button(kButtonAbort));
        if (abort)
            dialog.Button(kButtonAbort)->installEventFilter(&pressing);
        OpenJoinMenu();
        EXPECT_TRUE(item->isEnabled()) << action;
        item->trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
        dialog.Button(kButtonAbort)->removeEventFilter(&pressing);
        EXPECT_EQ(EnableStates(dialog).buttons, ControlStatesFor(true).buttons) << "the controls are idle again";
        EXPECT_EQ(dialog.StatusLine()->toolTip(), StatusText(dialog)) << "a verdict past the line's edge is on its tooltip";
        return StatusText(dialog).toStdString();
    }

    // The recovery set's files removed.
    void RemoveSet()
    {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().filename().string().find(".par2") != std::string::npos)
                std::filesystem::remove(entry.path());
    }

    const std::string source = dir.file("s");
};

TEST_F(WindowCheckRepairTest, CheckSaysWhatItFoundAndWhetherTheSetCanRebuildIt)
{
    Split(true, "1part");
    const std::string set = source + ".par2";
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : すべて正常です。リカバリセットも正常です)");

    // One changed byte: named, and the set can rebuild it. Nothing joined,
    // nothing changed.
    WriteFile(part(1), PatternBytes(400, 399) + "!");
    const auto before = Snapshot(dir.path().string());
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : 一致しません : " + part(1) + "。リカバリセットで修復できます)");
    EXPECT_TRUE(Snapshot(dir.path().string()) == before) << "nothing changed";

    // A part missing, with and without the set.
    std::filesystem::remove(part(1));
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : 見つかりません : " + part(1) + "。リカバリセットで修復できます)");
    // Two missing: more than one lost part.
    std::filesystem::rename(part(2), dir.file("aside"));
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : 見つかりません : " + part(1) +
                                          "、ほか 1 個。リカバリセットでは修復できません : 回復スライスが 2 個足りません)");
    std::filesystem::rename(dir.file("aside"), part(2));
    RemoveSet();
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : 見つかりません : " + part(1) + ")");
    OpenJoinMenu();
    EXPECT_FALSE(Action("actionJoinRepair")->isEnabled());

    // The join list and the checksum file disagree: what the file lists is
    // checked, and the status says so.
    WriteFile(part(1), PatternBytes(400, 400));
    List({part(0), part(2)});
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : すべて正常です) 結合リストは " + source +
                                          ".sha256 の一覧と異なるため、その一覧を検査しました");
}

TEST_F(WindowCheckRepairTest, CheckWithTheSetAloneOrNothingBesideTheInputs)
{
    Split(false, "1part");
    ASSERT_FALSE(std::filesystem::exists(source + ".sha256"));
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : すべて正常です)");
    WriteFile(part(2), PatternBytes(800, 199) + "!");
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : 損傷しています : s.002。リカバリセットで修復できます)");

    // Neither a checksum file nor a set: 検査 is disabled, and refuses when
    // reached all the same.
    RemoveSet();
    OpenJoinMenu();
    EXPECT_FALSE(Action("actionJoinCheck")->isEnabled());
    EXPECT_FALSE(Action("actionJoinRepair")->isEnabled());
    dialog.OnCheckInputs();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
    EXPECT_EQ(StatusText(dialog),
              "検査できません : 最初の入力の横にチェックサムファイルもリカバリセットもありません");
    EXPECT_EQ(EnableStates(dialog).buttons, ControlStatesFor(true).buttons);
    dialog.OnRepairInputs();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
    EXPECT_EQ(StatusText(dialog), "修復できません : 最初の入力の横にリカバリセットがありません");
    EXPECT_EQ(EnableStates(dialog).buttons, ControlStatesFor(true).buttons);
}

TEST_F(WindowCheckRepairTest, RepairRebuildsAndKeepsWhatItReplaces)
{
    Split(true, "2parts");
    EXPECT_EQ(Run("actionJoinRepair"), "終了 (修復 : すべて正常です。変更はありません)");

    // One part deleted, one changed: the changed one kept under a free name.
    std::filesystem::remove(part(0));
    const std::string changed = PatternBytes(400, 399) + "!";
    WriteFile(part(1), changed);
    WriteFile(part(1) + ".1", "taken");
    EXPECT_EQ(Run("actionJoinRepair"), "終了 (修復 : s.001 を復元しました。元のファイルは s.001.2 として残しています、s.000 を作成しました)");
    EXPECT_EQ(ReadFile(part(0)), PatternBytes(0, 400));
    EXPECT_EQ(ReadFile(part(1)), PatternBytes(400, 400));
    EXPECT_EQ(ReadFile(part(1) + ".2"), changed);
    EXPECT_EQ(ReadFile(part(1) + ".1"), "taken");
    EXPECT_EQ(Run("actionJoinCheck"), "終了 (検査 : すべて正常です。リカバリセットも正常です)");
    // par2 itself accepts what was rebuilt, where it is installed.
    if (const int status = RunIn("par2", {"verify", "-q", "s.par2"}, dir.path().string()); status >= 0)
        EXPECT_EQ(status, 0);
}

TEST_F(WindowCheckRepairTest, RepairRefusedChangesNothing)
{
    Split(true, "1part");
    std::filesystem::remove(part(0));
    std::filesystem::remove(part(2));
    const auto before = Snapshot(dir.path().string());
    EXPECT_EQ(Run("actionJoinRepair"), "終了 (修復できません : 回復スライスが 2 個足りません。ファイルは変更していません)");
    EXPECT_TRUE(Snapshot(dir.path().string()) == before) << "nothing changed";
}

TEST_F(WindowCheckRepairTest, AbortStopsCheckAndRepair)
{
    Split(true, "1part");
    std::filesystem::remove(part(1));
    List({part(0), part(1), part(2)});
    EXPECT_EQ(Run("actionJoinCheck", true), "終了 (検査を中止しました)");
    const auto before = Snapshot(dir.path().string());
    EXPECT_EQ(Run("actionJoinRepair", true), "終了 (修復を中止しました。ファイルは変更していません)");
    EXPECT_TRUE(Snapshot(dir.path().string()) == before) << "nothing changed";
    // Run again, the next job is not stopped by the last Abort.
    EXPECT_EQ(Run("actionJoinRepair"), "終了 (修復 : s.001 を作成しました)");
}

}  // namespace
