// The dialog headless: its template, keyboard, lists, planning tools, file
// choosers and drops. Jobs are in CTesseraDlgJobs_test.cpp.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QDialogButtonBox>
#include <QScrollBar>
#include <QSet>
#include <QStringListModel>

#include <fstream>
#include <random>
#include <set>

#include "DialogTestSupport.h"
#include "DialogUnits.h"
#include "QtLanguage.h"
#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"

using namespace tessera::test;

namespace {

class DialogTest : public ::testing::Test {
protected:
    // A source file of the given size in the source field.
    std::string UseSource(std::int64_t size, const std::string& name = "source.bin")
    {
        const std::string path = dir.file(name);
        WritePatternFile(path, size);
        dialog.SetFieldText(kEditSource, Q(path));
        return path;
    }
    void Press(int button) { dialog.Button(button)->click(); }
    void Type(int edit, const char* text) { dialog.SetFieldText(edit, QString::fromUtf8(text)); }
    QStringList Split() const { return dialog.ListLines(kListSplit); }
    QStringList Join() const { return dialog.ListLines(kListJoin); }
    void SelectRow(int list, int row)
    {
        QListView* view = dialog.List(list);
        view->selectionModel()->setCurrentIndex(view->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
    }
    QPoint CenterOf(QWidget* control) const { return control->geometry().center(); }
    // Text delivered as an input method commits it.
    void Commit(int edit, const QString& text)
    {
        QInputMethodEvent event;
        event.setCommitString(text);
        QApplication::sendEvent(dialog.Edit(edit), &event);
    }
    // Text pasted from the clipboard into an empty single-line field.
    void Paste(int edit, const QString& text)
    {
        auto* line = static_cast<QLineEdit*>(dialog.Edit(edit));
        line->clear();
        QApplication::clipboard()->setText(text);
        line->paste();
    }

    TempDir dir;
    CTesseraDlg dialog;
};

QList<QWidget*> TemplateItems(const QWidget& dialog)
{
    QList<QWidget*> items;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QPushButton*>(w) || qobject_cast<QLabel*>(w) || qobject_cast<QGroupBox*>(w) ||
            qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QListView*>(w) ||
            qobject_cast<QProgressBar*>(w))
            items.append(w);
    }
    return items;
}

TEST_F(DialogTest, StartsInTheTemplateState)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    EXPECT_EQ(dialog.windowTitle(), "Tessera");
    EXPECT_EQ(StatusText(dialog), "スタティック");
    EXPECT_EQ(dialog.ProgressBar()->minimum(), 0);
    EXPECT_EQ(dialog.ProgressBar()->maximum(), 65536);
    EXPECT_EQ(dialog.ProgressBar()->value(), 0);
    EXPECT_EQ(dialog.ProgressBar()->orientation(), Qt::Vertical);
    EXPECT_FALSE(dialog.Button(kButtonAbort)->isEnabled());
    EXPECT_TRUE(dialog.Button(kButtonExit)->isEnabled());
    EXPECT_EQ(dialog.focusWidget(), dialog.Button(kButtonExit));
    EXPECT_FALSE(dialog.Edit(kEditSource)->isEnabled());
    EXPECT_TRUE(dialog.Edit(kEditJoinDestination)->isEnabled());
    for (int i = kEditExtractOffset; i <= kEditString; ++i)
        EXPECT_TRUE(dialog.Edit(i)->isEnabled()) << i;
    for (int i = 0; i < kEditCount; ++i)
        EXPECT_EQ(dialog.FieldText(i), "") << i;
    for (int i = 0; i < kButtonCount; ++i) {
        EXPECT_FALSE(dialog.Button(i)->autoDefault()) << i;
        EXPECT_FALSE(dialog.Button(i)->isDefault()) << i;
    }
    EXPECT_TRUE(Split().isEmpty());
    EXPECT_TRUE(Join().isEmpty());
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_FALSE(dialog.Icon().pixmap(48, 48).isNull());
    EXPECT_EQ(DialogPointer(), &dialog);
}

TEST_F(DialogTest, HasEveryTemplateItemWithItsIdentifier)
{
    const QList<QWidget*> items = TemplateItems(dialog);
    EXPECT_EQ(items.size(), 50);

    std::set<int> ids;
    int withId = 0;
    for (QWidget* item : items) {
        const QVariant id = item->property("controlId");
        if (!id.isValid())
            continue;
        ++withId;
        ids.insert(id.toInt());
        // Labels and group boxes carry no identifier, except the status line.
        if (qobject_cast<QGroupBox*>(item))
            ADD_FAILURE() << "group box with an identifier";
    }
    std::set<int> expected = {1, 2, 1026, 1027, 1028, 1029};
    for (int id = 1000; id <= 1025; ++id)
        expected.insert(id);
    EXPECT_EQ(withId, 32);
    EXPECT_EQ(ids, expected);

    // The members are bound to their identifiers.
    const int editIds[] = {1000, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1029, 1024};
    for (int i = 0; i < kEditCount; ++i)
        EXPECT_EQ(dialog.Edit(i)->property("controlId").toInt(), editIds[i]) << i;
    const int buttonIds[] = {1001, 1003, 1004, 1005, 1006, 1007, 1008, 1028, 1009,
                             1010, 1011, 1012, 1013, 1002, 1023, 1, 2};
    for (int i = 0; i < kButtonCount; ++i)
        EXPECT_EQ(dialog.Button(i)->property("controlId").toInt(), buttonIds[i]) << i;
    EXPECT_EQ(dialog.List(kListSplit)->property("controlId").toInt(), 1022);
    EXPECT_EQ(dialog.List(kListJoin)->property("controlId").toInt(), 1025);
    EXPECT_EQ(dialog.ProgressBar()->property("controlId").toInt(), 1027);
    EXPECT_EQ(dialog.StatusLine()->property("controlId").toInt(), 1026);

    EXPECT_EQ(dialog.Button(kButtonAbort)->text(), "中止");
    EXPECT_EQ(dialog.Button(kButtonSearchString)->text(), "検索追加");
    EXPECT_EQ(dialog.Edit(kEditExtractOffset)->accessibleName(), "オフセット");
    EXPECT_EQ(dialog.Edit(kEditRangeEnd)->accessibleName(), "終了位置");
    EXPECT_EQ(dialog.Edit(kEditJoinDestination)->accessibleName(), "結合先ファイル");
    EXPECT_EQ(dialog.Edit(kEditString)->accessibleName(), "特定文字列分割 (文字コード:SJIS)");

    // Only the dialog takes drops; no child inserts a dropped URL itself.
    EXPECT_TRUE(dialog.acceptDrops());
    for (QWidget* child : dialog.findChildren<QWidget*>())
        EXPECT_FALSE(child->acceptDrops()) << child->metaObject()->className();
}

TEST_F(DialogTest, TabOrderIsTemplateOrder)
{
    const int expected[] = {1, 2, 1000, 1001, 1002, 1003, 1005, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014,
                            1015, 1004, 1016, 1017, 1018, 1006, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1028, 1029};
    std::vector<int> order;
    QWidget* w = dialog.Button(kButtonAbort);
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->property("controlId").isValid())
            order.push_back(w->property("controlId").toInt());
        w = w->nextInFocusChain();
    } while (w != dialog.Button(kButtonAbort) && order.size() < 100);
    EXPECT_EQ(order, std::vector<int>(std::begin(expected), std::end(expected)));
}

TEST_F(DialogTest, LaysOutControlsInDialogUnits)
{
    using tessera::ui::BaseUnits;
    const BaseUnits units = tessera::ui::BaseUnitsOf(dialog.font());
    if (units != BaseUnits{6, 13})
        GTEST_SKIP() << "IPAGothic is not the resolved font here";
    // Each coordinate rounded on its own, halves away from zero.
    EXPECT_EQ(dialog.size(), QSize(476, 538));                                       // 317 x 331
    EXPECT_EQ(dialog.Button(kButtonExit)->geometry(), QRect(437, 34, 29, 23));       // 291, 21, 19, 14
    EXPECT_EQ(dialog.List(kListSplit)->geometry(), QRect(294, 67, 134, 284));        // 196, 41, 89, 175
    EXPECT_EQ(dialog.Edit(kEditSource)->geometry(), QRect(17, 41, 384, 20));         // 11, 25, 256, 12
    EXPECT_EQ(dialog.ProgressBar()->geometry(), QRect(437, 60, 29, 466));            // 291, 37, 19, 287
    EXPECT_EQ(dialog.StatusLine()->geometry(), QRect(11, 514, 422, 13));             // 7, 316, 281, 8
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

TEST_F(DialogTest, EnterInASingleLineFieldRunsAbortAndKeepsTheDialogOpen)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.Edit(kEditExtractOffset)->setFocus();
    QTest::keyClick(dialog.Edit(kEditExtractOffset), Qt::Key_Return);
    QTest::keyClick(dialog.Edit(kEditExtractOffset), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.Button(kButtonAbort)->isEnabled());
    EXPECT_TRUE(dialog.Button(kButtonExit)->isEnabled());
}

TEST_F(DialogTest, EnterInTheBoundaryFieldBreaksTheLine)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QWidget* field = dialog.Edit(kEditBoundaries);
    field->setFocus();
    QTest::keyClicks(field, "300");
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClicks(field, "500");
    EXPECT_TRUE(dialog.isVisible());
    // The field reader separates lines with CR LF.
    EXPECT_EQ(dialog.FieldText(kEditBoundaries), "300\r\n500");
}

TEST_F(DialogTest, EnterOnAFocusedButtonPressesIt)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    UseSource(100);
    Type(kEditPieceSize, "50");
    dialog.Button(kButtonFixedSizeAdd)->setFocus();
    QTest::keyClick(dialog.Button(kButtonFixedSizeAdd), Qt::Key_Return);
    EXPECT_EQ(Split(), QStringList({"0 50", "50 100"}));

    // Right after start the focus is on Exit: Enter ends the dialog.
    dialog.Button(kButtonExit)->setFocus();
    QTest::keyClick(dialog.Button(kButtonExit), Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(DialogTest, EscapeAndTheCloseBoxEndTheDialog)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.Edit(kEditPieceSize)->setFocus();
    QTest::keyClick(dialog.Edit(kEditPieceSize), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(DialogTest, FieldReaderGivesUtf8AndStopsAtAZero)
{
    Type(kEditString, "表示");
    EXPECT_EQ(dialog.FieldText(kEditString), "表示");
    dialog.SetFieldText(kEditByteSequence, QString::fromLatin1("0d", 2) + QChar(0) + QStringLiteral("0a"));
    EXPECT_EQ(dialog.FieldText(kEditByteSequence), "0d");
    Type(kEditBoundaries, "1\n\n2");
    EXPECT_EQ(dialog.FieldText(kEditBoundaries), "1\r\n\r\n2");
}

TEST_F(DialogTest, DeleteEntryTakesOnlyTheSelectedLine)
{
    dialog.AppendLines(kListSplit, {"0 1", "1 2", "2 3"});
    Press(kButtonDeleteEntry);  // nothing selected
    EXPECT_EQ(Split(), QStringList({"0 1", "1 2", "2 3"}));

    SelectRow(kListSplit, 1);
    Press(kButtonDeleteEntry);
    EXPECT_EQ(Split(), QStringList({"0 1", "2 3"}));
    // No other line becomes selected in its place.
    EXPECT_TRUE(dialog.List(kListSplit)->selectionModel()->selectedIndexes().isEmpty());
    Press(kButtonDeleteEntry);
    EXPECT_EQ(Split(), QStringList({"0 1", "2 3"}));

    Press(kButtonClearSplitList);
    EXPECT_TRUE(Split().isEmpty());
    Press(kButtonClearSplitList);
    Press(kButtonDeleteEntry);
    EXPECT_TRUE(Split().isEmpty());
}

TEST_F(DialogTest, DeleteAndClearOfTheJoinList)
{
    dialog.AppendLines(kListJoin, {"/a", "/b", "/c"});
    Press(kButtonDeleteJoinItem);
    EXPECT_EQ(Join().size(), 3);
    SelectRow(kListJoin, 2);
    Press(kButtonDeleteJoinItem);
    EXPECT_EQ(Join(), QStringList({"/a", "/b"}));
    Press(kButtonClearJoinList);
    EXPECT_TRUE(Join().isEmpty());
}

TEST_F(DialogTest, AppendingKeepsTheSelectedLine)
{
    dialog.AppendLines(kListSplit, {"0 1", "1 2"});
    SelectRow(kListSplit, 1);
    dialog.AppendLines(kListSplit, {"2 3"});
    Press(kButtonDeleteEntry);
    EXPECT_EQ(Split(), QStringList({"0 1", "2 3"}));
}

TEST_F(DialogTest, ExtractInsertsInTextOrderOtherToolsAppend)
{
    UseSource(100);
    Type(kEditRangeStart, "9");
    Type(kEditRangeEnd, "10");
    Press(kButtonRangeAdd);
    Type(kEditExtractOffset, "10");
    Type(kEditExtractSize, "10");
    Press(kButtonExtractAdd);
    EXPECT_EQ(Split(), QStringList({"10 20", "9 10"}));  // text order, not numbers

    Type(kEditExtractOffset, "0x0A");
    Type(kEditExtractSize, "0x14");
    Press(kButtonExtractAdd);
    Type(kEditExtractOffset, "100");
    Type(kEditExtractSize, "0");
    Press(kButtonExtractAdd);
    EXPECT_EQ(Split(), QStringList({"10 20", "10 30", "100 100", "9 10"}));
    // Both fields keep their text.
    EXPECT_EQ(dialog.FieldText(kEditExtractOffset), "100");

    Type(kEditExtractOffset, "90");
    Type(kEditExtractSize, "11");
    Press(kButtonExtractAdd);
    Type(kEditRangeStart, "10");
    Type(kEditRangeEnd, "20");
    Press(kButtonRangeAdd);
    EXPECT_EQ(Split(), QStringList({"10 20", "10 30", "100 100", "9 10", "10 20"}));
}

TEST_F(DialogTest, RangeMovesTheEndIntoTheStartOnlyWhenAdded)
{
    UseSource(100);
    Type(kEditRangeStart, "10");
    Type(kEditRangeEnd, "0x14");
    Press(kButtonRangeAdd);
    EXPECT_EQ(Split(), QStringList({"10 20"}));
    EXPECT_EQ(dialog.FieldText(kEditRangeStart), "0x14");  // exactly as typed
    EXPECT_EQ(dialog.FieldText(kEditRangeEnd), "");

    Type(kEditRangeEnd, "10");  // start after end: refused, fields kept
    Press(kButtonRangeAdd);
    Type(kEditRangeEnd, "101");
    Press(kButtonRangeAdd);
    EXPECT_EQ(Split(), QStringList({"10 20"}));
    EXPECT_EQ(dialog.FieldText(kEditRangeStart), "0x14");
    EXPECT_EQ(dialog.FieldText(kEditRangeEnd), "101");

    Type(kEditRangeEnd, "100");
    Press(kButtonRangeAdd);
    EXPECT_EQ(Split(), QStringList({"10 20", "20 100"}));
}

TEST_F(DialogTest, SizeToolsAppendTheirPieces)
{
    UseSource(100);
    Type(kEditPieceSize, "30");
    Press(kButtonFixedSizeAdd);
    EXPECT_EQ(Split(), QStringList({"0 30", "30 60", "60 90", "90 100"}));

    Press(kButtonClearSplitList);
    Type(kEditPieceCount, "3");
    Press(kButtonEqualSplitAdd);
    EXPECT_EQ(Split(), QStringList({"0 34", "34 68", "68 100"}));

    Press(kButtonClearSplitList);
    Type(kEditPieceCount, "4294967297");  // 2^32 + 1 narrows to 1
    Press(kButtonEqualSplitAdd);
    Type(kEditPieceCount, "0");
    Press(kButtonEqualSplitAdd);
    Type(kEditPieceSize, "0");
    Press(kButtonFixedSizeAdd);
    EXPECT_EQ(Split(), QStringList({"0 100"}));
}

TEST_F(DialogTest, BoundaryToolAddsAllOrNothing)
{
    UseSource(1000);
    Type(kEditBoundaries, "700\n300\n300 500");
    Press(kButtonBoundariesAdd);
    EXPECT_EQ(Split(), QStringList({"0 300", "300 500", "500 700", "700 1000"}));

    for (const char* refused : {"300 abc", "300 1001", "", "0X12C"}) {
        Type(kEditBoundaries, refused);
        Press(kButtonBoundariesAdd);
        EXPECT_EQ(Split().size(), 4) << refused;
    }
    Type(kEditBoundaries, "100\t200\n\n\n300");
    Press(kButtonBoundariesAdd);
    EXPECT_EQ(Split().mid(4), QStringList({"0 100", "100 200", "200 300", "300 1000"}));
}

TEST_F(DialogTest, SearchToolsCutInFrontOfEveryOccurrence)
{
    const std::string path = dir.file("lines.txt");
    WriteFile(path, "ab\r\ncd\r\nef");
    dialog.SetFieldText(kEditSource, Q(path));
    Type(kEditByteSequence, "0d0A");
    Press(kButtonSearchBytes);
    EXPECT_EQ(Split(), QStringList({"0 2", "2 6", "6 10"}));

    Press(kButtonClearSplitList);
    for (const char* refused : {"0d 0a", "0x0d0a", "0d0", "zz", ""}) {
        Type(kEditByteSequence, refused);
        Press(kButtonSearchBytes);
    }
    EXPECT_TRUE(Split().isEmpty());

    // The string is searched as code page 932 bytes: 表示 is 95 5C 8E A6.
    const std::string sjis = dir.file("sjis.txt");
    WriteFile(sjis, "xx\x95\x5c\x8e\xa6yy\x95\x5c\x8e\xa6");
    dialog.SetFieldText(kEditSource, Q(sjis));
    Type(kEditString, "表示");
    Press(kButtonSearchString);
    EXPECT_EQ(Split(), QStringList({"0 2", "2 8", "8 12"}));

    // No code page 932 form: nothing is searched, not even "?".
    Press(kButtonClearSplitList);
    Type(kEditString, "表\xF0\x9F\x98\x80");
    Press(kButtonSearchString);
    EXPECT_TRUE(Split().isEmpty());
}

TEST_F(DialogTest, ToolsAddNothingWithoutASourceFile)
{
    // A /proc file is a regular file that reports 0 bytes and holds more.
    for (const std::string& source :
         {std::string(), dir.path().string(), dir.file("missing"), std::string("/proc/self/status")}) {
        dialog.SetFieldText(kEditSource, Q(source));
        Type(kEditExtractOffset, "0");
        Type(kEditExtractSize, "0");
        Type(kEditRangeStart, "0");
        Type(kEditRangeEnd, "0");
        Type(kEditPieceSize, "1");
        Type(kEditPieceCount, "1");
        Type(kEditBoundaries, "0");
        Type(kEditByteSequence, "00");
        Type(kEditString, "a");
        for (int b : {kButtonExtractAdd, kButtonRangeAdd, kButtonFixedSizeAdd, kButtonEqualSplitAdd,
                      kButtonBoundariesAdd, kButtonSearchBytes, kButtonSearchString})
            Press(b);
        EXPECT_TRUE(Split().isEmpty()) << source;
        EXPECT_EQ(dialog.FieldText(kEditRangeStart), "0");
    }
}

// A refused tool still adds nothing and says nothing aloud: the field it
// refused is marked, its tooltip says why, and editing the field clears both.
TEST_F(DialogTest, RefusedFieldIsMarkedWithWhyUntilEdited)
{
    const std::string source = UseSource(1000);
    const QString status = StatusText(dialog);
    struct Row {
        int button;
        std::vector<std::pair<int, std::string>> typed;
        int marked;
        const char* why;
    } rows[] = {
        {kButtonExtractAdd, {{kEditExtractOffset, "abc"}, {kEditExtractSize, "10"}}, kEditExtractOffset,
         "「abc」は数値ではありません"},
        {kButtonExtractAdd, {{kEditExtractOffset, "990"}, {kEditExtractSize, "11"}}, kEditExtractSize,
         "ファイルの終わり（1000 バイト）を越えています"},
        {kButtonExtractAdd, {{kEditExtractOffset, "1001"}, {kEditExtractSize, "0"}}, kEditExtractOffset,
         "ファイルの終わり（1000 バイト）を越えています"},
        {kButtonRangeAdd, {{kEditRangeStart, "10"}, {kEditRangeEnd, "5"}}, kEditRangeEnd,
         "終了位置が開始位置より前です"},
        {kButtonRangeAdd, {{kEditRangeStart, "0"}, {kEditRangeEnd, ""}}, kEditRangeEnd, "値が入力されていません"},
        {kButtonFixedSizeAdd, {{kEditPieceSize, "1M"}}, kEditPieceSize, "「1M」は数値ではありません"},
        {kButtonFixedSizeAdd, {{kEditPieceSize, "0"}}, kEditPieceSize, "0 は指定できません"},
        {kButtonEqualSplitAdd, {{kEditPieceCount, "1000001"}}, kEditPieceCount,
         "リストの行数の上限（1000000 行）を越えます"},
        {kButtonEqualSplitAdd, {{kEditPieceCount, "4294967296"}}, kEditPieceCount, "数値が大きすぎます"},
        {kButtonBoundariesAdd, {{kEditBoundaries, "300\n1001"}}, kEditBoundaries,
         "「1001」はファイルの終わり（1000 バイト）を越えています"},
        {kButtonSearchBytes, {{kEditByteSequence, "0d0z"}}, kEditByteSequence, "「z」は16進数の数字ではありません"},
        {kButtonSearchBytes, {{kEditByteSequence, "0d0"}}, kEditByteSequence,
         "16進数の桁数が奇数です（2桁で1バイトです）"},
        {kButtonSearchString, {{kEditString, "表\xF0\x9F\x98\x80"}}, kEditString,
         "「\xF0\x9F\x98\x80」は Shift_JIS で表せない文字です"},
        {kButtonFixedSizeAdd, {{kEditSource, dir.file("missing")}, {kEditPieceSize, "10"}}, kEditSource,
         "ファイルが見つかりません"},
        {kButtonSearchBytes, {{kEditSource, dir.path().string()}, {kEditByteSequence, "00"}}, kEditSource,
         "フォルダーです"},
        {kButtonExtractAdd, {{kEditSource, ""}, {kEditExtractOffset, "0"}, {kEditExtractSize, "0"}}, kEditSource,
         "分割するファイルが指定されていません"},
        {kButtonBoundariesAdd, {{kEditSource, "/proc/self/status"}, {kEditBoundaries, "0"}}, kEditSource,
         "サイズ（0 バイト）より多く読めるファイルです。サイズで分割できません"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        for (const auto& [edit, text] : row.typed)
            dialog.SetFieldText(edit, Q(text));
        Press(row.button);
        EXPECT_TRUE(Split().isEmpty());
        EXPECT_EQ(StatusText(dialog), status);
        for (int edit = 0; edit < kEditCount; ++edit) {
            QWidget* field = dialog.Edit(edit);
            EXPECT_EQ(field->property("refused").toBool(), edit == row.marked) << edit;
            EXPECT_EQ(field->styleSheet().isEmpty(), edit != row.marked) << edit;
        }
        EXPECT_EQ(dialog.Edit(row.marked)->toolTip(), QString::fromUtf8(row.why));

        // Edited: the mark and the tooltip go.
        if (row.marked == kEditSource)
            dialog.SetFieldText(kEditSource, Q(source));
        else
            Type(row.marked, "1");
        EXPECT_FALSE(dialog.Edit(row.marked)->property("refused").toBool());
        EXPECT_TRUE(dialog.Edit(row.marked)->toolTip().isEmpty());
        EXPECT_TRUE(dialog.Edit(row.marked)->styleSheet().isEmpty());
    }

    // A tool that takes the same field later (the source has grown) clears
    // the mark it left.
    Type(kEditExtractOffset, "990");
    Type(kEditExtractSize, "11");
    Press(kButtonExtractAdd);
    ASSERT_TRUE(dialog.Edit(kEditExtractSize)->property("refused").toBool());
    WritePatternFile(source, 2000);
    Press(kButtonExtractAdd);
    EXPECT_EQ(Split(), QStringList({"990 1001"}));
    EXPECT_FALSE(dialog.Edit(kEditExtractSize)->property("refused").toBool());
}

// A search that finds nothing still adds the whole file as one line and says
// nothing aloud; its field is marked as a refused one is, so that line is not
// taken for a cut, until the field is edited or a search finds something.
TEST_F(DialogTest, SearchThatFindsNothingMarksItsField)
{
    const std::string source = UseSource(1000);
    const std::string empty = dir.file("empty.bin");
    WriteFile(empty, "");
    const QString status = StatusText(dialog);
    const char* whole = "見つかりません。ファイル全体（1000 バイト）を 1 行として追加しました";
    struct Row {
        int edit;
        int button;
        const char* typed;
        std::string path;
        QStringList lines;
        const char* why;
    } rows[] = {
        {kEditByteSequence, kButtonSearchBytes, "fffefdfc", source, {"0 1000"}, whole},
        {kEditString, kButtonSearchString, "第一章", source, {"0 1000"}, whole},
        {kEditByteSequence, kButtonSearchBytes, "00", empty, {}, "見つかりません（ファイルが空です）。何も追加していません"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        Press(kButtonClearSplitList);
        dialog.SetFieldText(kEditSource, Q(row.path));
        Type(row.edit, row.typed);
        Press(row.button);
        EXPECT_EQ(Split(), row.lines);
        EXPECT_EQ(StatusText(dialog), status);
        for (int edit = 0; edit < kEditCount; ++edit)
            EXPECT_EQ(dialog.Edit(edit)->property("refused").toBool(), edit == row.edit) << edit;
        EXPECT_FALSE(dialog.Edit(row.edit)->styleSheet().isEmpty());
        EXPECT_EQ(dialog.Edit(row.edit)->toolTip(), QString::fromUtf8(row.why));

        Type(row.edit, "41");
        EXPECT_FALSE(dialog.Edit(row.edit)->property("refused").toBool());
        EXPECT_TRUE(dialog.Edit(row.edit)->toolTip().isEmpty());
        EXPECT_TRUE(dialog.Edit(row.edit)->styleSheet().isEmpty());
    }

    // Found at last: the mark goes without an edit.
    dialog.SetFieldText(kEditSource, Q(source));
    Type(kEditByteSequence, "fffefdfc");
    Press(kButtonSearchBytes);
    ASSERT_TRUE(dialog.Edit(kEditByteSequence)->property("refused").toBool());
    WriteFile(source, std::string("ab\xff\xfe\xfd\xfc", 6));
    Press(kButtonClearSplitList);
    Press(kButtonSearchBytes);
    EXPECT_EQ(Split(), QStringList({"0 2", "2 6"}));
    EXPECT_FALSE(dialog.Edit(kEditByteSequence)->property("refused").toBool());
    EXPECT_TRUE(dialog.Edit(kEditByteSequence)->toolTip().isEmpty());
}

TEST_F(DialogTest, SplitListHoldsAMillionLinesAndNoMore)
{
    UseSource(2'000'000);
    Type(kEditPieceCount, "1000000");
    Press(kButtonEqualSplitAdd);
    ASSERT_EQ(Split().size(), 1'000'000);
    EXPECT_EQ(Split().constFirst(), "0 2");
    EXPECT_EQ(Split().constLast(), "1999998 2000000");

    // Full: every tool refuses, whatever it would add.
    Type(kEditRangeStart, "0");
    Type(kEditRangeEnd, "1");
    Press(kButtonRangeAdd);
    Type(kEditExtractOffset, "0");
    Type(kEditExtractSize, "1");
    Press(kButtonExtractAdd);
    Type(kEditPieceCount, "1");
    Press(kButtonEqualSplitAdd);
    EXPECT_EQ(Split().size(), 1'000'000);
    EXPECT_EQ(dialog.FieldText(kEditRangeStart), "0");

    SelectRow(kListSplit, 0);
    Press(kButtonDeleteEntry);
    Press(kButtonRangeAdd);
    EXPECT_EQ(Split().size(), 1'000'000);
    EXPECT_EQ(Split().constLast(), "0 1");
}

// The name is no markup: shown as rich text, "<h1>BIG" became a heading.
TEST_F(DialogTest, UnreadableSourceShowsTheFileErrorAndAddsNothing)
{
    const std::string path = UseSource(100, "<h1>BIG");
    NFilePSDK writer(path, NFilePSDK::Form::Writing);
    ASSERT_TRUE(writer.IsOpen());
    Type(kEditPieceSize, "10");

    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    WithModal<QMessageBox>([&] { Press(kButtonFixedSizeAdd); },
                           [&](QMessageBox* box) {
                               text = box->text();
                               icon = box->icon();
                               format = box->textFormat();
                               box->accept();
                           });
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(text, Q("A sharing violation occurred while accessing " + path + "."));
    EXPECT_TRUE(Split().isEmpty());

    // Usable afterwards.
    writer.Close();  // the writing opening emptied it
    WritePatternFile(path, 100);
    Press(kButtonFixedSizeAdd);
    EXPECT_EQ(Split().size(), 10);
}

TEST_F(DialogTest, DropsAreRoutedByTheDropPoint)
{
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    const std::string c = dir.file("c");
    for (const std::string& p : {a, b, c})
        WriteFile(p, "x");
    const std::string folder = dir.path().string();
    const std::string missing = dir.file("missing");

    // Into the join list: drop order, repeats kept, folders and missing names skipped.
    EXPECT_TRUE(DropFiles(dialog, CenterOf(dialog.List(kListJoin)), {c, folder, a, missing, b}));
    EXPECT_TRUE(DropFiles(dialog, dialog.List(kListJoin)->geometry().topLeft(), {c}));
    EXPECT_EQ(Join(), QStringList({Q(c), Q(a), Q(b), Q(c)}));

    // Onto the source field: the last regular file wins and the plan goes.
    dialog.AppendLines(kListSplit, {"0 1"});
    EXPECT_TRUE(DropFiles(dialog, CenterOf(dialog.Edit(kEditSource)), {a, b, folder}));
    EXPECT_EQ(dialog.FieldText(kEditSource), b);
    EXPECT_TRUE(Split().isEmpty());

    // A folder alone changes nothing.
    dialog.AppendLines(kListSplit, {"0 1"});
    DropFiles(dialog, CenterOf(dialog.Edit(kEditSource)), {folder});
    EXPECT_EQ(dialog.FieldText(kEditSource), b);
    EXPECT_EQ(Split().size(), 1);

    // Anywhere else: nothing. The right and bottom edges are outside.
    const QRect join = dialog.List(kListJoin)->geometry();
    for (QPoint elsewhere : {CenterOf(dialog.Button(kButtonBrowseSource)), CenterOf(dialog.List(kListSplit)),
                             CenterOf(dialog.Edit(kEditJoinDestination)), QPoint(2, 2),
                             QPoint(join.left() + join.width(), join.center().y()),
                             QPoint(join.center().x(), join.top() + join.height())})
        DropFiles(dialog, elsewhere, {c});
    EXPECT_EQ(Join().size(), 4);
    EXPECT_EQ(dialog.FieldText(kEditSource), b);
    EXPECT_EQ(dialog.FieldText(kEditJoinDestination), "");
}

TEST_F(DialogTest, BrowseSourceTakesTheChosenNameAndEmptiesThePlan)
{
    const std::string path = UseSource(10);
    dialog.AppendLines(kListSplit, {"0 1"});
    WithModal<QFileDialog>([&] { Press(kButtonBrowseSource); }, [](QFileDialog* chooser) { chooser->reject(); });
    EXPECT_EQ(dialog.FieldText(kEditSource), path);
    EXPECT_EQ(Split().size(), 1);

    // The same file again still empties the plan.
    WithModal<QFileDialog>([&] { Press(kButtonBrowseSource); },
                           [&](QFileDialog* chooser) { ChooseFile(chooser, path); });
    EXPECT_EQ(dialog.FieldText(kEditSource), path);
    EXPECT_TRUE(Split().isEmpty());

    // A typed name of a file that does not exist is taken too.
    const std::string missing = dir.file("not-there");
    WithModal<QFileDialog>([&] { Press(kButtonBrowseSource); },
                           [&](QFileDialog* chooser) { ChooseFile(chooser, missing); });
    EXPECT_EQ(dialog.FieldText(kEditSource), missing);
}

TEST_F(DialogTest, BrowseDestinationFillsTheFieldEvenWhenDisabled)
{
    dialog.Edit(kEditJoinDestination)->setEnabled(false);
    dialog.AppendLines(kListJoin, {"/x"});
    const std::string target = dir.file("joined.bin");
    WithModal<QFileDialog>([&] { Press(kButtonBrowseDestination); },
                           [&](QFileDialog* chooser) { ChooseFile(chooser, target); });
    EXPECT_EQ(dialog.FieldText(kEditJoinDestination), target);
    EXPECT_EQ(Join().size(), 1);
}

TEST(ProcessSettingsTest, StartupEmptiesLogTxtInTheProgramFolderAndGoesThere)
{
    const QString folder = QCoreApplication::applicationDirPath();
    const std::string log = (folder + "/log.txt").toStdString();
    WriteFile(log, "old contents");
    QDir::setCurrent(QDir::tempPath());
    {
        CTesseraDlg dialog;
        EXPECT_EQ(QFileInfo(QDir::currentPath()).canonicalFilePath(), QFileInfo(folder).canonicalFilePath());
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(log)));
        EXPECT_EQ(ReadFile(log), "");
    }
    QFile::remove(QString::fromStdString(log));
    CTesseraDlg again;
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(log)));
    EXPECT_EQ(ReadFile(log), "");
}

// Names that are not UTF-8 (Shift_JIS from an archive, a stray byte) are
// carried as their bytes; a name never turns into its look-alike.
TEST_F(DialogTest, DroppedNamesKeepTheirExactBytes)
{
    const std::string sjis = dir.file("\x93\xae\x89\xe6.avi");
    const std::string stray = dir.file("n\xFFx.bin");
    const std::string lookAlike = dir.file("n\xEF\xBF\xBDx.bin");
    WriteFile(sjis, "sjis");
    WriteFile(stray, std::string(10, 's'));
    WriteFile(lookAlike, std::string(20, 'l'));

    EXPECT_TRUE(DropFiles(dialog, CenterOf(dialog.Edit(kEditSource)), {sjis}));
    EXPECT_EQ(dialog.FieldText(kEditSource), sjis);
    EXPECT_TRUE(DropFiles(dialog, CenterOf(dialog.List(kListJoin)), {sjis, stray, lookAlike}));
    ASSERT_EQ(dialog.ListCount(kListJoin), 3);
    EXPECT_EQ(dialog.ListLines(kListJoin, 0, 3), (std::vector<std::string>{sjis, stray, lookAlike}));

    // The size query reads the dropped file, not its look-alike.
    EXPECT_TRUE(DropFiles(dialog, CenterOf(dialog.Edit(kEditSource)), {stray}));
    EXPECT_EQ(dialog.FieldText(kEditSource), stray);
    Type(kEditPieceSize, "100");
    Press(kButtonFixedSizeAdd);
    EXPECT_EQ(Split(), QStringList({"0 10"}));
}

TEST_F(DialogTest, BrowseTakesTheExactNameBehindALossyOneOrRefuses)
{
    const std::string stray = dir.file("n\xFFx.bin");
    WriteFile(stray, "stray");
    // What the file dialog hands back for that name.
    const std::string shown = dir.file("n\xEF\xBF\xBDx.bin");

    WithModal<QFileDialog>([&] { Press(kButtonBrowseSource); },
                           [&](QFileDialog* chooser) { ChooseFile(chooser, shown); });
    EXPECT_EQ(dialog.FieldText(kEditSource), stray);

    // With the look-alike beside it, neither can be told: refused aloud.
    WriteFile(shown, "look-alike");
    dialog.SetFieldText(kEditSource, QString());
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    WithModal<QMessageBox>(
        [&] {
            WithModal<QFileDialog>([&] { Press(kButtonBrowseSource); },
                                   [&](QFileDialog* chooser) { ChooseFile(chooser, shown); });
        },
        [&](QMessageBox* box) {
            text = box->text();
            format = box->textFormat();
            box->accept();
        });
    EXPECT_TRUE(text.endsWith(QString::fromUtf8("n\xEF\xBF\xBDx.bin"))) << text.toStdString();
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(dialog.FieldText(kEditSource), "");
}

// A text beyond the old 32,767-character limit of a line edit is searched
// whole: cut, it would also match its own beginning elsewhere in the file.
TEST_F(DialogTest, PastedTextIsSearchedWhole)
{
    std::mt19937 random(13);
    std::string text(40'000, ' ');
    for (char& c : text)
        c = static_cast<char>('a' + random() % 26);
    const std::string head = text.substr(0, 32'767);
    const std::string path = dir.file("text.bin");
    WriteFile(path, "xx" + head + "yy" + text + "zz");
    dialog.SetFieldText(kEditSource, Q(path));
    const auto second = std::to_string(2 + head.size() + 2);
    const auto size = std::to_string(2 + head.size() + 2 + text.size() + 2);

    Paste(kEditString, Q(text));
    EXPECT_EQ(dialog.FieldText(kEditString).size(), text.size());
    Press(kButtonSearchString);
    EXPECT_EQ(Split(), QStringList({Q("0 " + second), Q(second + " " + size)}));

    // 20,000 bytes in hex: cut, the text would have an odd length.
    Press(kButtonClearSplitList);
    const std::string bytes = text.substr(0, 20'000);
    const std::string other = dir.file("bytes.bin");
    WriteFile(other, "ab" + bytes + "cd");
    dialog.SetFieldText(kEditSource, Q(other));
    const QByteArray hex = QByteArray::fromStdString(bytes).toHex();
    Paste(kEditByteSequence, QString::fromLatin1(hex));
    EXPECT_EQ(dialog.FieldText(kEditByteSequence).size(), 40'000u);
    Press(kButtonSearchBytes);
    EXPECT_EQ(Split(), QStringList({"0 2", "2 20004"}));
}

// Only ASCII white space separates the boundary field's numbers: a no-break
// space or a line separator inside "300?500" makes one token, no number.
TEST_F(DialogTest, BoundaryFieldKeepsNoBreakSpaceAndLineSeparator)
{
    UseSource(1000);
    for (const char16_t separator : {u'\u00A0', u'\u2028'}) {
        Type(kEditBoundaries, "");
        Commit(kEditBoundaries, QStringLiteral("300") + QChar(separator) + QStringLiteral("500"));
        EXPECT_EQ(dialog.FieldText(kEditBoundaries), TextToPath(QStringLiteral("300") + QChar(separator) + "500"));
        Press(kButtonBoundariesAdd);
        EXPECT_TRUE(Split().isEmpty()) << int(separator);
    }
    Type(kEditBoundaries, "");
    Commit(kEditBoundaries, QStringLiteral("300 500"));
    Press(kButtonBoundariesAdd);
    EXPECT_EQ(Split(), QStringList({"0 300", "300 500", "500 1000"}));
}

}  // namespace

namespace {

// A line wider than its list is read whole by scrolling sideways; the list
// keeps its place and size.
TEST_F(DialogTest, ListsScrollSidewaysToTheEndOfTheWidestLine)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    for (const int list : {kListSplit, kListJoin}) {
        QListView* view = dialog.List(list);
        const QRect placed = view->geometry();
        const QString wide = list == kListSplit ? QStringLiteral("9223372036854775000 9223372036854775807")
                                             : QStringLiteral("/home/user/") + QString(200, 'x');
        dialog.AppendLines(list, {"0 1", wide, "1 2"});
        QApplication::processEvents();
        const int textWidth = view->fontMetrics().horizontalAdvance(wide);
        ASSERT_GT(textWidth, view->viewport()->width()) << list;
        QScrollBar* bar = view->horizontalScrollBar();
        EXPECT_TRUE(bar->isVisible()) << list;
        // Scrolled to its end, the line's last character is inside the view.
        EXPECT_GE(bar->maximum() + view->viewport()->width(), textWidth) << list;
        EXPECT_EQ(view->geometry(), placed) << list;
        // Once the wide line is gone, there is nothing to scroll.
        dialog.List(list)->selectionModel()->setCurrentIndex(view->model()->index(1, 0),
                                                               QItemSelectionModel::ClearAndSelect);
        view->model()->removeRows(1, 1);
        QApplication::processEvents();
        EXPECT_EQ(bar->maximum(), 0) << list;
    }
}

// Qt's own dialogs speak the window's language.
TEST(QtLanguageTest, FileDialogButtonsReadInJapanese)
{
    if (!tessera::ui::LoadQtJapanese())
        GTEST_SKIP() << "Qt's Japanese translation (qtbase_ja, Debian qt6-translations-l10n) is not installed";
    QFileDialog chooser;
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    auto* buttons = chooser.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(buttons->button(QDialogButtonBox::Save)->text().startsWith(QStringLiteral("保存")))
        << buttons->button(QDialogButtonBox::Save)->text().toStdString();
    // The window's own texts are not Qt's to translate: they stay as they are.
    CTesseraDlg dialog;
    EXPECT_EQ(dialog.Button(kButtonExit)->text(), QStringLiteral("終了"));
}

}  // namespace
