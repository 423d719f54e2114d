#include "fileio/NFilePSDK.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "support/TempDir.h"

using Form = NFilePSDK::Form;
using tessera::test::ReadFile;
using tessera::test::TempDir;
using tessera::test::WriteFile;

namespace {

constexpr std::int64_t kBeyond4G = 5'000'000'000;

TEST(NFilePSDK, ReadsWholeFileThenZeroAtEnd)
{
    TempDir dir;
    const std::string path = dir.file("a.bin");
    WriteFile(path, "0123456789");
    NFilePSDK f(path, Form::Reading);
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(f.GetSize(), 10);
    char buf[32] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf), 10u);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(f.Read(buf, sizeof buf), 0u);
    EXPECT_TRUE(f.Seek(3, 0));
    EXPECT_EQ(f.Read(buf, 2), 2u);
    EXPECT_EQ(std::string(buf, 2), "34");
    EXPECT_TRUE(f.Seek(-2, 2));
    EXPECT_EQ(f.Read(buf, 5), 2u);
    EXPECT_EQ(std::string(buf, 2), "89");
    EXPECT_FALSE(f.Seek(0, 7));
}

TEST(NFilePSDK, FailedOpensLeaveObjectClosed)
{
    TempDir dir;
    struct Case {
        std::string path;
        Form form;
    } cases[] = {
        {dir.file("missing"), Form::Reading},
        {dir.file("no/such/folder/x"), Form::Writing},
        {dir.file("no/such/folder/x"), Form::CreateNew},
        {dir.path().string(), Form::Writing},  // a directory
        {"", Form::Reading},
    };
    for (const auto& c : cases) {
        NFilePSDK f(c.path, c.form);
        EXPECT_FALSE(f.IsOpen()) << c.path;
        EXPECT_EQ(f.Descriptor(), -1) << c.path;
        EXPECT_NE(f.LastError(), 0) << c.path;
        char b;
        EXPECT_EQ(f.Read(&b, 1), 0u);
        EXPECT_EQ(f.Write(&b, 1), 0u);
        EXPECT_FALSE(f.Flush());
        f.Close();  // harmless on a closed object
    }
}

TEST(NFilePSDK, WritingFormCreatesOrTruncatesAndFlushes)
{
    TempDir dir;
    const std::string path = dir.file("out.bin");
    WriteFile(path, std::string(1000, 'x'));
    {
        NFilePSDK f(path, Form::Writing);
        ASSERT_TRUE(f.IsOpen());
        EXPECT_EQ(f.GetSize(), 0);  // truncated at once
        EXPECT_EQ(f.Write("abc", 3), 3u);
        EXPECT_TRUE(f.Flush());
        EXPECT_EQ(f.Write("de", 2), 2u);
        EXPECT_TRUE(f.Flush());
        EXPECT_EQ(f.GetSize(), 5);
    }
    EXPECT_EQ(ReadFile(path), "abcde");

    const std::string fresh = dir.file("fresh.bin");
    NFilePSDK g(fresh, Form::Writing);
    ASSERT_TRUE(g.IsOpen());
    struct stat st;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(NFilePSDK, WriteToFullDeviceReportsShortCount)
{
    NFilePSDK f("/dev/full", Form::Writing);
    if (!f.IsOpen())
        GTEST_SKIP() << "/dev/full cannot be opened here";
    std::vector<char> block(65536, 'z');
    EXPECT_LT(f.Write(block.data(), block.size()), block.size());
    EXPECT_EQ(f.LastError(), ENOSPC);
    // A device is not locked: other users of it are not shut out.
    NFilePSDK second("/dev/full", Form::Writing);
    EXPECT_TRUE(second.IsOpen());
}

TEST(NFilePSDK, LockedFileIsNeitherOpenedForWritingNorTruncated)
{
    TempDir dir;
    const std::string path = dir.file("held.bin");
    WriteFile(path, "keep me");
    {
        NFilePSDK reader(path, Form::Reading);
        ASSERT_TRUE(reader.IsOpen());
        NFilePSDK writer(path, Form::Writing);
        EXPECT_FALSE(writer.IsOpen());
        EXPECT_EQ(writer.LastError(), EWOULDBLOCK);
        NFilePSDK secondReader(path, Form::Reading);  // readers share
        EXPECT_TRUE(secondReader.IsOpen());
    }
    EXPECT_EQ(ReadFile(path), "keep me");
    {
        NFilePSDK writer(path, Form::Writing);
        ASSERT_TRUE(writer.IsOpen());
        NFilePSDK secondWriter(path, Form::Writing);
        EXPECT_FALSE(secondWriter.IsOpen());
        NFilePSDK reader(path, Form::Reading);
        EXPECT_FALSE(reader.IsOpen());
        EXPECT_EQ(writer.Write("new", 3), 3u);
    }
    EXPECT_EQ(ReadFile(path), "new");
}

TEST(NFilePSDK, CreateNewNeverOverwritesNorFollowsSymlinks)
{
    TempDir dir;
    const std::string existing = dir.file("a.000");
    WriteFile(existing, "old");
    NFilePSDK f(existing, Form::CreateNew);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.LastError(), EEXIST);
    EXPECT_EQ(ReadFile(existing), "old");

    const std::string target = dir.file("target");
    const std::string link = dir.file("a.001");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);  // dangling
    NFilePSDK g(link, Form::CreateNew);
    EXPECT_FALSE(g.IsOpen());
    EXPECT_EQ(g.LastError(), EEXIST);
    EXPECT_FALSE(std::filesystem::exists(target));

    NFilePSDK h(dir.file("a.002"), Form::CreateNew);
    ASSERT_TRUE(h.IsOpen());
    EXPECT_EQ(h.Write("x", 1), 1u);
    // An exclusive creation also holds the file exclusively.
    NFilePSDK other(dir.file("a.002"), Form::Writing);
    EXPECT_FALSE(other.IsOpen());
}

// Pages of path that are in the page cache.
std::size_t ResidentPages(const std::string& path, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + page - 1) / page);
    const bool ok = map != MAP_FAILED && ::mincore(map, size, resident.data()) == 0;
    if (map != MAP_FAILED)
        ::munmap(map, size);
    ::close(fd);
    std::size_t count = 0;
    for (unsigned char r : resident)
        count += r & 1;
    return ok ? count : SIZE_MAX;
}

// True when the folder's pages can leave the page cache: not a tmpfs or
// ramfs, whose pages are the files themselves.
bool DiskBacked(const std::string& folder)
{
    struct statfs fs;
    if (::statfs(folder.c_str(), &fs) != 0)
        return false;
    constexpr long kTmpfs = 0x01021994;
    constexpr long kRamfs = 0x858458f6;
    return static_cast<long>(fs.f_type) != kTmpfs && static_cast<long>(fs.f_type) != kRamfs;
}

// A fresh folder on a disk: the temporary folder where that is one, else one
// made under the build folder; removed with its contents. Empty when neither
// is on a disk.
class DiskFolder {
public:
    DiskFolder()
    {
        if (DiskBacked(temp_.path().string())) {
            path_ = temp_.path().string();
            return;
        }
        std::string pattern = std::string(TESSERA_BUILD_DIR) + "/disk-test-XXXXXX";
        const bool made = ::mkdtemp(pattern.data()) != nullptr;
        if (made && DiskBacked(pattern))
            path_ = made_ = pattern;
        else if (made)
            ::rmdir(pattern.c_str());
    }
    ~DiskFolder()
    {
        if (!made_.empty())
            std::filesystem::remove_all(made_);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    TempDir temp_;
    std::string path_;
    std::string made_;
};

// The streaming use lets go of what it read and of what it flushed; the
// cached use (a copy at full speed) leaves both in the cache.
TEST(NFilePSDK, CacheUseDecidesWhatStaysCached)
{
    DiskFolder dir;
    if (dir.path().empty())
        GTEST_SKIP() << "neither the temporary folder nor the build folder is on a disk: a tmpfs keeps every page "
                        "in the cache";
    constexpr std::size_t kSize = 4 << 20;
    const std::string data(kSize, 'x');
    for (const auto use : {NFilePSDK::CacheUse::Streaming, NFilePSDK::CacheUse::Cached}) {
        const bool streaming = use == NFilePSDK::CacheUse::Streaming;
        const std::string in = dir.file(streaming ? "in.s" : "in.c");
        const std::string out = dir.file(streaming ? "out.s" : "out.c");
        WriteFile(in, data);
        {
            NFilePSDK file(in, Form::Reading);
            ASSERT_TRUE(file.Flush());  // clean pages can be let go
        }
        std::vector<char> buffer(kSize);
        NFilePSDK reader(in, Form::Reading);
        reader.SetCacheUse(use);
        ASSERT_EQ(reader.Read(buffer.data(), kSize), kSize);
        NFilePSDK writer(out, Form::CreateNew);
        writer.SetCacheUse(use);
        ASSERT_EQ(writer.Write(buffer.data(), kSize), kSize);
        ASSERT_TRUE(writer.Flush());
        const std::size_t pages = kSize / static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        if (streaming) {
            EXPECT_LT(ResidentPages(in, kSize), pages / 2);
            EXPECT_LT(ResidentPages(out, kSize), pages / 2);
        } else {
            EXPECT_EQ(ResidentPages(in, kSize), pages);
            EXPECT_EQ(ResidentPages(out, kSize), pages);
        }
        EXPECT_EQ(ReadFile(out), data);
    }
}

TEST(NFilePSDK, SparseFileBeyond4GiB)
{
    TempDir dir;
    const std::string path = dir.file("sparse.bin");
    {
        NFilePSDK w(path, Form::Writing);
        ASSERT_TRUE(w.IsOpen());
        ASSERT_TRUE(w.Seek(kBeyond4G, 0));
        ASSERT_EQ(w.Write("END", 3), 3u);
        ASSERT_TRUE(w.Flush());
        EXPECT_EQ(w.GetSize(), kBeyond4G + 3);
    }
    NFilePSDK r(path, Form::Reading);
    ASSERT_TRUE(r.IsOpen());
    EXPECT_EQ(r.GetSize(), kBeyond4G + 3);
    ASSERT_TRUE(r.Seek(kBeyond4G - 1, 0));
    char buf[8] = {};
    EXPECT_EQ(r.Read(buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), std::string("\0END", 4));
    ASSERT_TRUE(r.Seek(-3, 2));
    EXPECT_EQ(r.Read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "END");
}

TEST(NFilePSDK, ReadLoopsOverPipePieces)
{
    // A pipe delivers what was written so far; Read gathers up to the count
    // and stops only at end of file.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    ASSERT_EQ(::write(fds[1], "def", 3), 3);
    ::close(fds[1]);
    const std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
    NFilePSDK f(path, Form::Reading);
    ::close(fds[0]);
    if (!f.IsOpen())
        GTEST_SKIP() << "no /proc here";
    char buf[16];
    EXPECT_EQ(f.Read(buf, sizeof buf), 6u);
    EXPECT_EQ(std::string(buf, 6), "abcdef");
}

bool SigpipeBlockedOrPending()
{
    sigset_t blocked, pending;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &blocked);
    ::sigpending(&pending);
    return sigismember(&blocked, SIGPIPE) == 1 || sigismember(&pending, SIGPIPE) == 1;
}

// A FIFO in a fresh folder, with a reading end held by the test.
class FifoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
    }
    void TearDown() override
    {
        if (reader >= 0)
            ::close(reader);
    }

    TempDir dir;
    const std::string fifo = dir.file("fifo");
    int reader = -1;
};

// SIGPIPE would end the whole program: the write fails instead, and the
// thread's signal state is as it was.
TEST_F(FifoTest, WriteAfterTheReaderHasGoneFailsWithEpipe)
{
    NFilePSDK out(fifo, Form::Writing);
    ASSERT_TRUE(out.IsOpen());
    EXPECT_EQ(out.Write("abc", 3), 3u);
    ::close(reader);
    reader = -1;
    EXPECT_EQ(out.Write("def", 3), 0u);
    EXPECT_EQ(out.LastError(), EPIPE);
    EXPECT_FALSE(SigpipeBlockedOrPending());
}

// Nobody reads: the write fills the pipe and then waits, until the watched
// flag says to give up with what was written.
TEST_F(FifoTest, WriteThatCannotProceedGivesUpOnAbort)
{
    NFilePSDK out(fifo, Form::Writing);
    ASSERT_TRUE(out.IsOpen());
    std::atomic<bool> abort{false};
    out.WatchAbort(&abort);
    std::thread presser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abort = true;
    });
    const std::vector<char> block(1 << 20, 'x');
    const std::uint32_t written = out.Write(block.data(), static_cast<std::uint32_t>(block.size()));
    presser.join();
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
    EXPECT_EQ(out.LastError(), ECANCELED);
}

// The writer is there but sends nothing more: the read keeps what arrived
// and gives up on Abort.
TEST_F(FifoTest, ReadThatCannotProceedGivesUpOnAbort)
{
    NFilePSDK in(fifo, Form::Reading);
    ASSERT_TRUE(in.IsOpen());
    ::close(reader);
    reader = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);  // the writing end, now
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::write(reader, "abc", 3), 3);
    std::atomic<bool> abort{false};
    in.WatchAbort(&abort);
    std::thread presser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abort = true;
    });
    char buf[16];
    const std::uint32_t got = in.Read(buf, sizeof buf);
    presser.join();
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(in.LastError(), ECANCELED);

    // With the writer gone the read ends at end of file, as with a file.
    ::close(reader);
    reader = -1;
    abort = false;
    EXPECT_EQ(in.Read(buf, sizeof buf), 0u);
}

// A named pipe read as a stream waits for its writer, where the reading form
// takes a pipe without one for ended: a plan piped in from a writer that
// starts later is read whole.
TEST_F(FifoTest, StreamWaitsForAWriterThatComesLater)
{
    NFilePSDK in(fifo, Form::Stream);
    ASSERT_TRUE(in.IsOpen());
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "late", 4), 4);
        ::close(fd);
    });
    char buf[16];
    const std::uint32_t got = in.Read(buf, sizeof buf);
    writer.join();
    EXPECT_EQ(std::string(buf, got), "late");
    EXPECT_EQ(in.Read(buf, sizeof buf), 0u);
    EXPECT_EQ(in.LastError(), 0);
}

}  // namespace
