// Faults provoked for real, end to end through the dialog and its worker
// thread: full disks, files changed under a running job, part names taken by a
// link or a folder, a locked destination, attempts to close the window during
// a job, and plans far beyond what the split list takes. Each job case checks
// the status line, that the controls are idle again, and that no byte of a file
// that existed before was lost.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QListView>
#include <QProgressBar>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "engine/Transfer.h"
#include "engine/Progress.h"
#include "ui/StatusTexts.h"
#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"
#include "ui/DialogTestSupport.h"

using namespace tessera::test;
namespace fs = std::filesystem;

namespace {

constexpr int kJobTimeoutMs = 30'000;
constexpr std::int64_t kBlock = tessera::kTransferBufferSize;

// A tmpfs of a few pages (and, if asked, a few inodes: the root folder takes
// one) at `at`, mounted in a mount namespace of this thread's own, which the
// worker threads it starts inherit: a disk that really fills up, invisible to
// the rest of the machine.
class SmallDisk {
public:
    SmallDisk(const std::string& at, std::size_t bytes, int inodes = 0) : path_(at)
    {
        fs::create_directory(at);
        static const int unshared = [] { return ::unshare(CLONE_NEWNS) == 0 ? 0 : errno; }();
        if (unshared != 0) {
            error_ = std::string("unshare(CLONE_NEWNS): ") + std::strerror(unshared);
            return;
        }
        // Mounts made from now on stay in this namespace.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            error_ = std::string("making / private: ") + std::strerror(errno);
            return;
        }
        std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (inodes > 0)
            options += ",nr_inodes=" + std::to_string(inodes);
        if (::mount("tessera-small-disk", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            error_ = std::string("mounting a tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
    }

    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string error_;
    bool mounted_ = false;
};

// The contents of files that must survive a failed job, taken before it.
class Kept {
public:
    explicit Kept(std::initializer_list<std::string> paths)
    {
        for (const std::string& path : paths)
            contents_[path] = ReadFile(path);
    }
    void ExpectUnchanged() const
    {
        for (const auto& [path, bytes] : contents_) {
            const std::string now = ReadFile(path);
            EXPECT_EQ(now.size(), bytes.size()) << path;
            EXPECT_TRUE(now == bytes) << path << " changed";
        }
    }

private:
    std::map<std::string, std::string> contents_;
};

// Peak resident size of this process so far, in KiB.
long PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// A process whose standard input is the FIFO at `fifo`, running `command`;
// killed and reaped when the object goes.
class FifoReader {
public:
    FifoReader(const std::string& fifo, std::vector<std::string> command) : command_(std::move(command))
    {
        std::vector<char*> argv;
        for (std::string& word : command_)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            const int in = ::open(fifo.c_str(), O_RDONLY);  // waits for a writer
            const int out = ::open("/dev/null", O_WRONLY);
            if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0)
                ::_exit(126);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~FifoReader()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }

private:
    std::vector<std::string> command_;
    pid_t pid_ = -1;
};

// A writing end of `fifo`, opened once its reader is there (so the reader's
// open returns and a job's non-blocking open finds it); -1 on time-out.
int OpenOnceReaderIsThere(const std::string& fifo)
{
    int fd = -1;
    const bool opened = QTest::qWaitFor([&] {
        fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0;
    }, 10'000);
    return opened ? fd : -1;
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }

    bool WaitForStatus(const std::string& text)
    {
        return QTest::qWaitFor([&] { return StatusText(dialog) == Q(text); }, kJobTimeoutMs);
    }

    bool WaitForJobEnd()
    {
        return QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs);
    }

    ControlStates States() const { return EnableStates(dialog); }

    // The job is over, showing `status`, and the dialog is idle again.
    void ExpectEnded(const std::string& status)
    {
        ASSERT_TRUE(WaitForJobEnd());
        EXPECT_EQ(StatusText(dialog), Q(status));
        EXPECT_EQ(States(), ControlStatesFor(true));
    }

    void StartSplit(const std::string& source, const QStringList& plan)
    {
        dialog.SetFieldText(kEditSource, Q(source));
        dialog.AppendLines(kListSplit, plan);
        dialog.Button(kButtonStartSplit)->click();
    }

    void StartJoin(const std::vector<std::string>& inputs, const std::string& destination)
    {
        for (const std::string& input : inputs)
            ASSERT_TRUE(DropFiles(dialog, dialog.List(kListJoin)->geometry().center(), {input})) << input;
        dialog.SetFieldText(kEditJoinDestination, Q(destination));
        dialog.Button(kButtonStartJoin)->click();
    }

    TempDir dir;
    CTesseraDlg dialog;
};

TEST_F(FaultTest, DiskFullInTheMiddleOfASplit)
{
    SmallDisk disk(dir.file("disk"), 1 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << "no private tmpfs for a full disk (needs root): " << disk.Error();
    const std::string source = disk.file("s.bin");
    const std::string other = disk.file("other");
    WritePatternFile(source, 400'000);
    WriteFile(other, "unrelated");
    const Kept kept{source, other};

    // The second part fills the disk half way through its one block.
    StartSplit(source, {"0 400000", "0 400000", "0 400000"});
    ExpectEnded("ファイルの書込に失敗 : " + source + ".001");
    EXPECT_EQ(ReadFile(source + ".000"), PatternBytes(0, 400'000));
    EXPECT_FALSE(fs::exists(source + ".002"));
    kept.ExpectUnchanged();
}

TEST_F(FaultTest, NoInodeLeftForAPartFile)
{
    SmallDisk disk(dir.file("disk"), 1 << 20, 3);
    if (!disk.Mounted())
        GTEST_SKIP() << "no private tmpfs for a full disk (needs root): " << disk.Error();
    const std::string source = disk.file("s.bin");
    WritePatternFile(source, 100);
    const Kept kept{source};

    StartSplit(source, {"0 10", "10 20", "20 30"});
    ExpectEnded("ファイルの作成に失敗 : " + source + ".001");
    EXPECT_EQ(ReadFile(source + ".000"), PatternBytes(0, 10));
    kept.ExpectUnchanged();
}

TEST_F(FaultTest, DiskFullInTheMiddleOfAJoin)
{
    SmallDisk disk(dir.file("disk"), 1 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << "no private tmpfs for a full disk (needs root): " << disk.Error();
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    const std::string c = dir.file("c");
    WritePatternFile(a, 400'000);
    WriteFile(b, std::string(400'000, 'b'));
    WriteFile(c, std::string(400'000, 'c'));
    const std::string other = disk.file("other");
    WriteFile(other, "unrelated");
    const Kept kept{a, b, c, other};
    const std::string destination = disk.file("joined");

    StartJoin({a, b, c}, destination);
    ExpectEnded("ファイルの書込に失敗 : " + destination);
    // The inputs that fitted are there in full, then part of the third.
    const std::string joined = ReadFile(destination);
    EXPECT_EQ(joined.substr(0, 800'000), PatternBytes(0, 400'000) + std::string(400'000, 'b'));
    kept.ExpectUnchanged();
}

TEST_F(FaultTest, FullDeviceAsJoinDestination)
{
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/full here";
    const std::string input = dir.file("in");
    WritePatternFile(input, 1000);
    const Kept kept{input};

    StartJoin({input}, "/dev/full");
    ExpectEnded("ファイルの書込に失敗 : /dev/full");
    kept.ExpectUnchanged();
}

TEST_F(FaultTest, SourceTruncatedBetweenBlocks)
{
    const std::string source = dir.file("s.bin");
    WritePatternFile(source, kBlock + 1000);

    StartSplit(source, {Q("0 " + std::to_string(kBlock + 1000))});
    // While the first block is written, the source loses its second block.
    ASSERT_TRUE(WaitForStatus("書込中 " + source + ".000"));
    fs::resize_file(source, 1000);
    ExpectEnded("ファイルの読込に失敗 : " + source);
    EXPECT_EQ(ReadFile(source), PatternBytes(0, 1000));
    EXPECT_TRUE(ReadFile(source + ".000") == PatternBytes(0, kBlock));
}

TEST_F(FaultTest, InputsDeletedWhileAJoinRuns)
{
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    WritePatternFile(a, kBlock + 1000);
    WriteFile(b, "tail");
    const std::string destination = dir.file("joined");

    StartJoin({a, b}, destination);
    // The input being copied goes on from its open descriptor; the next one
    // can no longer be opened.
    ASSERT_TRUE(WaitForStatus("書込中 " + a));
    fs::remove(a);
    fs::remove(b);
    ExpectEnded("ファイルのオープンに失敗 : " + b);
    // Every byte of the deleted input that the job had begun survives.
    EXPECT_TRUE(ReadFile(destination) == PatternBytes(0, kBlock + 1000));
}

TEST_F(FaultTest, DanglingSymlinkAndFolderAtPartNamesAreSkipped)
{
    const std::string source = dir.file("s.bin");
    WritePatternFile(source, 100);
    const std::string target = dir.file("link-target");
    fs::create_symlink(target, source + ".000");
    fs::create_directory(source + ".001");
    const Kept kept{source};

    StartSplit(source, {"0 100", "10 20"});
    ExpectEnded("終了");
    EXPECT_EQ(ReadFile(source + ".002"), PatternBytes(0, 100));
    EXPECT_EQ(ReadFile(source + ".003"), PatternBytes(10, 10));
    EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << "the link was followed";
    EXPECT_TRUE(fs::is_symlink(source + ".000"));
    EXPECT_TRUE(fs::is_directory(source + ".001"));
    EXPECT_TRUE(fs::is_empty(source + ".001"));
    kept.ExpectUnchanged();
}

// A named pipe, a device, a socket or a folder is no file to cut or join:
// the drop is refused, a typed source changes nothing, and a listed input is
// refused by name before the destination exists. A /proc file reports a size
// of 0 but has content: it is refused as a read failure. An open that waited
// for a pipe's other end would never return: neither the dialog nor a job
// ever waits for one.
TEST_F(FaultTest, FilesThatAreNoRegularFilesAreRefusedByName)
{
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string socket = dir.file("socket");
    ASSERT_TRUE(MakeSocket(socket));
    const std::string folder = dir.file("folder");
    fs::create_directory(folder);
    const std::string proc = "/proc/self/status";
    const std::string input = dir.file("in");
    WritePatternFile(input, 1000);
    const std::string destination = dir.file("joined");
    const Kept kept{input};

    for (const std::string& path : {pipe, std::string("/dev/zero"), socket, folder}) {
        dialog.SetFieldText(kEditSource, Q(input));
        DropFiles(dialog, dialog.Edit(kEditSource)->geometry().center(), {path});
        EXPECT_EQ(dialog.FieldText(kEditSource), input) << path << " was taken as the source";

        dialog.SetStatus("-");
        const ControlStates before = States();
        StartSplit(path, {"0 0"});
        ASSERT_TRUE(WaitForJobEnd());
        EXPECT_EQ(StatusText(dialog), "-") << path;
        EXPECT_EQ(States(), before) << path;
        EXPECT_FALSE(fs::exists(fs::symlink_status(path + ".000"))) << path;
        dialog.Button(kButtonClearSplitList)->click();
    }
    StartSplit(proc, {"0 0"});
    ExpectEnded("ファイルの読込に失敗 : " + proc);
    dialog.Button(kButtonClearSplitList)->click();

    for (const std::string& path : {pipe, std::string("/dev/zero"), socket, folder, proc}) {
        dialog.Button(kButtonClearJoinList)->click();
        dialog.AppendLines(kListJoin, {Q(input), Q(path)});
        dialog.SetFieldText(kEditJoinDestination, Q(destination));
        dialog.Button(kButtonStartJoin)->click();
        ExpectEnded((path == proc ? "ファイルの読込に失敗 : " : "ファイルのオープンに失敗 : ") + path);
        EXPECT_FALSE(fs::exists(destination)) << path << ": the destination was created";
    }

    // A destination the join cannot write, a pipe nobody reads or a folder,
    // is named; a symlink that leads nowhere is never followed.
    const std::string nowhere = dir.file("nowhere");
    const std::string target = dir.file("target");
    ASSERT_EQ(::symlink(target.c_str(), nowhere.c_str()), 0);
    dialog.Button(kButtonClearJoinList)->click();
    dialog.AppendLines(kListJoin, {Q(input)});
    for (const auto& [path, status] : {std::pair{pipe, std::string("ファイルのオープンに失敗 : ")},
                                       std::pair{folder, std::string("ファイルのオープンに失敗 : ")},
                                       std::pair{nowhere, std::string("ファイルの作成に失敗 : ")}}) {
        dialog.SetFieldText(kEditJoinDestination, Q(path));
        dialog.Button(kButtonStartJoin)->click();
        ExpectEnded(status + path);
    }
    EXPECT_FALSE(fs::exists(target));
    kept.ExpectUnchanged();
}

// A plan line that ends past the end of the source could only be cut short
// half way through the job: the whole plan is refused before any part.
TEST_F(FaultTest, PlanLinePastTheEndLeavesNoPart)
{
    const std::string source = dir.file("s.bin");
    WritePatternFile(source, 1000);
    const Kept kept{source};
    StartSplit(source, {"0 10", "990 1001", "10 20"});
    ExpectEnded("中止");
    EXPECT_FALSE(fs::exists(source + ".000"));
    EXPECT_FALSE(fs::exists(source + ".001"));
    kept.ExpectUnchanged();
}

TEST_F(FaultTest, DestinationHeldByAnotherOpeningIsLeftAlone)
{
    const std::string input = dir.file("in");
    WriteFile(input, "input bytes");
    const std::string destination = dir.file("held");
    NFilePSDK holder(destination, NFilePSDK::Form::Writing);
    ASSERT_TRUE(holder.IsOpen());
    ASSERT_EQ(holder.Write("precious", 8), 8u);
    ASSERT_TRUE(holder.Flush());
    const Kept kept{input, destination};

    StartJoin({input}, destination);
    ExpectEnded("中止");
    kept.ExpectUnchanged();
}

TEST_F(FaultTest, EscapeAndCloseBoxDuringAJobAreRefused)
{
    const std::string source = dir.file("s.bin");
    WritePatternFile(source, kBlock + 1000);
    const Kept kept{source};

    StartSplit(source, {Q("0 " + std::to_string(kBlock + 1000))});
    ASSERT_TRUE(WaitForStatus("読込中 " + source + ".000"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCloseEvent closeBox;
    QApplication::sendEvent(&dialog, &closeBox);
    EXPECT_FALSE(closeBox.isAccepted());
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.JobRunning());

    // Refusing is all they did: the job runs to its end, whole.
    ExpectEnded("終了");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(ReadFile(source + ".000") == PatternBytes(0, kBlock + 1000));
    kept.ExpectUnchanged();
}

// Should the window go away by a path that cannot be refused (the program
// being torn down), the worker must stop before a control it calls is gone.
TEST(DialogTeardown, DialogDestroyedDuringAJobStopsTheWorkerFirst)
{
    TempDir dir;
    const std::string source = dir.file("s.bin");
    WritePatternFile(source, 2 * kBlock + 1000);
    {
        CTesseraDlg dialog;
        dialog.show();
        dialog.SetFieldText(kEditSource, Q(source));
        dialog.AppendLines(kListSplit, {Q("0 " + std::to_string(2 * kBlock + 1000))});
        dialog.Button(kButtonStartSplit)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(dialog).startsWith("書込中"); }, kJobTimeoutMs));
    }
    // Stopped like an Abort: whole blocks, fewer than all.
    const auto written = static_cast<std::int64_t>(fs::file_size(source + ".000"));
    EXPECT_EQ(written % kBlock, 0);
    EXPECT_LT(written, 2 * kBlock + 1000);
    EXPECT_TRUE(ReadFile(source + ".000") == PatternBytes(0, written));
}

TEST_F(FaultTest, PlansBeyondTheListAreRefusedInBoundedMemory)
{
    // 64 MiB of "a": "aa" occurs at every offset but the last, 67 million
    // times, far more than the split list takes.
    const std::string source = dir.file("a.txt");
    {
        std::ofstream out(source, std::ios::binary);
        const std::string chunk(1 << 20, 'a');
        for (int i = 0; i < 64; ++i)
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        ASSERT_TRUE(out.good());
    }
    dialog.SetFieldText(kEditSource, Q(source));
    const QString statusBefore = StatusText(dialog);
    const ControlStates statesBefore = States();
    const long peakBefore = PeakResidentKiB();
    ASSERT_GT(peakBefore, 0);

    dialog.SetFieldText(kEditPieceCount, "2147483647");
    dialog.Button(kButtonEqualSplitAdd)->click();
    EXPECT_EQ(dialog.ListCount(kListSplit), 0);

    dialog.SetFieldText(kEditString, "aa");
    dialog.Button(kButtonSearchString)->click();
    EXPECT_EQ(dialog.ListCount(kListSplit), 0);
    dialog.SetFieldText(kEditByteSequence, "6161");
    dialog.Button(kButtonSearchBytes)->click();
    EXPECT_EQ(dialog.ListCount(kListSplit), 0);

    // A search window and a list's worth of offsets, not a list of every
    // occurrence (0.5 GiB) nor of every piece (32 GiB).
    EXPECT_LT(PeakResidentKiB() - peakBefore, 256 * 1024);
    EXPECT_EQ(StatusText(dialog), statusBefore);
    EXPECT_EQ(States(), statesBefore);
    EXPECT_EQ(fs::file_size(source), 64u << 20);
}

// The reader of the destination pipe goes away after 1000 bytes: the next
// write raises SIGPIPE, which must not end the program with both lists; the
// job fails as any write does.
TEST_F(FaultTest, JoinIntoAPipeWhoseReaderGoesAway)
{
    const std::string input = dir.file("in.bin");
    WritePatternFile(input, 1 << 20);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FifoReader reader(fifo, {"head", "-c", "1000"});
    ASSERT_TRUE(reader.Started());
    const int writer = OpenOnceReaderIsThere(fifo);
    ASSERT_GE(writer, 0);

    StartJoin({input}, fifo);
    ExpectEnded("ファイルの書込に失敗 : " + fifo);
    EXPECT_EQ(dialog.ListLines(kListJoin), QStringList({Q(input)}));
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    ::close(writer);
}

// The reader of the destination pipe never reads: the write cannot proceed,
// and Abort must still end the job at once and let the window close.
TEST_F(FaultTest, AbortEndsAJoinStuckOnAPipeThatIsNotRead)
{
    const std::string input = dir.file("in.bin");
    WritePatternFile(input, 1 << 20);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FifoReader reader(fifo, {"sleep", "1000"});
    ASSERT_TRUE(reader.Started());
    const int writer = OpenOnceReaderIsThere(fifo);
    ASSERT_GE(writer, 0);

    StartJoin({input}, fifo);
    // One block of 1 MiB: far more than the pipe holds, so the job is in
    // that write whenever Abort arrives.
    ASSERT_TRUE(WaitForStatus("書込中 " + input));
    EXPECT_TRUE(dialog.Button(kButtonAbort)->isEnabled());
    dialog.Button(kButtonAbort)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, 500)) << "Abort took more than 0.5 s";
    ExpectEnded("終了");
    EXPECT_EQ(dialog.ProgressBar()->value(), tessera::kProgressRange);
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    ::close(writer);
}

}  // namespace
