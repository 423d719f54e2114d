// The split list's 分割先フォルダ…: the parts, and the checksum file, go into
// a chosen folder until it is chosen again. Real dialog, real worker, one
// block a part.
#include <gtest/gtest.h>

#include <QAction>
#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "WindowTest.h"

using namespace tessera::test;

namespace {

class WindowPartsFolderTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        std::filesystem::create_directory(dir.file("src"));
        WritePatternFile(source, 500);
    }

    QAction* FolderItem(CTesseraDlg& window)
    {
        return window.findChild<QAction*>(QStringLiteral("actionSplitFolder"));
    }
    void ChooseFolder(const std::string& folder)
    {
        WithModal<QFileDialog>([&] { FolderItem(dialog)->trigger(); },
                               [&](QFileDialog* chooser) {
                                   EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
                                   ChooseFile(chooser, folder);
                               });
    }
    void Split(bool checksums)
    {
        QSettings().setValue("Split/WriteChecksums", checksums);
        dialog.SetFieldText(kEditSource, Q(source));
        dialog.AppendLines(kListSplit, {"0 400", "400 500"});
        dialog.Button(kButtonStartSplit)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
    }

    const std::string source = dir.file("src/s");
};

TEST_F(WindowPartsFolderTest, PartsAndChecksumFileGoIntoTheChosenFolderUntilItIsChosenAgain)
{
    const std::string folder = dir.file("out");
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(FolderItem(dialog)->isChecked());
    ChooseFolder(folder);
    EXPECT_TRUE(FolderItem(dialog)->isChecked());
    EXPECT_EQ(FolderItem(dialog)->toolTip(), Q(folder));

    Split(true);
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(folder + "/s.000"), PatternBytes(0, 400));
    EXPECT_EQ(ReadFile(folder + "/s.001"), PatternBytes(400, 100));
    const std::string manifest = ReadFile(folder + "/s.sha256");
    EXPECT_NE(manifest.find("  s.001\n"), std::string::npos) << manifest;
    EXPECT_FALSE(std::filesystem::exists(source + ".000"));
    EXPECT_FALSE(std::filesystem::exists(source + ".sha256"));

    // Chosen again, it is cleared without a question: beside the source once
    // more.
    bool asked = false;
    WithModal<QWidget>([&] { FolderItem(dialog)->trigger(); },
                       [&](QWidget* window) {
                           asked = true;
                           window->close();
                       });
    EXPECT_FALSE(asked);
    EXPECT_FALSE(FolderItem(dialog)->isChecked());
    dialog.OnClearSplitList();
    Split(false);
    EXPECT_EQ(ReadFile(source + ".000"), PatternBytes(0, 400));
    EXPECT_FALSE(std::filesystem::exists(folder + "/s.002"));

    // Kept for this window only: the next splits beside the source.
    ChooseFolder(folder);
    CTesseraDlg next;
    EXPECT_FALSE(FolderItem(next)->isChecked());
}

TEST_F(WindowPartsFolderTest, AFolderThatCannotBeWrittenRefusesTheSplit)
{
    const std::string readOnly = dir.file("ro");
    std::filesystem::create_directory(readOnly);
    ::chmod(readOnly.c_str(), 0555);
    struct Case {
        std::string folder;
        bool checksums;
        std::string refused;  // the name the status line gives
    };
    // /proc takes no new file, whoever asks.
    const Case cases[] = {
        {readOnly, false, readOnly + "/s.000"},
        {"/proc", false, "/proc/s.000"},
        {"/proc", true, "/proc/s.sha256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        if (c.folder == readOnly && ::geteuid() == 0) {
            // The superuser writes into a folder without write permission.
            continue;
        }
        ChooseFolder(c.folder);
        ASSERT_TRUE(FolderItem(dialog)->isChecked());
        dialog.OnClearSplitList();
        Split(c.checksums);
        EXPECT_EQ(StatusText(dialog), Q("ファイルの作成に失敗 : " + c.refused));
        EXPECT_TRUE(std::filesystem::is_empty(readOnly));
        EXPECT_FALSE(std::filesystem::exists(source + ".000"));
        EXPECT_TRUE(dialog.Button(kButtonStartSplit)->isEnabled());
        FolderItem(dialog)->trigger();  // cleared
    }
    ::chmod(readOnly.c_str(), 0755);
}

}  // namespace
