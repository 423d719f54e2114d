#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "fileio/FileSystem.h"
#include "fileio/Folder.h"
#include "fileio/StagedFile.h"
#include "support/TempDir.h"

// Names resolved beneath a folder held open: inside it, and never through a
// symbolic link, for opening, looking up, renaming, removing and staging.
namespace tessera {
namespace {

class Beneath : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir.file("set/sub"));
        std::filesystem::create_directories(dir.file("outside"));
        test::WriteFile(dir.file("set/sub/part"), "part");
        test::WriteFile(dir.file("outside/file"), "outside");
        std::filesystem::create_directory_symlink(dir.file("outside"), dir.file("set/away"));
        std::filesystem::create_symlink(dir.file("outside/file"), dir.file("set/link"));
    }
    test::TempDir dir;
};

TEST_F(Beneath, NamesThroughALinkOrOutOfTheFolderAreRefused)
{
    const Folder set(dir.file("set"));
    ASSERT_TRUE(set.IsOpen());
    const FileSystem& files = RealFiles();
    struct Case {
        const char* name;
        int error;
    };
    const Case cases[] = {
        {"sub/part", 0},        {"away/file", ELOOP}, {"link", ELOOP},     {"../outside/file", EXDEV},
        {"/etc/passwd", EXDEV}, {"sub/./part", EXDEV}, {"sub//part", EXDEV}, {"sub/none", ENOENT},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<NFile> file = files.OpenBeneath(set, c.name, NFilePSDK::Form::Reading);
        EXPECT_EQ(file->IsOpen() ? 0 : file->LastError(), c.error) << c.name;
    }
    EXPECT_EQ(files.StatusBeneath(set, "link").type, static_cast<std::uint32_t>(S_IFLNK));
    EXPECT_EQ(files.StatusBeneath(set, "away/file").error, ELOOP);
    EXPECT_EQ(files.RenameBeneath(set, "sub/part", "away/moved", false), ELOOP);
    EXPECT_EQ(files.RemoveBeneath(set, "away/file"), ELOOP);
    const std::unique_ptr<NFile> created = files.OpenBeneath(set, "away/new", NFilePSDK::Form::CreateNew);
    EXPECT_FALSE(created->IsOpen());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("outside")), {}), 1);
    EXPECT_EQ(test::ReadFile(dir.file("outside/file")), "outside");
}

TEST_F(Beneath, AStagedFileIsCreatedAndPutInPlaceBesideItsName)
{
    const Folder set(dir.file("set"));
    {
        StagedFile staged;
        const std::unique_ptr<NFile> file = staged.Create(set, "sub/part");
        ASSERT_TRUE(file->IsOpen());
        EXPECT_TRUE(staged.TemporaryName().starts_with("sub/.part.tessera-"));
        EXPECT_EQ(staged.TemporaryPath(), dir.file("set/" + staged.TemporaryName()));
        ASSERT_EQ(file->Write("new", 3), 3u);
        file->Close();
        EXPECT_EQ(staged.Commit(false), EEXIST);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("set/sub")), {}), 1);
    StagedFile staged;
    const std::unique_ptr<NFile> file = staged.Create(set, "sub/part");
    ASSERT_EQ(file->Write("new", 3), 3u);
    file->Close();
    EXPECT_EQ(staged.Commit(true), 0);
    EXPECT_EQ(test::ReadFile(dir.file("set/sub/part")), "new");
    EXPECT_FALSE(StagedFile().Create(set, "away/part")->IsOpen());
}

}  // namespace
}  // namespace tessera
