#include "fileio/FileQuery.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"

using tessera::FileError;
using tessera::FileSize;
using tessera::IsRegularFile;
using tessera::NameIsFree;
using tessera::SameFile;
using tessera::test::TempDir;
using tessera::test::WriteFile;

namespace {

class FileQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(file, "12345");
        WriteFile(empty, "");
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
        ASSERT_EQ(::symlink(dir.file("gone").c_str(), dangling.c_str()), 0);
        ASSERT_EQ(::symlink(folder.c_str(), folderLink.c_str()), 0);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    }

    TempDir dir;
    std::string file = dir.file("f.bin");
    std::string empty = dir.file("empty.bin");
    std::string folder = dir.file("sub");
    std::string link = dir.file("link");
    std::string dangling = dir.file("dangling");
    std::string folderLink = dir.file("sublink");
    std::string missing = dir.file("missing");
    std::string fifo = dir.file("fifo");
    std::string longName = dir.file(std::string(300, 'n'));
};

TEST_F(FileQueryTest, RegularFileSizeAndFreeNameTable)
{
    struct Row {
        std::string path;
        bool regular;
        std::int64_t size;
        bool free;
    } rows[] = {
        {file, true, 5, false},
        {empty, true, 0, false},
        {link, true, 5, false},
        {folder, false, -1, false},
        {folderLink, false, -1, false},
        {dangling, false, -1, false},  // the name is taken by the link
        {fifo, false, -1, false},      // a pipe, a device: never a file to cut or join
        {"/dev/zero", false, -1, false},
        {missing, false, -1, true},
        {longName, false, -1, false},  // too long to look up is never free
        {file + "/x", false, -1, false},
        {"", false, -1, true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(IsRegularFile(r.path), r.regular) << r.path;
        EXPECT_EQ(FileSize(r.path), r.size) << r.path;
        EXPECT_EQ(NameIsFree(r.path), r.free) << r.path;
    }
}

TEST_F(FileQueryTest, FileThatReadsPastItsSizeHasNoSize)
{
    // /proc files are regular files that report a size of 0 and yet hold text.
    const std::string proc = "/proc/self/status";
    struct stat st;
    if (::stat(proc.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0)
        GTEST_SKIP() << proc << " is not a zero-sized regular file here";
    tessera::Unsized why = tessera::Unsized::None;
    EXPECT_EQ(FileSize(proc, &why), -1);
    EXPECT_EQ(why, tessera::Unsized::MoreThanSize);

    EXPECT_EQ(FileSize(file, &why), 5);
    EXPECT_EQ(why, tessera::Unsized::None);
    EXPECT_EQ(FileSize(empty, &why), 0);
    EXPECT_EQ(why, tessera::Unsized::None);
    EXPECT_EQ(FileSize(fifo, &why), -1);
    EXPECT_EQ(why, tessera::Unsized::NotRegular);
}

TEST_F(FileQueryTest, SameFileGoesByDeviceAndInode)
{
    EXPECT_TRUE(SameFile(file, file));
    EXPECT_TRUE(SameFile(file, link));
    EXPECT_TRUE(SameFile(file, dir.file("sub/../f.bin")));
    EXPECT_TRUE(SameFile(file, dir.file("./f.bin")));
    const std::string hard = dir.file("hard");
    ASSERT_EQ(::link(file.c_str(), hard.c_str()), 0);
    EXPECT_TRUE(SameFile(hard, file));
    EXPECT_FALSE(SameFile(file, empty));
    EXPECT_FALSE(SameFile(missing, missing));
    EXPECT_FALSE(SameFile(file, dangling));
}

TEST_F(FileQueryTest, FileHeldForWritingIsASharingViolation)
{
    NFilePSDK writer(file, NFilePSDK::Form::Writing);
    ASSERT_TRUE(writer.IsOpen());
    try {
        (void)FileSize(file);
        FAIL() << "no FileError";
    } catch (const FileError& e) {
        EXPECT_EQ(e.cause(), FileError::Cause::SharingViolation);
        EXPECT_EQ(e.path(), file);
        EXPECT_EQ(std::string(e.what()), "A sharing violation occurred while accessing " + file + ".");
    }
    // Readers do not stand in the way.
    writer.Close();
    NFilePSDK reader(file, NFilePSDK::Form::Reading);
    EXPECT_EQ(FileSize(file), 0);  // the writer emptied it
}

TEST_F(FileQueryTest, UnreadableFileIsAccessDenied)
{
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    const std::string expected = "Access to " + file + " was denied.";
    auto denied = [&] {
        try {
            (void)FileSize(file);
        } catch (const FileError& e) {
            return e.cause() == FileError::Cause::AccessDenied && e.what() == expected;
        }
        return false;
    };
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(file.c_str(), 0), 0);
        EXPECT_TRUE(denied());
        return;
    }
    // Permission bits do not bind root: ask from a child that became nobody.
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(2);
            ::_exit(denied() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FileError, MessagesNameThePath)
{
    struct Row {
        int err;
        FileError::Cause cause;
        const char* text;
    } rows[] = {
        {EACCES, FileError::Cause::AccessDenied, "Access to /p/q was denied."},
        {EWOULDBLOCK, FileError::Cause::SharingViolation, "A sharing violation occurred while accessing /p/q."},
        {ENOENT, FileError::Cause::FileNotFound, "/p/q was not found."},
        {ENAMETOOLONG, FileError::Cause::BadPath, "/p/q contains an incorrect path."},
        {EMFILE, FileError::Cause::TooManyOpenFiles, "Could not open /p/q because there are too many open files."},
        {EIO, FileError::Cause::HardIO, "A hardware I/O error was reported while accessing /p/q."},
        {ENOSPC, FileError::Cause::DiskFull, "Disk full while accessing /p/q."},
        {EXDEV, FileError::Cause::Generic, "An unknown error occurred while accessing /p/q."},
    };
    for (const auto& r : rows) {
        FileError e(FileError::CauseOf(r.err), "/p/q", r.err);
        EXPECT_EQ(e.cause(), r.cause) << r.err;
        EXPECT_EQ(std::string(e.what()), r.text) << r.err;
        EXPECT_EQ(e.osError(), r.err);
    }
}

}  // namespace
