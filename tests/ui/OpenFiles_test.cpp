// Files named on the command line, through the argument reader into the real
// dialog.
#include <gtest/gtest.h>

#include <QListView>

#include "DialogTestSupport.h"
#include "app/Arguments.h"
#include "support/TempDir.h"

using namespace tessera::test;

namespace {

class OpenFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"a", "b", "c"})
            WriteFile(dir.file(name), "x");
        cwd = dir.path().string();
    }

    // As the program does at start: the arguments read against the folder it
    // was started in, then handed to the dialog.
    void Start(const std::vector<std::string>& args)
    {
        const tessera::ParsedArguments parsed = tessera::ParseArguments(args, cwd);
        ASSERT_FALSE(parsed.exitCode) << parsed.message;
        dialog.OpenFiles(parsed.files.split, parsed.files.join);
    }
    QString Status() const { return StatusText(dialog); }
    QStringList Join() const { return dialog.ListLines(kListJoin); }

    TempDir dir;
    std::string cwd;
    CTesseraDlg dialog;
};

TEST_F(OpenFilesTest, OneFileBecomesTheSource)
{
    dialog.AppendLines(kListSplit, {"0 1"});
    Start({"a"});
    EXPECT_EQ(dialog.FieldText(kEditSource), dir.file("a"));
    EXPECT_TRUE(dialog.ListLines(kListSplit).isEmpty());
    EXPECT_TRUE(Join().isEmpty());
    EXPECT_EQ(Status(), "スタティック");  // nothing was left out
}

TEST_F(OpenFilesTest, SeveralFilesAreListedForJoiningInTheirOrder)
{
    Start({"c", "a", dir.file("b"), "./a"});
    EXPECT_EQ(Join(), QStringList({Q(dir.file("c")), Q(dir.file("a")), Q(dir.file("b")), Q(dir.file("a"))}));
    EXPECT_EQ(dialog.FieldText(kEditSource), "");
    EXPECT_EQ(Status(), "スタティック");
}

TEST_F(OpenFilesTest, WhatIsNoRegularFileIsLeftOutAndNamed)
{
    const std::string folder = dir.file("folder");
    std::filesystem::create_directory(folder);
    Start({"a", "folder", "missing", "b"});
    EXPECT_EQ(Join(), QStringList({Q(dir.file("a")), Q(dir.file("b"))}));
    EXPECT_TRUE(Status().contains(Q(folder))) << Status().toStdString();
    EXPECT_TRUE(Status().contains(Q(dir.file("missing")))) << Status().toStdString();
    EXPECT_FALSE(Status().contains(Q(dir.file("a")) + "」"));

    // A missing source leaves the field and the plan as they were.
    dialog.SetFieldText(kEditSource, Q(dir.file("c")));
    dialog.AppendLines(kListSplit, {"0 1"});
    Start({"--split", "gone"});
    EXPECT_EQ(dialog.FieldText(kEditSource), dir.file("c"));
    EXPECT_EQ(dialog.ListLines(kListSplit).size(), 1);
    EXPECT_TRUE(Status().contains(Q(dir.file("gone"))));
}

TEST_F(OpenFilesTest, SplitAndJoinTogether)
{
    Start({"--join", "b", "c", "--split", "a"});
    EXPECT_EQ(dialog.FieldText(kEditSource), dir.file("a"));
    EXPECT_EQ(Join(), QStringList({Q(dir.file("b")), Q(dir.file("c"))}));
}

// A relative name is left out (the program's folder is current by now); a
// name whose bytes are no UTF-8 is carried exactly, never swapped for another.
TEST_F(OpenFilesTest, RelativeNamesAreLeftOutAndOtherBytesKept)
{
    const std::string latin1 = dir.file("caf\xe9");
    WriteFile(latin1, "x");
    dialog.OpenFiles({"a"}, {latin1, dir.file("b")});
    EXPECT_EQ(dialog.FieldText(kEditSource), "");
    EXPECT_EQ(dialog.ListLines(kListJoin, 0, 2), (std::vector<std::string>{latin1, dir.file("b")}));
    EXPECT_TRUE(Status().startsWith("ファイルとして開けないため除外")) << Status().toStdString();
    EXPECT_TRUE(Status().contains("「a」"));
}

}  // namespace
