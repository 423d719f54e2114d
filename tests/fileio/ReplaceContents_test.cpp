#include "fileio/ReplaceContents.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDir.h"

using tessera::ReplaceContents;
using tessera::ReplaceResult;
using tessera::test::ReadFile;
using tessera::test::TempDir;
using tessera::test::WriteFile;
using Outcome = ReplaceResult::Outcome;

namespace {

class ReplaceContentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(source, "source bytes");
        WriteFile(other, "other bytes");
        ASSERT_EQ(::link(source.c_str(), hardLink.c_str()), 0);
        ASSERT_EQ(::symlink(source.c_str(), softLink.c_str()), 0);
        ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    }

    TempDir dir;
    std::string source = dir.file("s.bin");
    std::string other = dir.file("o.bin");
    std::string hardLink = dir.file("hard");
    std::string softLink = dir.file("soft");
};

TEST_F(ReplaceContentsTest, NeverWritesOverAKeptFileWhateverTheName)
{
    const std::vector<std::string> keep = {other, source};
    for (const std::string& path : {source, hardLink, softLink, dir.file("./s.bin"), dir.file("sub/../s.bin")}) {
        const ReplaceResult result = ReplaceContents(path, "0 1\n", keep);
        EXPECT_EQ(result.outcome, Outcome::Kept) << path;
        EXPECT_EQ(result.keptIndex, 1u) << path;
    }
    // A kept name that is a link keeps the file it reaches.
    for (const std::string& path : {source, hardLink, softLink}) {
        const ReplaceResult result = ReplaceContents(path, "0 1\n", {other, softLink});
        EXPECT_EQ(result.outcome, Outcome::Kept) << path;
        EXPECT_EQ(result.keptIndex, 1u) << path;
    }
    EXPECT_EQ(ReadFile(source), "source bytes");
}

TEST_F(ReplaceContentsTest, WritesANewOrAnOtherFileWhole)
{
    const std::string fresh = dir.file("new.txt");
    EXPECT_EQ(ReplaceContents(fresh, "0 1\n", {source}).outcome, Outcome::Written);
    EXPECT_EQ(ReadFile(fresh), "0 1\n");
    // A longer file is emptied first: nothing of the old text stays behind.
    EXPECT_EQ(ReplaceContents(other, "x\n", {source}).outcome, Outcome::Written);
    EXPECT_EQ(ReadFile(other), "x\n");
}

TEST_F(ReplaceContentsTest, RefusesAFileAnotherOpeningHolds)
{
    // A job reading a file holds a shared lock, a job writing one an
    // exclusive lock: both keep the file as it is.
    for (const int lock : {LOCK_SH, LOCK_EX}) {
        const int fd = ::open(other.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, lock | LOCK_NB), 0);
        EXPECT_EQ(ReplaceContents(other, "0 1\n", {}).outcome, Outcome::InUse);
        ::close(fd);
        EXPECT_EQ(ReadFile(other), "other bytes");
    }
}

TEST_F(ReplaceContentsTest, RefusesAFolderAndSaysWhyItFailed)
{
    EXPECT_EQ(ReplaceContents(dir.path().string(), "0 1\n", {}).outcome, Outcome::NotRegular);
    const ReplaceResult missing = ReplaceContents(dir.file("no/such/folder"), "0 1\n", {});
    EXPECT_EQ(missing.outcome, Outcome::Failed);
    EXPECT_EQ(missing.error, ENOENT);
}

}  // namespace
