#include "engine/SplitRun.h"
#include "engine/PartNames.h"
#include "engine/Progress.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <thread>

#include "engine/FakeJobPort.h"
#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"

using tessera::ProbeOutputName;
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
    void Plan(std::int64_t size, std::vector<tessera::SplitEntry> lines)
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
    int Run() { return tessera::test::RunSplitOf(port, abort).Code(); }

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
    Plan(1000, {{100, 200}, {0, 100}, {50, 150}, {7, 7}, {0, 1000}});
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
    Plan(kBlock + 1, {{0, 16777216}, {1, 16777217}});
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
    Plan(kBlock + 1, {{0, 16777217}});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(Part(0)), PatternBytes(0, kBlock + 1));
    EXPECT_EQ(port.Count(Reading(Part(0))), 2);
    // 2 * (2^24 + 1) rounds to 2^25 in single precision: the bar is full
    // from the second block on.
    EXPECT_EQ(port.Progress(), (std::vector<int>{0, 32768, 65536, 65536, 65536}));
}

TEST_F(SplitJob, ProbeFillsGapsAndNeverOverwrites)
{
    Plan(30, {{0, 10}, {10, 10}, {20, 20}});
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
    Plan(30, {{0, 10}, {10, 10}, {20, 20}});
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
    Plan(30, {{0, 10}});
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
    Plan(30, {{0, 10}});
    EXPECT_EQ(ProbeOutputName(source), Part(0));
    const tessera::JobResult result = tessera::test::RunSplitOf(port, abort);
    EXPECT_EQ(result.Code(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの作成に失敗 : " + Part(0)});
    EXPECT_EQ(result.path, Part(0));
    EXPECT_EQ(result.fault, tessera::JobFault::PartCreate);
    EXPECT_EQ(result.error, ENAMETOOLONG);
    ExpectEndedIdle();
}

TEST_F(SplitJob, AllThousandNamesTaken)
{
    Plan(30, {{0, 10}, {10, 20}});
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
    Plan(30, {{0, 10}, {10, 20}, {20, 30}});
    for (int n = 0; n < 1000; ++n) {
        if (n != 5 && n != 700)
            WriteFile(Part(n), "x");
    }
    const tessera::JobResult refused = tessera::test::RunSplitOf(port, abort);
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

// A million lines: refused at once, before any part.
TEST_F(SplitJob, MillionLinePlanIsRefusedBeforeAnyPart)
{
    Plan(30, std::vector<tessera::SplitEntry>(1'000'000, {0, 1}));
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの作成に失敗 : " + Part(0)});
    EXPECT_FALSE(Exists(Part(0)));
}

// Abort pressed as the job begins ends it before its first part, as an
// aborted job ends, with nothing written.
TEST_F(SplitJob, AbortAsTheJobBeginsEndsBeforeAnyPart)
{
    Plan(30, {{0, 10}, {10, 20}});
    port.onRunning = [&](bool running) {
        if (running)
            abort = true;
    };
    const tessera::JobResult result = tessera::test::RunSplitOf(port, abort);
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
    Plan(3000, {{100, 1100}, {0, 0}, {2000, 3000}});
    for (const bool wants : {false, true}) {
        Recorder recorder;
        port.wantsBytes = wants;
        port.onEvent = [&](const tessera::JobEvent& event) { return recorder(event); };
        tessera::SplitRequest request;
        request.settings.pace = false;
        request.settings.flushEveryBlock = false;
        request.settings.kernelCopy = true;
        const int first = wants ? 3 : 0;
        EXPECT_EQ(tessera::test::RunSplitOf(port, abort, request).Code(), 0);
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
    tessera::SplitRequest request;
    request.settings.pace = false;
    const tessera::JobResult result = tessera::test::RunSplitOf(port, abort, request);
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
        quiet.plan = {{0, 0}};
        abort = true;
        const tessera::JobResult result = tessera::test::RunSplitOf(quiet, abort);
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
    port.plan = {{0, 0}};
    tessera::SplitRequest request;
    request.folder = dir.path();
    const tessera::JobResult result = tessera::test::RunSplitOf(port, abort, request);
    EXPECT_EQ(result.fault, tessera::JobFault::LongerThanSize);
    EXPECT_EQ(result.path, proc);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"ファイルの読込に失敗 : " + proc});
    EXPECT_FALSE(Exists(dir.file("status.000")));
    ExpectEndedIdle();
}

TEST_F(SplitJob, BadEntryRefusesThePlanBeforeAnyPart)
{
    using tessera::SplitEntry;
    for (const SplitEntry bad : {SplitEntry{200, 100}, tessera::kUnreadableEntry, SplitEntry{-5, 10}}) {
        FakeJobPort p;
        p.source = source;
        p.plan = {{0, 10}, bad};
        WritePatternFile(source, 300);
        const std::string shown = tessera::FormatEntry(bad);
        EXPECT_EQ(tessera::test::RunSplitOf(p, abort).Code(), -1) << shown;
        EXPECT_EQ(p.Statuses(), std::vector<std::string>{"中止"}) << shown;
        EXPECT_FALSE(Exists(Part(0))) << shown;
        EXPECT_EQ(p.Switches(), (std::vector<bool>{false, true})) << shown;
    }
}

TEST_F(SplitJob, SourceHeldForWritingIsAborted)
{
    Plan(30, {{0, 10}});
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
    Plan(10, {{0, 5}, {5, 11}, {0, 1}});
    const tessera::JobResult result = tessera::test::RunSplitOf(port, abort);
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
    Plan(30, {{0, 10}});
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
    Plan(10, {{0, 9223372036854775807}, {1, 9223372036854775807}});
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"中止"});
    EXPECT_TRUE(port.Progress().empty());
    EXPECT_FALSE(Exists(Part(0)));
    ExpectEndedIdle();
}

TEST_F(SplitJob, SourceTruncatedDuringTheJobIsAReadFailure)
{
    Plan(kBlock + 100, {{0, 16777316}});
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
    Plan(3 * kBlock, {{0, 50331648}, {0, 10}});
    tessera::JobResult result;
    std::thread worker([&] { result = tessera::test::RunSplitOf(port, abort); });
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

// --- a run of part names taken before the first byte ------------------------

class NumberedSplit : public SplitJob {
protected:
    NumberedSplit()
    {
        request.numbering = tessera::PartNumbering::FromZero;
        request.settings.pace = false;
    }
    tessera::JobResult RunNumbered() { return tessera::test::RunSplitOf(port, abort, request); }
    // Everything in the folder but the source, sorted.
    std::vector<std::string> Left() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            if (entry.path().string() != source)
                names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    tessera::SplitRequest request;
};

// Every name the split will create exists before its first byte: the parts,
// the checksum file and the recovery set. The end carries them all.
TEST_F(NumberedSplit, EveryNameIsTakenBeforeTheFirstByteAndTheEndCarriesThem)
{
    Plan(3000, {{0, 1000}, {1000, 1000}, {1000, 3000}});
    request.checksums = true;
    request.recovery.amount = 10;
    std::vector<std::string> atFirstByte;
    port.onEvent = [&](const tessera::JobEvent& event) {
        if (event.kind == tessera::JobEvent::Kind::PieceBegun && atFirstByte.empty())
            atFirstByte = Left();
        return true;
    };
    const tessera::JobResult result = RunNumbered();
    ASSERT_EQ(result.end, tessera::JobEnd::Finished) << result.path;
    for (const char* name : {"a.bin.000", "a.bin.001", "a.bin.002", "a.bin.sha256", "a.bin.par2"})
        EXPECT_NE(std::find(atFirstByte.begin(), atFirstByte.end(), name), atFirstByte.end()) << name;
    EXPECT_EQ(ReadFile(Part(2)), PatternBytes(1000, 2000));

    const tessera::JobResult ended = port.Ended();
    ASSERT_EQ(ended.parts.size(), 3u);
    EXPECT_EQ(ended.parts[2].path, Part(2));
    EXPECT_EQ(ended.parts[2].offset, 1000);
    EXPECT_EQ(ended.parts[2].length, 2000);
    EXPECT_EQ(ended.checksumFile.state, tessera::SideState::Written);
    EXPECT_EQ(ended.checksumFile.path, source + ".sha256");
    EXPECT_EQ(ended.recoverySet.state, tessera::SideState::Written);
    EXPECT_EQ(ended.recoverySet.files.front(), source + ".par2");
    for (const std::string& file : ended.recoverySet.files)
        EXPECT_TRUE(Exists(file)) << file;
}

// A name of the run that exists refuses the split, and a folder at the
// checksum file's name refuses it even when replacing: before any file is
// created, and naming it.
TEST_F(NumberedSplit, ATakenNameRefusesTheSplitBeforeAnyFile)
{
    Plan(30, {{0, 10}, {10, 20}, {20, 30}});
    request.checksums = true;
    WriteFile(Part(1), "old");
    tessera::JobResult result = RunNumbered();
    EXPECT_EQ(result.fault, tessera::JobFault::PartsExist);
    EXPECT_EQ(result.path, Part(1));
    EXPECT_EQ(Left(), std::vector<std::string>{"a.bin.001"});
    EXPECT_EQ(ReadFile(Part(1)), "old");

    // Asked to, it numbers after what exists.
    request.numbering = tessera::PartNumbering::AfterExisting;
    ASSERT_EQ(RunNumbered().end, tessera::JobEnd::Finished);
    EXPECT_EQ(ReadFile(Part(2)), PatternBytes(0, 10));
    EXPECT_EQ(ReadFile(Part(4)), PatternBytes(20, 10));
    EXPECT_FALSE(Exists(Part(0)));
    std::filesystem::remove_all(dir.path() / "a.bin.sha256");

    ASSERT_EQ(::mkdir((source + ".sha256").c_str(), 0755), 0);
    request.replace = true;
    const auto before = Left();
    result = RunNumbered();
    EXPECT_EQ(result.fault, tessera::JobFault::ChecksumFile);
    EXPECT_EQ(result.checksumFile.state, tessera::SideState::NotAFile);
    EXPECT_EQ(result.path, source + ".sha256");
    EXPECT_EQ(Left(), before);
}

// A stop or a failure in the middle of a part leaves the parts done, whole,
// and nothing else: not the part cut short, not the names after it, not the
// checksum file. The end names the part cut short.
TEST_F(NumberedSplit, AStopOrAFailureLeavesOnlyTheWholeParts)
{
    const std::int64_t size = 3 * kBlock;
    Plan(size, {{0, 10}, {10, size}, {0, 5}});
    request.checksums = true;
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped" : "the source shrank");
        WritePatternFile(source, size);
        std::vector<std::string> leftAtTheEnd;
        port.onEvent = [&](const tessera::JobEvent& event) {
            if (event.kind == tessera::JobEvent::Kind::Ended)
                leftAtTheEnd = Left();
            if (event.kind == tessera::JobEvent::Kind::Writing && event.path == Part(1)) {
                if (stop)
                    abort = true;
                else
                    EXPECT_EQ(::truncate(source.c_str(), kBlock), 0);
            }
            return true;
        };
        const tessera::JobResult result = RunNumbered();
        EXPECT_EQ(result.end, stop ? tessera::JobEnd::Aborted : tessera::JobEnd::Failed);
        if (!stop) {
            EXPECT_EQ(result.fault, tessera::JobFault::Read);
            EXPECT_EQ(result.path, source);
        }
        EXPECT_EQ(result.cutShort, Part(1));
        // Cleaned up before the end is told.
        EXPECT_EQ(leftAtTheEnd, std::vector<std::string>{"a.bin.000"});
        EXPECT_EQ(Left(), std::vector<std::string>{"a.bin.000"});
        EXPECT_EQ(ReadFile(Part(0)), PatternBytes(0, 10));
        ASSERT_EQ(result.parts.size(), 1u);
        EXPECT_EQ(result.checksumFile.state, tessera::SideState::NotWritten);
        EXPECT_EQ(port.Ended().cutShort, Part(1));
        ASSERT_EQ(::unlink(Part(0).c_str()), 0);
    }
}

// A recovery set an earlier split left at the name, for parts this split
// replaces, is reported; asked to replace, the split removes it and its
// volumes.
TEST_F(NumberedSplit, AnEarlierRecoverySetIsReportedOrRemoved)
{
    Plan(3000, {{0, 1000}, {1000, 3000}});
    request.recovery.amount = 20;
    ASSERT_EQ(RunNumbered().end, tessera::JobEnd::Finished);
    const std::vector<std::string> set = port.Ended().recoverySet.files;
    ASSERT_GT(set.size(), 1u);
    for (const int n : {0, 1})
        ASSERT_EQ(::unlink(Part(n).c_str()), 0);

    request.recovery.amount = 0;
    tessera::JobResult result = RunNumbered();
    EXPECT_EQ(result.end, tessera::JobEnd::Finished);
    EXPECT_EQ(result.recoverySet.state, tessera::SideState::Stale);
    EXPECT_EQ(result.recoverySet.path, source + ".par2");
    for (const std::string& file : set)
        EXPECT_TRUE(Exists(file)) << file;
    for (const int n : {0, 1})
        ASSERT_EQ(::unlink(Part(n).c_str()), 0);

    request.replace = true;
    result = RunNumbered();
    EXPECT_EQ(result.recoverySet.state, tessera::SideState::Removed);
    for (const std::string& file : set)
        EXPECT_FALSE(Exists(file)) << file;
}

}  // namespace
