// The lists' menus, keys and tooltips, driven through the real actions.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHelpEvent>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QStringListModel>
#include <QTextDocument>
#include <QToolTip>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>

#include <filesystem>
#include <functional>

#include "DialogTestSupport.h"
#include "ListActions.h"
#include "plan/SplitEntry.h"
#include "support/TempDir.h"

using namespace tessera::test;

namespace {

class ListActionsTest : public ::testing::Test {
protected:
    QAction* Action(const char* name) const
    {
        auto* action = dialog.findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(action, nullptr) << name;
        return action;
    }
    void Trigger(const char* name) { Action(name)->trigger(); }
    QStringList Split() const { return dialog.ListLines(kListSplit); }
    QStringList Join() const { return dialog.ListLines(kListJoin); }
    void SelectRow(int list, int row)
    {
        QListView* view = dialog.List(list);
        view->selectionModel()->setCurrentIndex(view->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
    }
    int SelectedRow(int list) const
    {
        const QModelIndexList rows = dialog.List(list)->selectionModel()->selectedIndexes();
        return rows.size() == 1 ? rows.first().row() : -1;
    }
    // Files of that name in the temporary folder; their paths.
    QStringList MakeFiles(const QStringList& names)
    {
        QStringList paths;
        for (const QString& name : names) {
            paths.append(Q(dir.file(name.toStdString())));
            WriteFile(paths.last().toStdString(), name.toStdString());
        }
        return paths;
    }
    QString P(const char* name) const { return Q(dir.file(name)); }
    // Runs an action that brings up a message box; its text, once closed.
    QString MessageOf(const char* action)
    {
        QString text;
        WithModal<QMessageBox>([&] { Trigger(action); },
                               [&](QMessageBox* box) {
                                   EXPECT_EQ(box->textFormat(), Qt::PlainText);
                                   text = box->text();
                                   box->accept();
                               });
        return text;
    }
    void Paste(const QString& text)
    {
        QApplication::clipboard()->setText(text);
        Trigger("actionSplitPaste");
    }
    void ShowAndFocus(int list)
    {
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        dialog.List(list)->setFocus();
    }

    TempDir dir;
    CTesseraDlg dialog;
};

TEST_F(ListActionsTest, MenusHoldTheActionsInOrder)
{
    const auto texts = [](QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions())
            out.append(a->isSeparator() ? QStringLiteral("-") : a->objectName() + QLatin1Char(' ') + a->text());
        return out;
    };
    auto* joinMenu = dialog.findChild<QMenu*>(QStringLiteral("menuJoinList"));
    auto* splitMenu = dialog.findChild<QMenu*>(QStringLiteral("menuSplitList"));
    ASSERT_TRUE(joinMenu && splitMenu);
    EXPECT_EQ(texts(joinMenu), QStringList({"actionJoinAddFiles ファイルを追加…", "actionJoinAddSeries 連番をすべて追加",
                                            "actionJoinAddFromChecksums チェックサムファイルから追加…", "-", "actionJoinMoveUp 上へ", "actionJoinMoveDown 下へ",
                                            "actionJoinSortByName 名前順に並べ替え", "-", "actionJoinCheck 検査",
                                            "actionJoinRepair 修復", "-", "actionJoinDelete 削除"}));
    EXPECT_EQ(texts(splitMenu), QStringList({"actionSplitCopy コピー", "actionSplitPaste 貼り付け", "-",
                                             "actionSplitSavePlan プランを保存…", "actionSplitOpenPlan プランを開く…",
                                             "-", "actionSplitDelete 削除", "-",
                                             "actionSplitChecksums チェックサムを作成",
                                             "actionSplitRecovery リカバリセット",
                                             "actionSplitFolder 分割先フォルダ…"}));
    auto* recoveryMenu = dialog.findChild<QMenu*>(QStringLiteral("menuSplitRecovery"));
    ASSERT_TRUE(recoveryMenu);
    EXPECT_EQ(texts(recoveryMenu),
              QStringList({"actionSplitRecoveryNone 作成しない", "actionSplitRecovery1Part パート 1 個の欠損を修復できる量",
                           "actionSplitRecovery2Parts パート 2 個の欠損を修復できる量",
                           "actionSplitRecovery10 データの 10 %", "actionSplitRecovery25 データの 25 %"}));
    EXPECT_EQ(Action("actionJoinMoveUp")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Up));
    EXPECT_EQ(Action("actionJoinMoveDown")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Down));
    EXPECT_EQ(Action("actionJoinDelete")->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_EQ(Action("actionSplitDelete")->shortcut(), QKeySequence(Qt::Key_Delete));

    // The menu key on a list brings up its menu.
    ShowAndFocus(kListJoin);
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(4, 4), dialog.List(kListJoin)->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(dialog.List(kListJoin), &key);
    EXPECT_TRUE(QTest::qWaitFor([&] { return joinMenu->isVisible(); }, 5000));
    joinMenu->close();
}

TEST_F(ListActionsTest, ChecksumsItemIsOffUntilCheckedAndRemembered)
{
    QSettings().clear();
    {
        CTesseraDlg fresh;
        auto* item = fresh.findChild<QAction*>(QStringLiteral("actionSplitChecksums"));
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(item->isCheckable());
        EXPECT_FALSE(item->isChecked());
        EXPECT_FALSE(tessera::ui::ListActions::SplitWritesChecksums());
        item->trigger();
    }
    CTesseraDlg next;
    EXPECT_TRUE(next.findChild<QAction*>(QStringLiteral("actionSplitChecksums"))->isChecked());
    EXPECT_TRUE(tessera::ui::ListActions::SplitWritesChecksums());
    next.findChild<QAction*>(QStringLiteral("actionSplitChecksums"))->trigger();
    EXPECT_FALSE(tessera::ui::ListActions::SplitWritesChecksums());
    QSettings().clear();
}

TEST_F(ListActionsTest, SeriesStopsAtTheFirstGapAndKeepsTheWidth)
{
    const QStringList a = MakeFiles({"a.bin.007", "a.bin.008", "a.bin.009", "a.bin.010", "a.bin.012"});
    MakeFiles({"a.bin.011.txt"});
    ASSERT_TRUE(DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {a[0].toStdString()}));
    // One line, nothing selected: that line starts the series.
    Trigger("actionJoinAddSeries");
    EXPECT_EQ(Join(), a.mid(0, 4));  // .009 -> .010, and .011 is missing

    // Again: nothing follows .010, and the box names the name looked for.
    SelectRow(kListJoin, 3);
    EXPECT_EQ(MessageOf("actionJoinAddSeries"), "続きのファイルがありません : " + P("a.bin.011"));
    EXPECT_EQ(Join(), a.mid(0, 4));
}

TEST_F(ListActionsTest, SeriesFromTheMiddleGoesRightAfterTheChosenLine)
{
    const QStringList parts = MakeFiles({"v.000", "v.001", "v.002", "v.003", "v.004"});
    const QStringList other = MakeFiles({"x", "y"});
    dialog.AppendLines(kListJoin, {other[0], parts[2], other[1]});
    // Two lines and none selected: no line to start from.
    EXPECT_FALSE(Action("actionJoinAddSeries")->isEnabled());
    SelectRow(kListJoin, 0);  // "x" has no part number
    EXPECT_FALSE(Action("actionJoinAddSeries")->isEnabled());

    SelectRow(kListJoin, 1);
    Trigger("actionJoinAddSeries");
    EXPECT_EQ(Join(), QStringList({other[0], parts[2], parts[3], parts[4], other[1]}));
    EXPECT_EQ(SelectedRow(kListJoin), 1);
}

TEST_F(ListActionsTest, SortComparesNumbersAsNumbers)
{
    dialog.AppendLines(kListJoin, {"/d/x.100", "/d/x.10", "/d/b.txt", "/d/x.2", "/d/a.10", "/d/x.1", "/c/z"});
    SelectRow(kListJoin, 3);  // x.2
    Trigger("actionJoinSortByName");
    EXPECT_EQ(Join(), QStringList({"/c/z", "/d/a.10", "/d/b.txt", "/d/x.1", "/d/x.2", "/d/x.10", "/d/x.100"}));
    EXPECT_EQ(SelectedRow(kListJoin), 4);
}

TEST_F(ListActionsTest, MoveStopsAtTheEndsAndKeepsTheLineSelected)
{
    ShowAndFocus(kListJoin);
    QListView* view = dialog.List(kListJoin);
    dialog.AppendLines(kListJoin, {"/a", "/b", "/c"});
    SelectRow(kListJoin, 0);
    QTest::keyClick(view, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Join(), QStringList({"/a", "/b", "/c"}));
    EXPECT_EQ(SelectedRow(kListJoin), 0);
    QTest::keyClick(view, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Join(), QStringList({"/b", "/a", "/c"}));
    EXPECT_EQ(SelectedRow(kListJoin), 1);
    QTest::keyClick(view, Qt::Key_Down, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Down, Qt::ControlModifier);  // at the bottom
    EXPECT_EQ(Join(), QStringList({"/b", "/c", "/a"}));
    EXPECT_EQ(SelectedRow(kListJoin), 2);
    Trigger("actionJoinMoveUp");
    EXPECT_EQ(Join(), QStringList({"/b", "/a", "/c"}));
    EXPECT_EQ(SelectedRow(kListJoin), 1);

    // Delete as the 削除 button: the selected line, and no other selected after.
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(Join(), QStringList({"/b", "/c"}));
    EXPECT_EQ(SelectedRow(kListJoin), -1);
    EXPECT_FALSE(Action("actionJoinMoveDown")->isEnabled());
}

TEST_F(ListActionsTest, DeleteKeyOnTheSplitList)
{
    ShowAndFocus(kListSplit);
    dialog.AppendLines(kListSplit, {"0 1", "1 2", "2 3"});
    QTest::keyClick(dialog.List(kListSplit), Qt::Key_Delete);  // nothing selected
    EXPECT_EQ(Split().size(), 3);
    SelectRow(kListSplit, 1);
    QTest::keyClick(dialog.List(kListSplit), Qt::Key_Delete);
    EXPECT_EQ(Split(), QStringList({"0 1", "2 3"}));
}

TEST_F(ListActionsTest, AddFilesAdmitsAsADropInTheDialogsOrder)
{
    const QStringList files = MakeFiles({"c.bin", "a.bin", "b.bin"});
    WithModal<QFileDialog>([&] { Trigger("actionJoinAddFiles"); },
                           [&](QFileDialog* chooser) {
                               EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFiles);
                               chooser->setDirectory(Q(dir.path().string()));
                               ChooseFile(chooser, "\"c.bin\" \"a.bin\"");
                           });
    EXPECT_EQ(Join(), QStringList({files[0], files[1]}));
    // Cancel adds nothing.
    WithModal<QFileDialog>([&] { Trigger("actionJoinAddFiles"); }, [](QFileDialog* chooser) { chooser->reject(); });
    EXPECT_EQ(Join().size(), 2);
}

// A checksum file a split wrote gives the join list its parts, in its order,
// and the destination field the source's name beside them.
TEST_F(ListActionsTest, ChecksumFileFillsTheJoinListWithTheParts)
{
    const std::string digest(64, 'a');
    const std::string manifest = dir.file("m.avi.sha256");
    const auto fromChecksums = [&](const std::string& file) {
        QString message;
        WithModal<QWidget>([&] { Trigger("actionJoinAddFromChecksums"); },
                           [&](QWidget* window) {
                               if (auto* chooser = qobject_cast<QFileDialog*>(window)) {
                                   ChooseFile(chooser, file);
                               } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
                                   message = box->text();
                                   box->accept();
                               }
                           });
        return message;
    };
    // Listed out of number order, one part missing, one a folder, one
    // absolute; the source's own line last.
    MakeFiles({"m.avi.002", "m.avi.000", "other"});
    std::filesystem::create_directory(dir.file("m.avi.003"));
    WriteFile(manifest, digest + "  m.avi.002\n" + digest + "  m.avi.001\n" + digest + " *m.avi.000\n" + digest +
                            "  m.avi.003\n" + digest + "  " + dir.file("other") + "\n" + digest + "  m.avi\n");
    dialog.AppendLines(kListJoin, {P("first")});
    EXPECT_EQ(fromChecksums(manifest), QString());
    EXPECT_EQ(Join(), QStringList({P("first"), P("m.avi.002"), P("m.avi.000"), P("other")}));
    EXPECT_EQ(StatusText(dialog), "ファイルとして開けないため除外 : 「" + P("m.avi.001") + "」 「" + P("m.avi.003") + "」");
    EXPECT_EQ(Q(dialog.FieldText(kEditJoinDestination)), P("m.avi"));

    // A destination already typed stays; a taken source name is never put
    // there to be emptied by the join.
    dialog.OnClearJoinList();
    dialog.SetFieldText(kEditJoinDestination, P("mine"));
    fromChecksums(manifest);
    EXPECT_EQ(dialog.ListLines(kListJoin).size(), 3);
    EXPECT_EQ(Q(dialog.FieldText(kEditJoinDestination)), P("mine"));
    dialog.SetFieldText(kEditJoinDestination, "");
    MakeFiles({"m.avi"});
    dialog.OnClearJoinList();
    fromChecksums(manifest);
    EXPECT_EQ(dialog.FieldText(kEditJoinDestination), "");
    EXPECT_TRUE(StatusText(dialog).endsWith("結合先ファイルは既にあるため空欄のまま : 「" + P("m.avi") + "」"));

    // A file that is no checksum file adds nothing, and says where it fails.
    dialog.OnClearJoinList();
    WriteFile(manifest, digest + "  m.avi.000\nnot a line\n");
    EXPECT_EQ(fromChecksums(manifest),
              Q("チェックサムファイルを読めません : " + manifest + "\n2 行目はチェックサムの行として読めません。\n何も追加していません。"));
    EXPECT_TRUE(Join().isEmpty());

    // Dropped, a checksum file is listed itself, as any file.
    EXPECT_TRUE(DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {manifest}));
    EXPECT_EQ(Join(), QStringList({Q(manifest)}));
}

TEST_F(ListActionsTest, CopyTakesTheSelectedLineOrAll)
{
    dialog.AppendLines(kListSplit, {"0 10", "10 20", "20 30"});
    Trigger("actionSplitCopy");
    EXPECT_EQ(QApplication::clipboard()->text(), "0 10\n10 20\n20 30\n");
    SelectRow(kListSplit, 1);
    Trigger("actionSplitCopy");
    EXPECT_EQ(QApplication::clipboard()->text(), "10 20\n");

    // Ctrl+C is the action's, not the list view's own copy of its current line.
    ShowAndFocus(kListSplit);
    dialog.List(kListSplit)->selectionModel()->clearSelection();
    QApplication::clipboard()->clear();
    QTest::keyClick(dialog.List(kListSplit), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "0 10\n10 20\n20 30\n");
}

TEST_F(ListActionsTest, PasteAppendsGoodLinesInTheListsForm)
{
    dialog.AppendLines(kListSplit, {"5 6"});
    Paste(QStringLiteral("0 10\n10 20\r\n\n  +20\t030 \n"));
    EXPECT_EQ(Split(), QStringList({"5 6", "0 10", "10 20", "20 30"}));
}

TEST_F(ListActionsTest, PasteOfABadLineAddsNothingAndNamesIt)
{
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"0 10\n10 20\n30 25\n40 50\n", "3 行目の終了位置が開始位置より前です。何も追加していません。\n30 25"},
        {"0 10\n\nabc\n", "3 行目は「開始 終了」の行として読めません。何も追加していません。\nabc"},
        {"0 10 20\n", "1 行目は「開始 終了」の行として読めません。何も追加していません。\n0 10 20"},
        {"0 10\n-1 5", "2 行目の開始位置が負の数です。何も追加していません。\n-1 5"},
    };
    dialog.AppendLines(kListSplit, {"5 6"});
    for (const auto& c : cases) {
        QApplication::clipboard()->setText(QString::fromUtf8(c.text));
        EXPECT_EQ(MessageOf("actionSplitPaste"), QString::fromUtf8(c.message)) << c.text;
        EXPECT_EQ(Split(), QStringList({"5 6"})) << c.text;
    }
}

TEST_F(ListActionsTest, PasteStopsAtTheCapCountingListedLines)
{
    QStringList lines(static_cast<qsizetype>(tessera::kMaxSplitLines - 1), QStringLiteral("0 1"));
    dialog.AppendLines(kListSplit, lines);
    lines.clear();
    QApplication::clipboard()->setText(QStringLiteral("0 1\n1 2\n"));
    EXPECT_EQ(MessageOf("actionSplitPaste"),
              QStringLiteral("2 行目で分割リストが 1000000 行を超えます。何も追加していません。"));
    EXPECT_EQ(dialog.ListCount(kListSplit), static_cast<int>(tessera::kMaxSplitLines - 1));
    Paste(QStringLiteral("7 8\n"));
    EXPECT_EQ(dialog.ListCount(kListSplit), static_cast<int>(tessera::kMaxSplitLines));
    EXPECT_EQ(Split().last(), "7 8");
}

TEST_F(ListActionsTest, SaveThenOpenGivesTheSameList)
{
    const QStringList plan = {"0 10", "10 20", "5 5", "0 9223372036854775807"};
    dialog.AppendLines(kListSplit, plan);
    const std::string file = dir.file("plan.txt");
    WithModal<QFileDialog>([&] { Trigger("actionSplitSavePlan"); },
                           [&](QFileDialog* chooser) { ChooseFile(chooser, file); });
    EXPECT_EQ(ReadFile(file), "0 10\n10 20\n5 5\n0 9223372036854775807\n");

    dialog.Button(kButtonClearSplitList)->click();
    EXPECT_FALSE(Action("actionSplitSavePlan")->isEnabled());
    WithModal<QFileDialog>([&] { Trigger("actionSplitOpenPlan"); },
                           [&](QFileDialog* chooser) { ChooseFile(chooser, file); });
    EXPECT_EQ(Split(), plan);

    // A file with a bad line: nothing added, the file and the line named.
    WriteFile(file, "0 1\r\n1 x\r\n");
    QString message;
    WithModal<QWidget>([&] { Trigger("actionSplitOpenPlan"); },
                       [&](QWidget* window) {
                           if (auto* chooser = qobject_cast<QFileDialog*>(window)) {
                               ChooseFile(chooser, file);
                           } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
                               message = box->text();
                               box->accept();
                           }
                       });
    EXPECT_EQ(message, Q(file) + "\n2 行目は「開始 終了」の行として読めません。何も追加していません。\n1 x");
    EXPECT_EQ(Split(), plan);
}

TEST_F(ListActionsTest, SaveWritesThroughASymlinkAndSaysWhenItFails)
{
    dialog.AppendLines(kListSplit, {"0 1"});
    const std::string real = dir.file("real.txt");
    const std::string link = dir.file("link.txt");
    WriteFile(real, "old\n");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    const auto save = [&](const std::string& path) {
        QString message;
        WithModal<QWidget>([&] { Trigger("actionSplitSavePlan"); },
                           [&](QWidget* window) {
                               if (auto* chooser = qobject_cast<QFileDialog*>(window)) {
                                   chooser->setOption(QFileDialog::DontConfirmOverwrite);
                                   ChooseFile(chooser, path);
                               } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
                                   message = box->text();
                                   box->accept();
                               }
                           });
        return message;
    };
    EXPECT_EQ(save(link), "");
    EXPECT_EQ(ReadFile(real), "0 1\n");
    struct stat status {};
    ASSERT_EQ(::lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));

    // The folder goes away between the choice and the save: the box says so.
    const std::filesystem::path folder = dir.path() / "gone";
    std::filesystem::create_directory(folder);
    QString message;
    WithModal<QWidget>([&] { Trigger("actionSplitSavePlan"); },
                       [&](QWidget* window) {
                           if (auto* chooser = qobject_cast<QFileDialog*>(window)) {
                               ChooseFile(chooser, (folder / "plan.txt").string());
                               std::filesystem::remove_all(folder);
                           } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
                               message = box->text();
                               box->accept();
                           }
                       });
    EXPECT_TRUE(message.startsWith("プランの保存に失敗 : " + Q((folder / "plan.txt").string()))) << message.toStdString();
}

TEST_F(ListActionsTest, OpenRefusesAPipe)
{
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    QString message;
    WithModal<QWidget>([&] { Trigger("actionSplitOpenPlan"); },
                       [&](QWidget* window) {
                           if (auto* chooser = qobject_cast<QFileDialog*>(window)) {
                               ChooseFile(chooser, fifo);
                           } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
                               message = box->text();
                               box->accept();
                           }
                       });
    EXPECT_TRUE(message.startsWith("プランを開けません : " + Q(fifo))) << message.toStdString();
    EXPECT_TRUE(Split().isEmpty());
}

// Runs a plan action, chooses path in its file dialog (replacing without the
// dialog's own question), and returns the text of the box that follows, if
// any.
QString ChooseForPlan(const std::function<void()>& trigger, const std::string& path,
                      QString* startFolder = nullptr)
{
    QString message;
    WithModal<QWidget>(trigger, [&](QWidget* window) {
        if (auto* chooser = qobject_cast<QFileDialog*>(window)) {
            if (startFolder)
                *startFolder = chooser->directory().absolutePath();
            chooser->setOption(QFileDialog::DontConfirmOverwrite);
            ChooseFile(chooser, path);
        } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
            message = box->text();
            box->accept();
        }
    });
    return message;
}

TEST_F(ListActionsTest, SaveNeverWritesOverTheSourceAJoinInputOrAFileInUse)
{
    const std::string source = dir.file("source.bin");
    WritePatternFile(source, 100'000);
    const std::string original = ReadFile(source);
    const std::string joined = dir.file("joined.bin");
    WriteFile(joined, "join input");
    const std::string busy = dir.file("busy.txt");
    WriteFile(busy, "held by a job");
    const std::string alias = dir.file("alias");
    ASSERT_EQ(::link(source.c_str(), alias.c_str()), 0);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"0 50000", "50000 100000"});
    dialog.AppendLines(kListJoin, {Q(joined)});
    // A running job holds its files locked: a reader shares its lock.
    const int held = ::open(busy.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_SH | LOCK_NB), 0);

    const auto save = [&](const std::string& path, QString* folder = nullptr) {
        return ChooseForPlan([&] { Trigger("actionSplitSavePlan"); }, path, folder);
    };
    QString folder;
    const QString failed = QStringLiteral("プランの保存に失敗 : ");
    EXPECT_EQ(save(source, &folder), failed + Q(source) + "\n分割元ファイルです。プランで上書きしません。");
    // The dialog starts in the source's folder, not in the program's.
    EXPECT_EQ(folder, Q(dir.path().string()));
    EXPECT_EQ(save(alias), failed + Q(alias) + "\n分割元ファイルです。プランで上書きしません。");
    EXPECT_EQ(save(joined), failed + Q(joined) + "\n結合リストにあるファイルです。プランで上書きしません。");
    EXPECT_EQ(save(busy), failed + Q(busy) + "\nほかの処理が使用中のファイルです。何も書き込んでいません。");
    ::close(held);
    EXPECT_EQ(ReadFile(source), original);
    EXPECT_EQ(ReadFile(joined), "join input");
    EXPECT_EQ(ReadFile(busy), "held by a job");

    // Once the job has let go, the same name takes the plan.
    EXPECT_EQ(save(busy), "");
    EXPECT_EQ(ReadFile(busy), "0 50000\n50000 100000\n");
}

TEST_F(ListActionsTest, OpenReadsALargePlanWhole)
{
    // Larger than any one read of the file.
    QStringList plan;
    std::string text;
    for (int i = 0; i < 20'000; ++i) {
        plan.append(QStringLiteral("%1 %2").arg(i * 1000).arg(i * 1000 + 1000));
        text += plan.last().toStdString() + "\n";
    }
    ASSERT_GT(text.size(), std::size_t{3} << 16);
    const std::string file = dir.file("large.plan");
    WriteFile(file, text);
    EXPECT_EQ(ChooseForPlan([&] { Trigger("actionSplitOpenPlan"); }, file), "");
    EXPECT_EQ(Split(), plan);
}

TEST_F(ListActionsTest, OpenRefusesAHugeFileWithoutLineBreaksAtOnce)
{
    // 20 GiB of nothing, taking no room: the window must not read it through.
    const std::string file = dir.file("huge");
    WriteFile(file, "");
    ASSERT_EQ(::truncate(file.c_str(), std::int64_t{20} << 30), 0);
    QElapsedTimer clock;
    clock.start();
    const QString message = ChooseForPlan([&] { Trigger("actionSplitOpenPlan"); }, file);
    // Generous against a busy machine; reading it through takes far longer.
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(message.startsWith("プランを開けません : " + Q(file) + "\nプランとして読める大きさ")) << message.toStdString();
    EXPECT_TRUE(Split().isEmpty());

    // Under that size, the first line too long ends the reading.
    WriteFile(file, std::string(5000, '1') + "\n0 1\n");
    EXPECT_TRUE(ChooseForPlan([&] { Trigger("actionSplitOpenPlan"); }, file)
                    .startsWith(Q(file) + "\n1 行目は「開始 終了」の行として読めません。"));
    EXPECT_TRUE(Split().isEmpty());
}

// The hex and text rows of the tooltip for bytes [from, from + n) of the
// pattern file.
QString Row(const char* label, std::int64_t from, std::int64_t n)
{
    QString row = QStringLiteral("%1 %2:").arg(QString::fromUtf8(label)).arg(from);
    const std::string bytes = PatternBytes(from, n);
    for (const char c : bytes)
        row += QStringLiteral(" %1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0')).toUpper();
    return row;
}

TEST_F(ListActionsTest, TooltipShowsTheBytesAroundTheCut)
{
    const std::int64_t size = 3 * 1024 * 1024;
    const std::string source = dir.file("source.bin");
    WritePatternFile(source, size);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"0 1024", "1000 1048576", "3145720 3145728", "3145728 3145728", "0 3145728",
                                    "0 2147483648", "10 5"});
    auto* actions = dialog.findChild<tessera::ui::ListActions*>();
    ASSERT_NE(actions, nullptr);
    const auto tip = [&](int row) { return actions->SplitLineTip(row).split(QLatin1Char('\n')); };

    // At offset 0 there is nothing before the cut.
    QStringList rows = tip(0);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], "1024 バイト (1.00 KiB)");
    EXPECT_EQ(rows[1], "前 0: (ファイルの先頭)");
    EXPECT_TRUE(rows[2].startsWith(Row("後", 0, 16) + "  ")) << rows[2].toStdString();
    // In the middle.
    rows = tip(1);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], "1047576 バイト (1023.02 KiB)");
    EXPECT_TRUE(rows[1].startsWith(Row("前", 984, 16) + "  ")) << rows[1].toStdString();
    EXPECT_TRUE(rows[2].startsWith(Row("後", 1000, 16) + "  ")) << rows[2].toStdString();
    // Near the end only 8 bytes follow; at the end none.
    rows = tip(2);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], "8 バイト (0.01 KiB)");
    EXPECT_TRUE(rows[1].startsWith(Row("前", size - 24, 16) + "  ")) << rows[1].toStdString();
    EXPECT_TRUE(rows[2].startsWith(Row("後", size - 8, 8) + "  ")) << rows[2].toStdString();
    rows = tip(3);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], "0 バイト (0.00 KiB)");
    EXPECT_TRUE(rows[1].startsWith(Row("前", size - 16, 16) + "  ")) << rows[1].toStdString();
    EXPECT_EQ(rows[2], QStringLiteral("後 %1: (ファイルの終わり)").arg(size));
    EXPECT_EQ(tip(4)[0], "3145728 バイト (3.00 MiB)");
    EXPECT_EQ(tip(5)[0], "2147483648 バイト (2.00 GiB)");
    EXPECT_EQ(actions->SplitLineTip(6), "");
    // A start past the end of the file.
    dialog.AppendLines(kListSplit, {QStringLiteral("%1 %2").arg(size + 100).arg(size + 200)});
    EXPECT_EQ(actions->SplitLineTip(7), QStringLiteral("100 バイト (0.10 KiB)\n前 %1: (ファイルの終わり)\n後 %2: (ファイルの終わり)")
                                            .arg(size + 84)
                                            .arg(size + 100));

    // A source that cannot be read: the size alone.
    dialog.SetFieldText(kEditSource, Q(dir.file("missing")));
    EXPECT_EQ(actions->SplitLineTip(0), "1024 バイト (1.00 KiB)");
    dialog.SetFieldText(kEditSource, Q(dir.path().string()));
    EXPECT_EQ(actions->SplitLineTip(0), "1024 バイト (1.00 KiB)");
    // A pipe with no writer is not waited for.
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    dialog.SetFieldText(kEditSource, Q(fifo));
    EXPECT_EQ(actions->SplitLineTip(0), "1024 バイト (1.00 KiB)");
}

TEST_F(ListActionsTest, TooltipDecodesShiftJisAsPlainText)
{
    const std::string source = dir.file("text.bin");
    WriteFile(source, "abc\x95\x5c\x8e\xa6<b>x\n");
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"3 8"});
    ShowAndFocus(kListSplit);

    auto* actions = dialog.findChild<tessera::ui::ListActions*>();
    const QString expected = "5 バイト (0.00 KiB)\n前 0: 61 62 63  abc\n後 3: 95 5C 8E A6 3C 62 3E 78 0A  表示<b>x.";
    EXPECT_EQ(actions->SplitLineTip(0), expected);
    EXPECT_FALSE(Qt::mightBeRichText(expected));

    // Shown on hover over the line.
    QListView* view = dialog.List(kListSplit);
    const QPoint at = view->visualRect(view->model()->index(0, 0)).center();
    QHelpEvent hover(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &hover);
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 5000));
    EXPECT_EQ(QToolTip::text(), expected);
    QToolTip::hideText();
}

TEST_F(ListActionsTest, ActionsAreDisabledWhileAJobRuns)
{
    const std::string source = dir.file("job.bin");
    WritePatternFile(source, 100);
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"0 100"});
    dialog.AppendLines(kListJoin, {"/a", "/b"});
    SelectRow(kListJoin, 0);
    SelectRow(kListSplit, 0);
    const char* names[] = {"actionJoinAddFiles", "actionJoinAddFromChecksums", "actionJoinMoveDown",
                           "actionJoinSortByName", "actionJoinDelete", "actionSplitCopy", "actionSplitPaste",
                           "actionSplitSavePlan", "actionSplitOpenPlan", "actionSplitDelete", "actionSplitFolder"};
    for (const char* name : names)
        EXPECT_TRUE(Action(name)->isEnabled()) << name;

    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.List(kListSplit)->isEnabled(); }, 10000));
    for (const char* name : names)
        EXPECT_FALSE(Action(name)->isEnabled()) << name;
    Paste(QStringLiteral("1 2\n"));
    EXPECT_EQ(Split(), QStringList({"0 100"}));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, 10000));
    EXPECT_EQ(StatusText(dialog), "終了");
    for (const char* name : names)
        EXPECT_TRUE(Action(name)->isEnabled()) << name;
}

}  // namespace
