// Reads, writes and flushes that fail on a chosen block, through files the
// job opens from the test's opener: every such job ends with the failure and
// the file it concerns, never as finished.
#include <gtest/gtest.h>

#include "engine/FakeJobPort.h"
#include "engine/FaultyFiles.h"
#include "engine/Transfer.h"
#include "support/TempDir.h"

using namespace tessera;
using namespace tessera::test;

namespace {

constexpr std::int64_t kBlock = kTransferBufferSize;
// Two blocks: the fault falls on the second.
constexpr std::int64_t kSize = kBlock + 100;

struct Case {
    const char* name;
    FaultyFiles::Call call;
    JobFault fault;
    const char* status;
};

const Case kCases[] = {
    {"read", FaultyFiles::Call::Read, JobFault::Read, "ファイルの読込に失敗 : "},
    {"write", FaultyFiles::Call::Write, JobFault::Write, "ファイルの書込に失敗 : "},
    {"flush", FaultyFiles::Call::Flush, JobFault::Write, "ファイルの書込に失敗 : "},
};

// The window's settings, without its pauses: a flush after every block.
JobSettings Unpaced(const FileOpener& files)
{
    JobSettings settings;
    settings.pace = false;
    settings.files = &files;
    return settings;
}

void ExpectFailedWith(const FakeJobPort& port, const JobResult& result, const Case& c, const std::string& path)
{
    EXPECT_EQ(result.end, JobEnd::Failed) << c.name;
    EXPECT_EQ(result.fault, c.fault) << c.name;
    EXPECT_EQ(result.path, path) << c.name;
    EXPECT_EQ(result.error, EIO) << c.name;
    EXPECT_EQ(port.LastStatus(), c.status + path) << c.name;
    EXPECT_EQ(port.Count("終了"), 0) << c.name;
    EXPECT_EQ(port.Switches(), (std::vector<bool>{false, true})) << c.name;
}

TEST(InjectedFaults, SplitFailsOnTheSecondBlock)
{
    for (const Case& c : kCases) {
        TempDir dir;
        const std::string source = dir.file("s.bin");
        WritePatternFile(source, kSize);
        const std::string part = source + ".000";
        const FaultyFiles files(c.call == FaultyFiles::Call::Read ? source : part, c.call, 2);
        FakeJobPort port;
        port.source = source;
        port.plan = {{0, kSize}};
        std::atomic<bool> abort{false};
        SplitRequest request;
        request.settings = Unpaced(files);
        const JobResult result = RunSplitOf(port, abort, request);
        ExpectFailedWith(port, result, c, c.call == FaultyFiles::Call::Read ? source : part);
    }
}

TEST(InjectedFaults, JoinFailsOnTheSecondBlock)
{
    for (const Case& c : kCases) {
        TempDir dir;
        const std::string input = dir.file("in");
        WritePatternFile(input, kSize);
        const std::string out = dir.file("out");
        const FaultyFiles files(c.call == FaultyFiles::Call::Read ? input : out, c.call, 2);
        FakeJobPort port;
        port.destination = out;
        port.inputs = {input};
        std::atomic<bool> abort{false};
        JoinRequest request;
        request.settings = Unpaced(files);
        const JobResult result = RunJoinOf(port, abort, request);
        ExpectFailedWith(port, result, c, c.call == FaultyFiles::Call::Read ? input : out);
    }
}

// The flush that ends a job (each part, or the destination, on the disk) is
// checked as every other one.
TEST(InjectedFaults, FinalFlushThatFailsIsNamed)
{
    const Case& flush = kCases[2];
    TempDir dir;
    const std::string source = dir.file("s.bin");
    WritePatternFile(source, 100);
    const std::string part = source + ".000";
    const FaultyFiles splitFiles(part, FaultyFiles::Call::Flush, 1);
    JobSettings settings = Unpaced(splitFiles);
    settings.flushEveryBlock = false;
    settings.flushEveryPart = true;
    FakeJobPort split;
    split.source = source;
    split.plan = {{0, 100}};
    std::atomic<bool> abort{false};
    SplitRequest splitRequest;
    splitRequest.settings = settings;
    ExpectFailedWith(split, RunSplitOf(split, abort, splitRequest), flush, part);

    const std::string out = dir.file("out");
    const FaultyFiles joinFiles(out, FaultyFiles::Call::Flush, 1);
    settings.files = &joinFiles;
    FakeJobPort join;
    join.destination = out;
    join.inputs = {source};
    JoinRequest joinRequest;
    joinRequest.settings = settings;
    ExpectFailedWith(join, RunJoinOf(join, abort, joinRequest), flush, out);
}

}  // namespace
