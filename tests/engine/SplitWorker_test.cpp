#include "engine/Jobs.h"
#include "engine/PartNames.h"
#include "engine/Progress.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "engine/FakeJobPort.h"
#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"

using tessera::ProbeOutputName;
using tessera::RunSplitJob;
using tessera::test::FakeJobPort;
using tessera::test::PatternBytes;
using tessera::test::ReadFile;
using tessera::test::Reading;
using tessera::test::TempDir;
using tessera::test::WriteFile;
using tessera::test::WritePatternFile;
using tessera::test::Writing;

namespace {

constexpr std::int64_t kBlock = 16 * 1024 * 1024;

class SplitJob : public ::testing::Test {
protected:
    // A source of `size` pattern bytes and a plan of `lines`.
    void Plan(std::int64_t size, std::vector<std::string> lines)
    {
        WritePatternFile(source, size);
        port.source = source;
        port.plan = std::move(lines);
    }
    std::string Part(int n) const
    {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", n);
        return source + suffix;
    }
    bool Exists(const std::string& path) const
    {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }
    int Run() { return RunSplitJob(port, abort).Code(); }

    void ExpectEndedIdle()
    {
        const auto switches = port.Switches();
        ASSERT_EQ(switches.size(), 2u);
        EXPECT_FALSE(switches[0]);
        EXPECT_TRUE(switches[1]);
    }

    TempDir dir;
    std::string source = dir.file("a.bin");
    FakeJobPort port;
    std::atomic<bool> abort{false};
};

TEST_F(SplitJob, EntriesInAnyOrderBecomeByteExactParts)
{
    Plan(1000, {"100 200", "0 100", "50 150", "7 7", "0 1000"});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(Part(0)), PatternBytes(100, 100));
    EXPECT_EQ(ReadFile(Part(1)), PatternBytes(0, 100));
    EXPECT_EQ(ReadFile(Part(2)), PatternBytes(50, 100));  // overlaps both
    EXPECT_TRUE(Exists(Part(3)));
    EXPECT_EQ(ReadFile(Part(3)), "");  // an empty entry still takes a number
    EXPECT_EQ(ReadFile(Part(4)), PatternBytes(0, 1000));
    EXPECT_FALSE(Exists(Part(5)));

    // Each block names its part file while reading and while writing; the
    // empty entry shows nothing.
    const std::vector<std::string> expected = {
        Reading(Part(0)), Writing(Part(0)), Reading(Part(1)), Writing(Part(1)), Reading(Part(2)),
        Writing(Part(2)), Reading(Part(4)), Writing(Part(4)), "終了"};
    EXPECT_EQ(port.Statuses(), expected);
    EXPECT_EQ(port.Progress().back(), tessera::kProgressRange);
    ExpectEndedIdle();
}

TEST_F(SplitJob, BlocksOfAtMost16MiBAndFloatProgress)
{
    Plan(kBlock + 1, {"0 16777216", "1 16777217"});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(Part(0)), PatternBytes(0, kBlock));
    EXPECT_EQ(ReadFile(Part(1)), PatternBytes(1, kBlock));
    EXPECT_EQ(port.Count(Reading(Part(0))), 1);
    EXPECT_EQ(port.Count(Reading(Part(1))), 1);  // exactly 16 MiB is one block
    // Total 2^25 bytes: the bar moves by a quarter per half block.
    EXPECT_EQ(port.Progress(), (std::vector<int>{0, 16384, 32768, 49152, 65536}));
}

TEST_F(SplitJob, SixteenMiBPlusOneTakesTwoBlocks)
{
    Plan(kBlock + 1, {"0 16777217"});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(Part(0)), PatternBytes(0, kBlock + 1));
    EXPECT_EQ(port.Count(Reading(Part(0))), 2);
    // 2 * (2^24 + 1) rounds to 2^25 in single precision: the bar is full
    // from the second block on.
    EXPECT_EQ(port.Progress(), (std::vector<int>{0, 32768, 65536, 65536, 65536}));
}

TEST_F(SplitJob, ProbeFillsGapsAndNeverOverwrites)
{
    Plan(30, {"0 10", "10 10", "20 20"});
    WriteFile(Part(0), "old0");
    WriteFile(Part(2), "old2");
    EXPECT_EQ(ProbeOutputName(source), Part(1));
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(Part(0)), "old0");
    EXPECT_EQ(ReadFile(Part(1)), PatternBytes(0, 10));
    EXPECT_EQ(ReadFile(Part(2)), "old2");
    EXPECT_EQ(ReadFile(Part(3)), "");
    EXPECT_EQ(ReadFile(Part(4)), "");
    EXPECT_FALSE(Exists(Part(5)));
}

TEST_F(SplitJob, SamePlanTwiceTakesNewNumbers)
{
    Plan(30, {"0 10", "10 10", "20 20"});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Run(), 0);
    for (int n : {0, 3})
        EXPECT_EQ(ReadFile(Part(n)), PatternBytes(0, 10)) << n;
    for (int n : {1, 2, 4, 5}) {
        EXPECT_TRUE(Exists(Part(n))) << n;
        EXPECT_EQ(ReadFile(Part(n)), "") << n;
    }
    EXPECT_FALSE(Exists(Part(6)));
    EXPECT_EQ(port.Count("終了"), 2);
}

TEST_F(SplitJob, LinksAndFoldersAtPartNamesAreTaken)
{
    Plan(30, {"0 10"});
    const std::string target = dir.file("elsewhere");
    ASSERT_EQ(::symlink(target.c_str(), Part(0).c_str()), 0);  // dangling
    ASSERT_EQ(::mkdir(Part(1).c_str(), 0755), 0);
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(ReadFile(Part(2)), PatternBytes(0, 10));
}

TEST_F(SplitJob, OverlongPartNamesAreNeverFree)
{
    // The source's own name fits; with ".000" appended it no longer does.
    // The failure names the part file that could not be created, so that it
    // is told apart from all thousand names being taken.
    source = dir.file(std::string(253, 's'));
    Plan(30, {"0 10"});
    EXPECT_EQ(ProbeOutputName(source), Part(0));
    const tessera::JobResult result = RunSplitJob(port, abort);
    EXPECT_EQ(result.Code(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの作成に失敗 : " + Part(0)});
    EXPECT_EQ(result.path, Part(0));
    EXPECT_EQ(result.fault, tessera::JobFault::PartCreate);
    EXPECT_EQ(result.error, ENAMETOOLONG);
    ExpectEndedIdle();
}

TEST_F(SplitJob, AllThousandNamesTaken)
{
    Plan(30, {"0 10", "10 20"});
    for (int n = 0; n < 1000; ++n)
        WriteFile(Part(n), "x");
    EXPECT_EQ(ProbeOutputName(source), "");
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの作成に失敗 : "});
    EXPECT_TRUE(port.Progress().empty());  // the bar stays where it was
    for (int n = 0; n < 1000; ++n)
        ASSERT_EQ(ReadFile(Part(n)), "x") << n;
    ExpectEndedIdle();
}

// A plan that cannot finish is refused before any part exists, naming the
// part the job would have begun with; one that just fits runs.
TEST_F(SplitJob, PlanLongerThanTheFreeNamesIsRefusedBeforeAnyPart)
{
    Plan(30, {"0 10", "10 20", "20 30"});
    for (int n = 0; n < 1000; ++n) {
        if (n != 5 && n != 700)
            WriteFile(Part(n), "x");
    }
    const tessera::JobResult refused = RunSplitJob(port, abort);
    EXPECT_EQ(refused.fault, tessera::JobFault::TooManyParts);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの作成に失敗 : " + Part(5)});
    EXPECT_TRUE(port.Progress().empty());
    EXPECT_FALSE(Exists(Part(5)));
    EXPECT_FALSE(Exists(Part(700)));
    ExpectEndedIdle();

    port.plan.pop_back();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(Part(5)), PatternBytes(0, 10));
    EXPECT_EQ(ReadFile(Part(700)), PatternBytes(10, 10));
}

// A million lines: refused at once, without reading them one by one.
TEST_F(SplitJob, MillionLinePlanIsRefusedWithoutReadingIt)
{
    Plan(30, std::vector<std::string>(1'000'000, "0 1"));
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの作成に失敗 : " + Part(0)});
    EXPECT_EQ(port.Batches(), 0);
    EXPECT_FALSE(Exists(Part(0)));
}

// Abort pressed while the plan is being read ends the job there, as an
// aborted job ends, with nothing written.
TEST_F(SplitJob, AbortWhileThePlanIsReadEndsBeforeAnyPart)
{
    Plan(30, {"0 10", "10 20"});
    port.onBatch = [&](std::size_t) { abort = true; };
    const tessera::JobResult result = RunSplitJob(port, abort);
    EXPECT_EQ(result.end, tessera::JobEnd::Aborted);
    EXPECT_TRUE(result.path.empty());  // no part was cut short
    EXPECT_EQ(port.LastStatus(), "終了");
    EXPECT_FALSE(Exists(Part(0)));
    ExpectEndedIdle();
}

// Another front end's pace: no pauses, no flushes, copies in the kernel
// where it can; a front end that wants the bytes sees each part's bytes and
// can refuse a part.
TEST_F(SplitJob, UnpacedJobsCopyTheSameBytesAndReportThem)
{
    struct Recorder {
        std::vector<std::string> begun, ended;
        std::vector<std::int64_t> ranges;
        std::string bytes;
        std::string refuse;
        bool operator()(const tessera::JobEvent& event)
        {
            using Kind = tessera::JobEvent::Kind;
            if (event.kind == Kind::PieceBegun) {
                begun.emplace_back(event.path);
                ranges.push_back(event.offset);
                ranges.push_back(event.size);
            }
            if (event.kind == Kind::Bytes)
                bytes.append(event.data, event.count);
            if (event.kind == Kind::PieceEnded) {
                ended.emplace_back(event.path);
                return event.path != refuse;
            }
            return true;
        }
    };
    Plan(3000, {"100 1100", "0 0", "2000 3000"});
    for (const bool wants : {false, true}) {
        Recorder recorder;
        port.wantsBytes = wants;
        port.onEvent = [&](const tessera::JobEvent& event) { return recorder(event); };
        tessera::JobSettings settings;
        settings.pace = false;
        settings.flushEveryBlock = false;
        settings.kernelCopy = true;
        const int first = wants ? 3 : 0;
        EXPECT_EQ(RunSplitJob(port, abort, settings).Code(), 0);
        EXPECT_EQ(ReadFile(Part(first)), PatternBytes(100, 1000));
        EXPECT_EQ(ReadFile(Part(first + 1)), "");
        EXPECT_EQ(ReadFile(Part(first + 2)), PatternBytes(2000, 1000));
        EXPECT_EQ(recorder.begun, (std::vector<std::string>{Part(first), Part(first + 1), Part(first + 2)}));
        EXPECT_EQ(recorder.ended, recorder.begun);
        EXPECT_EQ(recorder.ranges, (std::vector<std::int64_t>{100, 1000, 0, 0, 2000, 1000}));
        EXPECT_EQ(recorder.bytes, wants ? PatternBytes(100, 1000) + PatternBytes(2000, 1000) : "");
    }

    Recorder refusing;
    refusing.refuse = Part(7);
    port.onEvent = [&](const tessera::JobEvent& event) { return refusing(event); };
    tessera::JobSettings settings;
    settings.pace = false;
    const tessera::JobResult result = RunSplitJob(port, abort, settings);
    EXPECT_EQ(result.fault, tessera::JobFault::Check);
    EXPECT_EQ(result.path, Part(7));
    EXPECT_EQ(port.LastStatus(), "ファイルの照合に失敗 : " + Part(7));
    EXPECT_FALSE(Exists(Part(8)));
}

// What is no regular file is not cut: nothing shows, nothing is written,
// and the result names it and says what it is. A pipe is never waited for.
TEST_F(SplitJob, NoRegularSourceChangesNothing)
{
    const std::string folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string socket = dir.file("socket");
    ASSERT_TRUE(tessera::test::MakeSocket(socket));
    const struct {
        std::string path;
        std::uint32_t type;
    } rows[] = {{std::string(), 0u},  {dir.file("missing"), 0u}, {folder, S_IFDIR},
                {fifo, S_IFIFO},      {"/dev/zero", S_IFCHR},    {socket, S_IFSOCK}};
    for (const auto& row : rows) {
        FakeJobPort quiet;
        quiet.source = row.path;
        quiet.plan = {"0 0"};
        abort = true;
        const tessera::JobResult result = RunSplitJob(quiet, abort);
        EXPECT_EQ(result.end, tessera::JobEnd::NotStarted) << row.path;
        EXPECT_EQ(result.fault, tessera::JobFault::SourceNotRegular) << row.path;
        EXPECT_EQ(result.path, row.path);
        EXPECT_EQ(result.fileType, row.type) << row.path;
        EXPECT_FALSE(abort) << row.path;  // cleared all the same
        EXPECT_TRUE(quiet.Statuses().empty()) << row.path;
        EXPECT_TRUE(quiet.Progress().empty()) << row.path;
        EXPECT_TRUE(quiet.Switches().empty()) << row.path;
    }
    EXPECT_FALSE(Exists(folder + ".000"));
    EXPECT_FALSE(Exists(fifo + ".000"));
}

// A /proc file reports a size of 0 but has content: cut by its size it would
// give empty parts, so it is refused as a read failure before any part.
TEST_F(SplitJob, SourceLongerThanItsSizeIsRefused)
{
    const std::string proc = "/proc/self/status";
    port.source = proc;
    port.plan = {"0 0"};
    tessera::JobSettings settings;
    settings.partFolder = dir.path();
    const tessera::JobResult result = RunSplitJob(port, abort, settings);
    EXPECT_EQ(result.fault, tessera::JobFault::LongerThanSize);
    EXPECT_EQ(result.path, proc);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの読込に失敗 : " + proc});
    EXPECT_FALSE(Exists(dir.file("status.000")));
    ExpectEndedIdle();
}

TEST_F(SplitJob, BadEntryRefusesThePlanBeforeAnyPart)
{
    for (const char* bad : {"200 100", "abc", "5", "-5 10"}) {
        FakeJobPort p;
        p.source = source;
        p.plan = {"0 10", bad};
        WritePatternFile(source, 300);
        EXPECT_EQ(RunSplitJob(p, abort).Code(), -1) << bad;
        EXPECT_EQ(p.Statuses(), std::vector<std::string>{"中止"}) << bad;
        EXPECT_FALSE(Exists(Part(0))) << bad;
        EXPECT_EQ(p.Switches(), (std::vector<bool>{false, true})) << bad;
    }
}

TEST_F(SplitJob, SourceHeldForWritingIsAborted)
{
    Plan(30, {"0 10"});
    NFilePSDK writer(source, NFilePSDK::Form::Writing);
    ASSERT_TRUE(writer.IsOpen());
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"中止"});
    EXPECT_FALSE(Exists(Part(0)));
    ExpectEndedIdle();
}

// A line that ends past the end of the source could only be cut short: the
// whole plan is refused before any part exists, as a line that does not read
// back is.
TEST_F(SplitJob, EntryPastTheEndRefusesThePlanBeforeAnyPart)
{
    Plan(10, {"0 5", "5 11", "0 1"});
    const tessera::JobResult result = RunSplitJob(port, abort);
    EXPECT_EQ(result.fault, tessera::JobFault::PlanPastEnd);
    EXPECT_EQ(result.line, 1u);
    EXPECT_EQ(result.size, 10);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"中止"});
    EXPECT_FALSE(Exists(Part(0)));
    ExpectEndedIdle();
}

TEST_F(SplitJob, TransferBufferThatCannotBeHadIsReported)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers need the address space this test takes away";
#endif
    // A fresh process: a heap that kept an earlier job's buffer would serve
    // the allocation without asking the system.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Plan(30, {"0 10"});
    auto runWithoutRoom = [&] {
        // Leave the address space too little room for the buffer.
        long pages = 0;
        if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlim_t room = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (8 << 20);
        const rlimit limit{room, room};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            return 2;
        const bool reported = Run() == -1 && port.Statuses() == std::vector<std::string>{"メモリの確保に失敗"} &&
                              port.Switches() == std::vector<bool>{false, true} && !Exists(Part(0));
        return reported ? 0 : 1;
    };
    EXPECT_EXIT(::_exit(runWithoutRoom()), ::testing::ExitedWithCode(0), "");
}

TEST_F(SplitJob, HugeEntriesDoNotOverflowTheTotal)
{
    Plan(10, {"0 9223372036854775807", "1 9223372036854775807"});
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"中止"});
    EXPECT_TRUE(port.Progress().empty());
    EXPECT_FALSE(Exists(Part(0)));
    ExpectEndedIdle();
}

TEST_F(SplitJob, SourceTruncatedDuringTheJobIsAReadFailure)
{
    Plan(kBlock + 100, {"0 16777316"});
    port.onStatus = [&](const std::string& text) {
        if (text == Writing(Part(0))) {
            ASSERT_EQ(::truncate(source.c_str(), 50), 0);
        }
    };
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.LastStatus(), "ファイルの読込に失敗 : " + source);
    EXPECT_EQ(ReadFile(Part(0)).size(), static_cast<std::size_t>(kBlock));
    ExpectEndedIdle();
}

TEST_F(SplitJob, AbortBetweenBlocksKeepsWholeBlocks)
{
    Plan(3 * kBlock, {"0 50331648", "0 10"});
    tessera::JobResult result;
    std::thread worker([&] { result = RunSplitJob(port, abort); });
    // Wait for the first block's write, then press Abort from this thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (port.Count(Writing(Part(0))) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto switches = port.Switches();
    ASSERT_FALSE(switches.empty());
    EXPECT_FALSE(switches.back());  // running while the copy goes on
    abort = true;
    worker.join();

    const std::string part = ReadFile(Part(0));
    EXPECT_EQ(result.path, Part(0));  // the part the abort cut short
    EXPECT_GT(part.size(), 0u);
    EXPECT_LT(part.size(), static_cast<std::size_t>(3 * kBlock));
    EXPECT_EQ(part.size() % kBlock, 0u);
    EXPECT_EQ(part, PatternBytes(0, part.size()));
    EXPECT_FALSE(Exists(Part(1)));  // no further entries
    EXPECT_EQ(port.LastStatus(), "終了");
    EXPECT_EQ(port.Progress().back(), tessera::kProgressRange);
    ExpectEndedIdle();
}

}  // namespace
