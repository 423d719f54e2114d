// The folder each browse button's file dialog opens in.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QSettings>

#include <filesystem>

#include "DialogTestSupport.h"
#include "support/TempDir.h"

using namespace tessera::test;

namespace {

class StartFolderTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
    void TearDown() override { QSettings().clear(); }

    // The folder the file dialog of button shows when it opens; the dialog is
    // then cancelled.
    QString OpensIn(int button)
    {
        QString folder;
        WithModal<QFileDialog>([&] { dialog.Button(button)->click(); },
                               [&](QFileDialog* chooser) {
                                   folder = chooser->directory().absolutePath();
                                   chooser->reject();
                               });
        return folder;
    }

    TempDir dir;
    CTesseraDlg dialog;
};

TEST_F(StartFolderTest, TheFolderOfThePathInTheField)
{
    const std::string sub = dir.file("sub");
    std::filesystem::create_directory(sub);
    dialog.SetFieldText(kEditSource, Q(sub + "/movie.avi"));  // the file itself need not exist
    dialog.SetFieldText(kEditJoinDestination, Q(dir.file("joined.bin")));
    EXPECT_EQ(OpensIn(kButtonBrowseSource), Q(sub));
    EXPECT_EQ(OpensIn(kButtonBrowseDestination), Q(dir.path().string()));
}

TEST_F(StartFolderTest, ElseTheFolderLastUsedByAnyOfTheFileDialogs)
{
    const std::string used = dir.file("used");
    std::filesystem::create_directory(used);
    WithModal<QFileDialog>([&] { dialog.Button(kButtonBrowseDestination)->click(); },
                           [&](QFileDialog* chooser) { ChooseFile(chooser, used + "/out.bin"); });
    ASSERT_EQ(dialog.FieldText(kEditJoinDestination), used + "/out.bin");

    EXPECT_EQ(OpensIn(kButtonBrowseSource), Q(used));
    // A field whose folder does not exist falls back the same way.
    dialog.SetFieldText(kEditJoinDestination, Q(dir.file("nowhere/out.bin")));
    EXPECT_EQ(OpensIn(kButtonBrowseDestination), Q(used));
    // So does a new window: the folder is kept in the settings.
    CTesseraDlg later;
    QString folder;
    WithModal<QFileDialog>([&] { later.Button(kButtonBrowseSource)->click(); },
                           [&](QFileDialog* chooser) {
                               folder = chooser->directory().absolutePath();
                               chooser->reject();
                           });
    EXPECT_EQ(folder, Q(used));
}

// The program's folder is the current directory, where a file dialog would
// open by default.
TEST_F(StartFolderTest, ElseTheHomeFolderNeverTheProgramFolder)
{
    ASSERT_NE(QDir::homePath(), QDir::currentPath()) << "the test needs a home folder apart from its own";
    EXPECT_EQ(OpensIn(kButtonBrowseSource), QDir::homePath());
    // A relative name in the field says nothing about a folder.
    dialog.SetFieldText(kEditJoinDestination, "out.bin");
    EXPECT_EQ(OpensIn(kButtonBrowseDestination), QDir::homePath());

    // A remembered folder that has since gone is passed over.
    {
        TempDir gone;
        QSettings().setValue("FileDialogs/LastFolder", Q(gone.path().string()));
    }
    EXPECT_EQ(OpensIn(kButtonBrowseSource), QDir::homePath());
}

}  // namespace
