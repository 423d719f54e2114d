#include "fileio/ProcessSettings.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDir.h"

using tessera::ApplyProcessSettings;
using tessera::test::ReadFile;
using tessera::test::TempDir;
using tessera::test::WriteFile;

namespace {

mode_t TypeOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// Start-up creates or empties the log file, and only a regular file: a link
// there is neither followed nor emptied, and a pipe is left as it is without
// waiting for a reader (a hang here ends in the test's timeout).
TEST(ProcessSettings, LogFileIsCreatedOrEmptiedOnlyWhenItIsARegularFile)
{
    TempDir dir;
    const std::string log = dir.file("log.txt");

    ApplyProcessSettings(log);
    EXPECT_EQ(TypeOf(log), S_IFREG);
    WriteFile(log, "old contents");
    ApplyProcessSettings(log);
    EXPECT_EQ(ReadFile(log), "");

    // A link to a file elsewhere, and one to a name that does not exist yet.
    const std::string target = dir.file("elsewhere");
    WriteFile(target, "someone's data");
    ASSERT_EQ(::unlink(log.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), log.c_str()), 0);
    ApplyProcessSettings(log);
    EXPECT_EQ(ReadFile(target), "someone's data");
    EXPECT_EQ(TypeOf(log), S_IFLNK);
    const std::string dangling = dir.file("not-yet");
    ASSERT_EQ(::unlink(log.c_str()), 0);
    ASSERT_EQ(::symlink(dangling.c_str(), log.c_str()), 0);
    ApplyProcessSettings(log);
    EXPECT_EQ(TypeOf(dangling), 0u);

    // A pipe, without a reader and with one; the reader finds nothing.
    ASSERT_EQ(::unlink(log.c_str()), 0);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    ApplyProcessSettings(log);
    const int reader = ::open(log.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ApplyProcessSettings(log);
    char byte;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
    EXPECT_EQ(TypeOf(log), S_IFIFO);

    // A regular file again is emptied again.
    ASSERT_EQ(::unlink(log.c_str()), 0);
    WriteFile(log, "x");
    ApplyProcessSettings(log);
    EXPECT_EQ(ReadFile(log), "");
}

}  // namespace
