#include "engine/JoinRun.h"
#include "engine/PartNames.h"
#include "engine/Progress.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <unistd.h>

#include "engine/FakeJobPort.h"
#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"

using tessera::test::RunJoinOf;
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

class JoinJob : public ::testing::Test {
protected:
    void Plan(std::string destination, std::vector<std::string> inputs)
    {
        port.destination = std::move(destination);
        port.inputs = std::move(inputs);
    }
    int Run() { return RunJoinOf(port, abort).Code(); }
    void ExpectEndedIdle()
    {
        EXPECT_EQ(port.Switches(), (std::vector<bool>{false, true}));
    }

    TempDir dir;
    std::string a = dir.file("a"), b = dir.file("b"), c = dir.file("c");
    std::string out = dir.file("out");
    FakeJobPort port;
    std::atomic<bool> abort{false};
};

TEST_F(JoinJob, InputsBackToBackInListOrder)
{
    WriteFile(a, "0123456789");
    WriteFile(b, "");
    WriteFile(c, "abcde");
    WriteFile(out, std::string(100, '#'));  // an older, larger destination
    Plan(out, {a, b, c, a});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(out), "0123456789abcde0123456789");
    const std::vector<std::string> expected = {Reading(a), Writing(a), Reading(c), Writing(c),
                                               Reading(a), Writing(a), "終了"};
    EXPECT_EQ(port.Statuses(), expected);  // the empty input shows nothing
    EXPECT_EQ(port.Progress().back(), tessera::kProgressRange);
    ExpectEndedIdle();
}

TEST_F(JoinJob, EmptyListEmptiesTheDestination)
{
    WriteFile(out, "old");
    Plan(out, {});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(out), "");
    EXPECT_EQ(port.Statuses(), std::vector<std::string>{"終了"});
    ExpectEndedIdle();
}

TEST_F(JoinJob, SixteenMiBPlusOneInTwoBlocks)
{
    WritePatternFile(a, kBlock + 1);
    Plan(out, {a});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFile(out), PatternBytes(0, kBlock + 1));
    EXPECT_EQ(port.Count(Reading(a)), 2);
}

TEST_F(JoinJob, DestinationThatCannotBeCreatedIsAborted)
{
    WriteFile(a, "data");
    WriteFile(out, "held");
    NFilePSDK holder(out, NFilePSDK::Form::Reading);  // another opening
    ASSERT_TRUE(holder.IsOpen());
    const std::string fifo = dir.file("fifo");  // nobody reads it
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string nowhere = dir.file("nowhere");  // a symlink that leads nowhere
    const std::string target = dir.file("target");
    ASSERT_EQ(::symlink(target.c_str(), nowhere.c_str()), 0);
    // What stands at the name and keeps the join from writing there is
    // named; a name that leads nowhere is never followed.
    const struct {
        std::string destination;
        std::string status;
    } rows[] = {{std::string(), "中止"},
                {dir.file("no/folder/out"), "中止"},
                {out, "中止"},
                {fifo, "ファイルのオープンに失敗 : " + fifo},
                {folder, "ファイルのオープンに失敗 : " + folder},
                {nowhere, "ファイルの作成に失敗 : " + nowhere}};
    for (const auto& row : rows) {
        FakeJobPort p;
        p.destination = row.destination;
        p.inputs = {a};
        EXPECT_EQ(RunJoinOf(p, abort).Code(), -1) << row.destination;
        EXPECT_EQ(p.Statuses(), std::vector<std::string>{row.status}) << row.destination;
        EXPECT_TRUE(p.Progress().empty()) << row.destination;
        EXPECT_EQ(p.Switches(), (std::vector<bool>{false, true})) << row.destination;
    }
    EXPECT_EQ(ReadFile(out), "held");
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(JoinJob, DestinationInItsOwnListIsRefusedUntouched)
{
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    WriteFile(a, "data");
    WriteFile(out, "precious");
    const std::string link = dir.file("link");
    ASSERT_EQ(::symlink(out.c_str(), link.c_str()), 0);
    for (const std::string& spelling : {dir.file("./out"), dir.file("sub/../out"), link}) {
        FakeJobPort p;
        p.destination = out;
        p.inputs = {a, spelling};
        EXPECT_EQ(RunJoinOf(p, abort).Code(), -1) << spelling;
        EXPECT_EQ(p.Statuses(), std::vector<std::string>{"結合先ファイルが結合リストに含まれています : " + out})
            << spelling;
        EXPECT_EQ(p.Switches(), (std::vector<bool>{false, true}));
    }
    EXPECT_EQ(ReadFile(out), "precious");
}

TEST_F(JoinJob, FullDeviceIsAWriteFailure)
{
    WriteFile(a, "0123456789");
    Plan("/dev/full", {a});
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.LastStatus(), "ファイルの書込に失敗 : /dev/full");
    EXPECT_EQ(port.Count("終了"), 0);
    ExpectEndedIdle();
}

TEST_F(JoinJob, InputThatCannotBeOpenedIsNamed)
{
    WriteFile(a, "0123456789");
    WriteFile(b, "x");
    ASSERT_EQ(::mkdir(c.c_str(), 0755), 0);
    const std::string deleted = dir.file("deleted");
    WriteFile(deleted, "gone");
    ASSERT_EQ(::unlink(deleted.c_str()), 0);
    NFilePSDK writer(b, NFilePSDK::Form::Writing);  // held for writing elsewhere
    ASSERT_TRUE(writer.IsOpen());
    // The refusal comes before the destination is emptied.
    WriteFile(out, "old contents");
    for (const std::string& input : {deleted, b, c}) {
        FakeJobPort p;
        p.destination = out;
        p.inputs = {a, input};
        EXPECT_EQ(RunJoinOf(p, abort).Code(), -1) << input;
        EXPECT_EQ(p.Statuses(), std::vector<std::string>{"ファイルのオープンに失敗 : " + input}) << input;
        EXPECT_EQ(p.Switches(), (std::vector<bool>{false, true}));
        EXPECT_EQ(ReadFile(out), "old contents") << input;
    }
}

TEST_F(JoinJob, InputDeletedDuringTheJobIsNamed)
{
    WriteFile(a, "0123456789");
    WriteFile(b, "abcde");
    Plan(out, {a, b});
    port.onStatus = [&](const std::string& text) {
        if (text == Writing(a))
            ::unlink(b.c_str());
    };
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.LastStatus(), "ファイルのオープンに失敗 : " + b);
    EXPECT_EQ(ReadFile(out), "0123456789");
    ExpectEndedIdle();
}

TEST_F(JoinJob, InputTruncatedDuringTheJobIsAReadFailure)
{
    WritePatternFile(a, kBlock + 10);
    Plan(out, {a});
    port.onStatus = [&](const std::string& text) {
        if (text == Writing(a)) {
            ASSERT_EQ(::truncate(a.c_str(), 5), 0);
        }
    };
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(port.LastStatus(), "ファイルの読込に失敗 : " + a);
    EXPECT_EQ(port.Count("終了"), 0);
    EXPECT_EQ(ReadFile(out), PatternBytes(0, kBlock));
    ExpectEndedIdle();
}

// An input that holds more than its size said when it was opened (it grew,
// or it is a /proc file) would be copied short: the job fails and names it.
// So it is when the bytes are copied inside the kernel, where no read of
// the job's own sees the bytes past the size.
TEST_F(JoinJob, InputGrownDuringItsCopyFailsTheJob)
{
    tessera::JobSettings kernel;
    kernel.pace = false;
    kernel.flushEveryBlock = false;
    kernel.kernelCopy = true;
    for (const tessera::JobSettings& settings : {tessera::JobSettings{}, kernel}) {
        SCOPED_TRACE(settings.kernelCopy ? "copied in the kernel" : "read and written");
        WriteFile(a, "0123456789");
        WriteFile(b, "abc");
        FakeJobPort job;
        job.destination = out;
        job.inputs = {a, b};
        job.onStatus = [&](const std::string& text) {
            if (text == Reading(b))
                WriteFile(b, "abcdefgh");  // after b was opened and sized
        };
        tessera::JoinRequest request;
        request.settings = settings;
        const tessera::JobResult result = RunJoinOf(job, abort, request);
        EXPECT_EQ(result.fault, tessera::JobFault::LongerThanSize);
        EXPECT_EQ(result.path, b);
        EXPECT_EQ(job.LastStatus(), "ファイルの読込に失敗 : " + b);
        EXPECT_EQ(job.Count("終了"), 0);
        EXPECT_EQ(job.Switches(), (std::vector<bool>{false, true}));
    }
}

// Inputs that are no regular files, or whose size is not their length, are
// refused by name before the destination is created or emptied.
TEST_F(JoinJob, InputsThatAreNoRegularFilesAreRefusedByName)
{
    WriteFile(a, "0123456789");
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string socket = dir.file("socket");
    ASSERT_TRUE(tessera::test::MakeSocket(socket));
    ASSERT_EQ(::mkdir(c.c_str(), 0755), 0);
    const struct {
        std::string path;
        tessera::JobFault fault;
        std::uint32_t type;
    } rows[] = {
        {fifo, tessera::JobFault::InputNotRegular, S_IFIFO},
        {"/dev/zero", tessera::JobFault::InputNotRegular, S_IFCHR},
        {socket, tessera::JobFault::InputNotRegular, S_IFSOCK},
        {c, tessera::JobFault::InputNotRegular, S_IFDIR},
        {"/proc/self/status", tessera::JobFault::LongerThanSize, 0},
    };
    for (const bool existing : {false, true}) {
        for (const auto& row : rows) {
            if (existing)
                WriteFile(out, "old contents");
            else
                ::unlink(out.c_str());
            FakeJobPort p;
            p.destination = out;
            p.inputs = {a, row.path};
            const tessera::JobResult result = RunJoinOf(p, abort);
            EXPECT_EQ(result.fault, row.fault) << row.path;
            EXPECT_EQ(result.path, row.path);
            EXPECT_EQ(result.fileType, row.type) << row.path;
            const char* text = row.fault == tessera::JobFault::LongerThanSize ? "ファイルの読込に失敗 : "
                                                                               : "ファイルのオープンに失敗 : ";
            EXPECT_EQ(p.Statuses(), std::vector<std::string>{text + row.path}) << row.path;
            EXPECT_EQ(p.Switches(), (std::vector<bool>{false, true}));
            struct stat st;
            if (existing)
                EXPECT_EQ(ReadFile(out), "old contents") << row.path;
            else
                EXPECT_NE(::lstat(out.c_str(), &st), 0) << row.path << ": the destination was created";
        }
    }
}

// Asked not to replace, a join creates its destination exclusively: one that
// exists is refused untouched, and with a staged destination one that appears
// while the job runs is never replaced either.
TEST_F(JoinJob, DestinationThatMayNotBeReplacedIsNeverEmptied)
{
    WriteFile(a, "0123456789");
    WriteFile(out, "precious");
    tessera::JoinRequest request;
    request.settings.pace = false;
    request.replace = false;
    for (const bool staged : {false, true}) {
        request.stage = staged;
        FakeJobPort p;
        p.destination = out;
        p.inputs = {a};
        const tessera::JobResult result = RunJoinOf(p, abort, request);
        EXPECT_EQ(result.fault, tessera::JobFault::DestinationExists);
        EXPECT_EQ(result.path, out);
        EXPECT_EQ(p.Statuses(), std::vector<std::string>{"中止"});
        EXPECT_EQ(ReadFile(out), "precious");
    }

    // The name is free when the job looks, and taken before it ends.
    ASSERT_EQ(::unlink(out.c_str()), 0);
    request.stage = true;
    Plan(out, {a});
    port.onStatus = [&](const std::string& text) {
        if (text == Writing(a))
            WriteFile(out, "appeared meanwhile");
    };
    const tessera::JobResult raced = RunJoinOf(port, abort, request);
    EXPECT_EQ(raced.fault, tessera::JobFault::DestinationExists);
    EXPECT_EQ(ReadFile(out), "appeared meanwhile");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "a temporary file is left";
}

// A staged destination appears only whole: a job that fails or is stopped
// leaves the old file and no temporary file; one that finishes replaces the
// old file's name, never its bytes (a hard link keeps them).
TEST_F(JoinJob, StagedDestinationAppearsOnlyWhole)
{
    WriteFile(a, "0123456789");
    WriteFile(b, "abc");
    WriteFile(out, "old contents");
    const std::string hard = dir.file("hard");
    ASSERT_EQ(::link(out.c_str(), hard.c_str()), 0);
    tessera::JoinRequest request;
    request.settings.pace = false;
    request.stage = true;

    Plan(out, {a, b});
    port.onEvent = [&](const tessera::JobEvent& event) {
        return !(event.kind == tessera::JobEvent::Kind::PieceEnded && event.path == b);
    };
    EXPECT_EQ(RunJoinOf(port, abort, request).fault, tessera::JobFault::Check);
    EXPECT_EQ(ReadFile(out), "old contents");

    std::ptrdiff_t atTheEnd = 0;
    port.onEvent = [&](const tessera::JobEvent& event) {
        if (event.kind == tessera::JobEvent::Kind::PieceEnded)
            abort = true;
        if (event.kind == tessera::JobEvent::Kind::Ended)
            atTheEnd = std::distance(std::filesystem::directory_iterator(dir.path()), {});
        return true;
    };
    EXPECT_EQ(RunJoinOf(port, abort, request).end, tessera::JobEnd::Aborted);
    EXPECT_EQ(ReadFile(out), "old contents");
    // Removed before the end is told.
    EXPECT_EQ(atTheEnd, 4) << "a temporary file is left";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4) << "a temporary file is left";

    port.onEvent = nullptr;
    EXPECT_EQ(RunJoinOf(port, abort, request).end, tessera::JobEnd::Finished);
    EXPECT_EQ(ReadFile(out), "0123456789abc");
    EXPECT_EQ(ReadFile(hard), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

// Abort pressed while a long input list is being looked at stops the job
// before the destination is touched.
TEST_F(JoinJob, AbortWhileTheInputsAreLookedAtLeavesTheDestination)
{
    constexpr std::size_t kInputs = 4106;
    WriteFile(a, "abc");
    WriteFile(out, "old");
    Plan(out, std::vector<std::string>(kInputs, a));
    port.onRunning = [&](bool running) {
        if (running)
            abort = true;
    };
    const tessera::JobResult result = RunJoinOf(port, abort);
    EXPECT_EQ(result.end, tessera::JobEnd::Aborted);
    EXPECT_EQ(port.LastStatus(), "終了");
    EXPECT_EQ(ReadFile(out), "old");
    ExpectEndedIdle();

    // Unpaced: 4,106 inputs at the window's pace would take minutes.
    port.onRunning = nullptr;
    tessera::JoinRequest unpaced;
    unpaced.settings.pace = false;
    unpaced.settings.flushEveryBlock = false;
    EXPECT_EQ(RunJoinOf(port, abort, unpaced).end, tessera::JobEnd::Finished);
    EXPECT_EQ(ReadFile(out).size(), 3 * kInputs);
}

}  // namespace
