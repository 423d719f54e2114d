#include "fileio/NFileStdio.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"

using tessera::test::PatternBytes;
using tessera::test::ReadFile;
using tessera::test::TempDir;
using tessera::test::WriteFile;
using tessera::test::WritePatternFile;

namespace {

TEST(NFileStdio, ReadsSeeksAndStopsAtEnd)
{
    TempDir dir;
    const std::string path = dir.file("a.bin");
    WritePatternFile(path, 10000);
    NFileStdio f(path, "rbS");
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(f.GetSize(), 10000);
    std::string buf(20000, '\0');
    EXPECT_EQ(f.Read(buf.data(), 20000), 10000u);
    EXPECT_EQ(buf.substr(0, 10000), PatternBytes(0, 10000));
    EXPECT_EQ(f.Read(buf.data(), 1), 0u);  // end of file

    EXPECT_TRUE(f.Seek(0, 0));  // back to the start
    EXPECT_EQ(f.Read(buf.data(), 5), 5u);
    EXPECT_EQ(buf.substr(0, 5), PatternBytes(0, 5));
    EXPECT_TRUE(f.Seek(0, 1));  // stays put
    EXPECT_EQ(f.Read(buf.data(), 5), 5u);
    EXPECT_EQ(buf.substr(0, 5), PatternBytes(5, 5));
    EXPECT_TRUE(f.Seek(-10, 2));
    EXPECT_EQ(f.Read(buf.data(), 100), 10u);
    EXPECT_EQ(buf.substr(0, 10), PatternBytes(9990, 10));
    EXPECT_TRUE(f.Seek(-20, 1));
    EXPECT_EQ(f.Read(buf.data(), 3), 3u);
    EXPECT_EQ(buf.substr(0, 3), PatternBytes(9980, 3));
    EXPECT_FALSE(f.Seek(0, 3));
}

// A negative distance larger than one stride, from near the start: the first
// stride fails and the next must not carry on from where it left off.
TEST(NFileStdio, SeekBeforeTheStartFailsAndStaysPut)
{
    TempDir dir;
    const std::string path = dir.file("a.bin");
    WritePatternFile(path, 1000);
    NFileStdio f(path, "rbS");
    ASSERT_TRUE(f.IsOpen());
    std::string buf(10, '\0');
    const struct {
        std::int64_t offset;
        int origin;
    } cases[] = {
        {-(std::int64_t{1} << 31) - 50, 1},
        {-101, 1},
        {-1, 0},
        {-1001, 2},
        {INT64_MIN, 1},
        {INT64_MIN, 2},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(f.Seek(100, 0));
        EXPECT_FALSE(f.Seek(c.offset, c.origin)) << c.offset << " from " << c.origin;
        ASSERT_EQ(f.Read(buf.data(), 1), 1u);
        EXPECT_EQ(buf.substr(0, 1), PatternBytes(100, 1)) << c.offset << " from " << c.origin;
    }
    ASSERT_TRUE(f.Seek(100, 0));
    EXPECT_TRUE(f.Seek(-100, 1));  // exactly the start is allowed
    ASSERT_EQ(f.Read(buf.data(), 1), 1u);
    EXPECT_EQ(buf.substr(0, 1), PatternBytes(0, 1));
}

// Moved files keep their stream; the moved-from one is closed and harmless.
TEST(NFileStdio, MovedFileKeepsItsStream)
{
    TempDir dir;
    const std::string path = dir.file("a.bin");
    WritePatternFile(path, 100);
    NFileStdio a(path, "rbS");
    NFileStdio b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    a.Close();
    std::string buf(100, '\0');
    ASSERT_EQ(b.Read(buf.data(), 100), 100u);
    EXPECT_EQ(buf, PatternBytes(0, 100));
    NFileStdio c(dir.file("missing"), "rbS");
    c = std::move(b);
    EXPECT_TRUE(c.IsOpen());
    EXPECT_FALSE(b.IsOpen());
}

TEST(NFileStdio, BufferIsOneBlockOfTheFileSystem)
{
    TempDir dir;
    const std::string path = dir.file("a.bin");
    WriteFile(path, "x");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    NFileStdio f(path, "rbS");
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(f.BufferSize(), static_cast<std::uint32_t>(st.st_blksize));

    // A relative path takes the block of the volume it resolves to.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    NFileStdio rel("a.bin", "rbS");
    ASSERT_EQ(::chdir(cwd), 0);
    ASSERT_TRUE(rel.IsOpen());
    EXPECT_EQ(rel.BufferSize(), static_cast<std::uint32_t>(st.st_blksize));
    EXPECT_EQ(rel.GetSize(), -1);  // the second opening resolves from the new folder
}

TEST(NFileStdio, FailedOpenLeavesObjectClosed)
{
    TempDir dir;
    NFileStdio missing(dir.file("missing"), "rbS");
    EXPECT_FALSE(missing.IsOpen());
    NFileStdio badMode(dir.file("missing"), "");
    EXPECT_FALSE(badMode.IsOpen());
    EXPECT_EQ(missing.GetSize(), -1);
    char b;
    EXPECT_EQ(missing.Read(&b, 1), 0u);
    EXPECT_FALSE(missing.Seek(0, 0));
}

TEST(NFileStdio, SeekBeyond4GiBLandsOnExactByte)
{
    TempDir dir;
    const std::string path = dir.file("sparse.bin");
    constexpr std::int64_t kTarget = 5'000'000'000;
    {
        NFilePSDK w(path, NFilePSDK::Form::Writing);
        ASSERT_TRUE(w.IsOpen());
        ASSERT_EQ(w.Write("S", 1), 1u);
        ASSERT_TRUE(w.Seek(kTarget - 1, 0));
        ASSERT_EQ(w.Write("ABC", 3), 3u);
    }
    NFileStdio f(path, "rbS");
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(f.GetSize(), kTarget + 2);
    ASSERT_TRUE(f.Seek(kTarget, 0));
    char buf[4] = {};
    EXPECT_EQ(f.Read(buf, 4), 2u);
    EXPECT_EQ(std::string(buf, 2), "BC");
    // Backwards past 2^31 in one call, from the end.
    ASSERT_TRUE(f.Seek(-(kTarget + 2), 2));
    EXPECT_EQ(f.Read(buf, 1), 1u);
    EXPECT_EQ(buf[0], 'S');
    ASSERT_TRUE(f.Seek(kTarget - 2, 1));
    EXPECT_EQ(f.Read(buf, 1), 1u);
    EXPECT_EQ(buf[0], 'A');
}

TEST(NFileStdio, LocksFollowTheMode)
{
    TempDir dir;
    const std::string path = dir.file("held.bin");
    WriteFile(path, "keep");
    {
        NFilePSDK writer(path, NFilePSDK::Form::Writing);
        ASSERT_TRUE(writer.IsOpen());
        NFileStdio reader(path, "rbS");
        EXPECT_FALSE(reader.IsOpen());
    }
    WriteFile(path, "keep");
    {
        NFileStdio reader(path, "rbS");
        ASSERT_TRUE(reader.IsOpen());
        NFileStdio writer(path, "wb");
        EXPECT_FALSE(writer.IsOpen());
        NFilePSDK other(path, NFilePSDK::Form::Reading);
        EXPECT_TRUE(other.IsOpen());
    }
    EXPECT_EQ(ReadFile(path), "keep");  // the refused writer did not truncate
    {
        NFileStdio writer(path, "wb");
        ASSERT_TRUE(writer.IsOpen());
        EXPECT_EQ(writer.Write("hello", 5), 5u);
        EXPECT_EQ(writer.GetSize(), 0);  // still in the stream's buffer
        EXPECT_TRUE(writer.Flush());
        EXPECT_EQ(writer.GetSize(), 5);
    }
    EXPECT_EQ(ReadFile(path), "hello");
}

// The search reads through this class on the dialog's thread: a pipe that
// has nothing to give must not hold it, and a pipe without reader must not
// end the program when a write reaches it.
TEST(NFileStdio, PipesNeitherHoldTheCallerNorRaiseSigpipe)
{
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);

    {
        NFileStdio in(fifo, "rbS");
        ASSERT_TRUE(in.IsOpen());
        ASSERT_EQ(::write(writer, "ab", 2), 2);
        char buf[16];
        EXPECT_EQ(in.Read(buf, sizeof buf), 2u);
        EXPECT_EQ(std::string(buf, 2), "ab");
    }

    {
        NFileStdio out(fifo, "wb");
        ASSERT_TRUE(out.IsOpen());
        ::close(reader);
        ::close(writer);
        out.Write("lost", 4);
        EXPECT_FALSE(out.Flush());
        out.Close();
    }
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

}  // namespace
