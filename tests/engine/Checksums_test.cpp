#include "engine/Checksums.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <cstdio>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

#include "FaultyFiles.h"
#include "engine/FakeJobPort.h"
#include "engine/JoinRun.h"
#include "engine/Manifest.h"
#include "engine/SplitRun.h"
#include "engine/kernels/Cpu.h"
#include "fileio/NFilePSDK.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

using test::FakeJobPort;
using test::FaultyFiles;
using test::TempDir;

constexpr std::int64_t kBlock = kHashBlock;

// What GNU sha256sum says of the file at path.
std::string Sha256Sum(const std::string& path)
{
    const std::string command = "sha256sum < '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 65> digest{};
    const std::size_t got = pipe ? std::fread(digest.data(), 1, 64, pipe) : 0;
    if (pipe)
        ::pclose(pipe);
    return got == 64 ? std::string(digest.data(), 64) : "sha256sum failed";
}

// The job at full speed, as the command line runs it: copied inside the
// kernel, with its digests taken beside the copy.
JobSettings Fast()
{
    JobSettings settings;
    settings.pace = false;
    settings.flushEveryBlock = false;
    settings.kernelCopy = true;
    settings.streamingCache = false;
    return settings;
}

SplitEntry Line(std::int64_t start, std::int64_t end)
{
    return {start, end};
}

class ChecksummedSplit : public ::testing::Test {
protected:
    // Splits a source of size pattern bytes by lines, with a checksum file;
    // the parts' paths in plan order.
    JobResult Split(std::int64_t size, std::vector<SplitEntry> lines)
    {
        test::WritePatternFile(source, size);
        port.source = source;
        port.plan = std::move(lines);
        port.onEvent = [this](const JobEvent& event) {
            if (event.kind == JobEvent::Kind::PieceBegun)
                parts.emplace_back(event.path);
            return true;
        };
        return Run();
    }
    JobResult Run()
    {
        SplitRequest request;
        request.checksums = true;
        request.settings = Fast();
        request.settings.hashFiles = hashFiles;
        return test::RunSplitOf(port, abort, request);
    }
    // What the checksum file lists: the parts' digests, and the source's.
    std::vector<std::string> Digests() const
    {
        std::vector<std::string> digests;
        for (const ManifestLine& line : ReadManifestFile(source + ".sha256").lines) {
            if (line.name != "src")
                digests.push_back(line.digest);
        }
        return digests;
    }
    std::string WholeDigest() const
    {
        for (const ManifestLine& line : ReadManifestFile(source + ".sha256").lines) {
            if (line.name == "src")
                return line.digest;
        }
        return "";
    }

    TempDir dir;
    std::string source = dir.file("src");
    FakeJobPort port;
    const FileOpener* hashFiles = nullptr;
    std::vector<std::string> parts;
    std::atomic<bool> abort{false};
};

// Ranges around the hashing block's size, one after another: every digest,
// the parts' and the source's, is sha256sum's.
TEST_F(ChecksummedSplit, DigestsAroundTheBlockSizeAreSha256sums)
{
    const std::int64_t sizes[] = {0, 1, kBlock - 1, kBlock, kBlock + 1};
    std::vector<SplitEntry> lines;
    std::int64_t at = 0;
    for (const std::int64_t size : sizes) {
        lines.push_back(Line(at, at + size));
        at += size;
    }
    const JobResult result = Split(at, lines);
    ASSERT_EQ(result.end, JobEnd::Finished) << result.path;
    const std::vector<std::string> digests = Digests();
    ASSERT_EQ(digests.size(), std::size(sizes));
    for (std::size_t i = 0; i < parts.size(); ++i)
        EXPECT_EQ(digests[i], Sha256Sum(parts[i])) << "part of " << sizes[i] << " bytes";
    EXPECT_EQ(WholeDigest(), Sha256Sum(source));
}

// Ranges that overlap and go backwards: each part's digest is its own, and
// there is no source digest.
TEST_F(ChecksummedSplit, OverlappingAndBackwardPlans)
{
    const JobResult result =
        Split(3 * kBlock, {Line(kBlock, 3 * kBlock), Line(0, kBlock + 7), Line(5, 5), Line(kBlock - 3, kBlock + 3)});
    ASSERT_EQ(result.end, JobEnd::Finished) << result.path;
    const std::vector<std::string> digests = Digests();
    ASSERT_EQ(digests.size(), 4u);
    for (std::size_t i = 0; i < parts.size(); ++i)
        EXPECT_EQ(digests[i], Sha256Sum(parts[i])) << i;
    EXPECT_EQ(WholeDigest(), "");
}

// A read that fails on the hashing side fails the job and names the source,
// though every copy succeeded.
TEST_F(ChecksummedSplit, AReadFailureOnTheHashingSideFailsTheJob)
{
    const FaultyFiles faulty(source, FaultyFiles::Call::Read, 3, EIO);
    hashFiles = &faulty;
    const JobResult result = Split(4 * kBlock, {Line(0, 2 * kBlock), Line(2 * kBlock, 4 * kBlock)});
    EXPECT_EQ(result.end, JobEnd::Failed);
    EXPECT_EQ(result.fault, JobFault::Read);
    EXPECT_EQ(result.path, source);
    EXPECT_EQ(result.error, EIO);
    EXPECT_TRUE(Digests().empty());
}

// A source cut short after the job admitted it: the job fails naming it,
// whichever side finds it first.
TEST_F(ChecksummedSplit, ASourceTruncatedMeanwhileFailsTheJob)
{
    test::WritePatternFile(source, 8 * kBlock);
    port.source = source;
    port.plan = {Line(0, 4 * kBlock), Line(4 * kBlock, 8 * kBlock)};
    bool cut = false;
    port.onEvent = [&](const JobEvent& event) {
        if (event.kind == JobEvent::Kind::PieceBegun && !cut) {
            cut = true;
            EXPECT_EQ(::truncate(source.c_str(), kBlock), 0);
        }
        return true;
    };
    const JobResult result = Run();
    EXPECT_EQ(result.end, JobEnd::Failed);
    EXPECT_EQ(result.fault, JobFault::Read);
    EXPECT_EQ(result.path, source);
    EXPECT_TRUE(Digests().empty());
}

// An abort in the middle of a part ends the job at once, names that part and
// leaves no digests.
TEST_F(ChecksummedSplit, AnAbortNamesThePartCutShortAndLeavesNoDigests)
{
    test::WritePatternFile(source, 4 * kBlock);
    port.source = source;
    port.plan = {Line(0, kBlock), Line(kBlock, 4 * kBlock)};
    std::string cut;
    port.onEvent = [&](const JobEvent& event) {
        if (event.kind == JobEvent::Kind::PieceBegun && event.offset == kBlock) {
            cut = std::string(event.path);
            abort.store(true);
        }
        return true;
    };
    const JobResult result = Run();
    EXPECT_EQ(result.end, JobEnd::Aborted);
    EXPECT_EQ(result.path, cut);
    EXPECT_TRUE(Digests().empty());
}

class CheckedJoin : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 5; ++i) {
            inputs.push_back(dir.file("p." + std::to_string(i)));
            test::WritePatternFile(inputs.back(), kBlock + i * 1000);
            checks.expected.push_back(Sha256Sum(inputs.back()));
        }
        std::string all;
        for (const std::string& input : inputs)
            all += test::ReadFile(input);
        test::WriteFile(dir.file("all"), all);
        wholeDigest = Sha256Sum(dir.file("all"));
        port.destination = dir.file("out");
        port.inputs = inputs;
    }

    // Joins, checked against a checksum file that lists checks.expected
    // (and checks.expectedWhole as the source's line, when set).
    JobResult Join()
    {
        std::vector<ManifestLine> lines;
        for (std::size_t i = 0; i < inputs.size(); ++i)
            lines.push_back({checks.expected[i], NameOf(inputs[i])});
        const std::string manifest = dir.file("all.sha256");
        test::WriteFile(manifest, ManifestText(lines, dir.file("all"), checks.expectedWhole));
        JoinRequest request;
        request.check = JoinCheck::Given;
        request.manifest = manifest;
        request.stage = true;
        request.settings = Fast();
        request.settings.hashFiles = hashFiles;
        std::atomic<bool> abort{false};
        return test::RunJoinOf(port, abort, request);
    }

    TempDir dir;
    std::vector<std::string> inputs;
    std::string wholeDigest;
    FakeJobPort port;
    JobChecksums checks;
    const FileOpener* hashFiles = nullptr;
};

// One changed byte in the third input is found and named, whether the
// inputs are checked one by one or all together against the source's
// digest; the output never appears.
TEST_F(CheckedJoin, OneChangedByteNamesItsInput)
{
    for (const bool withSource : {false, true}) {
        SCOPED_TRACE(withSource ? "against the source's digest" : "input by input");
        checks.expectedWhole = withSource ? wholeDigest : "";
        ASSERT_EQ(Join().end, JobEnd::Finished);
        EXPECT_EQ(test::ReadFile(port.destination), test::ReadFile(dir.file("all")));
        ASSERT_EQ(::unlink(port.destination.c_str()), 0);

        std::string third = test::ReadFile(inputs[2]);
        third[kBlock / 2] ^= 1;
        test::WriteFile(inputs[2], third);
        const JobResult result = Join();
        EXPECT_EQ(result.end, JobEnd::Failed);
        EXPECT_EQ(result.fault, JobFault::Check);
        EXPECT_EQ(result.path, inputs[2]);
        EXPECT_FALSE(std::filesystem::exists(port.destination));
        third[kBlock / 2] ^= 1;
        test::WriteFile(inputs[2], third);
    }
}

// Every input as listed, but the source's digest differs: the output is
// what fails.
TEST_F(CheckedJoin, ASourceDigestThatDiffersNamesTheOutput)
{
    checks.expectedWhole = std::string(64, '0');
    const JobResult result = Join();
    EXPECT_EQ(result.fault, JobFault::Check);
    EXPECT_EQ(result.path, port.destination);
    EXPECT_FALSE(std::filesystem::exists(port.destination));
}

// A read failure on the hashing side names the input.
TEST_F(CheckedJoin, AReadFailureOnTheHashingSideNamesTheInput)
{
    const FaultyFiles faulty(inputs[3], FaultyFiles::Call::Read, 1, EIO);
    hashFiles = &faulty;
    for (const bool withSource : {false, true}) {
        checks.expectedWhole = withSource ? wholeDigest : "";
        const JobResult result = Join();
        EXPECT_EQ(result.fault, JobFault::Read);
        EXPECT_EQ(result.path, inputs[3]);
        EXPECT_EQ(result.error, EIO);
        EXPECT_FALSE(std::filesystem::exists(port.destination));
    }
}

}  // namespace
}  // namespace tessera

namespace tessera {
namespace {

}  // namespace
}  // namespace tessera

namespace tessera {
namespace {

// Ranges of a sparse source at and above 4 GiB: the offsets reach the reads
// whole, and the holes hash as the zeros they read as.
TEST(HashStreams, RangesAtAndAbove4GiBOfASparseSource)
{
    test::TempDir dir;
    const std::string source = dir.file("sparse");
    constexpr std::int64_t k4GiB = std::int64_t{1} << 32;
    {
        NFilePSDK file(source, NFilePSDK::Form::CreateNew);
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(file.Seek(k4GiB - 2, 0));
        ASSERT_EQ(file.Write("abcd", 4), 4u);
        ASSERT_TRUE(file.Seek(k4GiB + kBlock + 10, 0));
        ASSERT_EQ(file.Write("z", 1), 1u);
    }
    const std::vector<HashRange> ranges = {{source, k4GiB - 3, 6}, {source, k4GiB, kBlock + 11}, {source, k4GiB + 1, 0}};
    // The same bytes, written out small.
    test::WriteFile(dir.file("a"), std::string("\0abcd\0", 6));
    test::WriteFile(dir.file("b"), "cd" + std::string(kBlock + 8, '\0') + "z");
    test::WriteFile(dir.file("c"), "");
    test::WriteFile(dir.file("abc"), test::ReadFile(dir.file("a")) + test::ReadFile(dir.file("b")));
    const std::atomic<bool> never{false};
    for (const int threads : {1, 2, 3}) {
        HashSettings settings;
        settings.whole = true;
        settings.threads = std::min(threads, 2);
        // and without the SHA instructions
        const cpu::Ceiling ceiling(threads != 3 ? cpu::kAll : cpu::kAll & ~cpu::kSha);
        HashStreams streams(ranges, settings, never);
        streams.Run();
        ASSERT_TRUE(streams.Complete());
        EXPECT_EQ(streams.Pieces()[0].digest, Sha256Sum(dir.file("a")));
        EXPECT_EQ(streams.Pieces()[1].digest, Sha256Sum(dir.file("b")));
        EXPECT_EQ(streams.Pieces()[2].digest, Sha256Sum(dir.file("c")));
        EXPECT_EQ(streams.Whole(), Sha256Sum(dir.file("abc")));
    }
}

// Two threads share the ranges of a whole-source hashing: one reads them in
// order for the whole digest and takes some ranges' digests on the same pass,
// the other takes ranges from the back. Many small ranges, none a multiple of
// the digest's block, so that the two meet mid-way and the front's two
// digests run out of step: a range digested twice or by neither, or a block
// fed to the wrong digest, shows here.
TEST(HashStreams, TheWholeDigestAndManyRangesSharedByTwoThreads)
{
    test::TempDir dir;
    const std::string source = dir.file("source");
    std::string bytes(3 * kBlock + 777, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 2654435761u >> 11);
    test::WriteFile(source, bytes);
    std::vector<HashRange> ranges;
    for (std::int64_t at = 0; at < std::int64_t(bytes.size());) {
        const std::int64_t length = std::min<std::int64_t>(at % 3 == 0 ? 40001 : 70003, bytes.size() - at);
        ranges.push_back({source, at, length});
        at += length;
    }
    const std::atomic<bool> never{false};
    for (int round = 0; round < 6; ++round) {
        HashSettings settings;
        settings.whole = true;
        settings.threads = 2;
        // and without the SHA instructions
        const cpu::Ceiling ceiling(round % 3 != 2 ? cpu::kAll : cpu::kAll & ~cpu::kSha);
        HashStreams streams(ranges, settings, never);
        streams.Run();
        ASSERT_TRUE(streams.Complete());
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            const std::string piece = dir.file("piece");
            test::WriteFile(piece, bytes.substr(ranges[i].offset, ranges[i].length));
            ASSERT_EQ(streams.Pieces()[i].digest, Sha256Sum(piece)) << "range " << i << ", round " << round;
        }
        EXPECT_EQ(streams.Whole(), Sha256Sum(source));
    }
}

}  // namespace
}  // namespace tessera

namespace tessera {
namespace {

// An abort stops every stream in the middle of its range: nothing is left
// complete, and no digest of part of a range is given as the range's.
TEST(HashStreams, AnAbortStopsEveryStreamMidRange)
{
    test::TempDir dir;
    const std::string source = dir.file("sparse");
    constexpr std::int64_t kSize = std::int64_t{4} << 30;
    test::WriteFile(source, "");
    ASSERT_EQ(::truncate(source.c_str(), kSize), 0);
    for (const int threads : {1, 2}) {
        std::atomic<bool> abort{false};
        HashSettings settings;
        settings.whole = true;
        settings.threads = threads;
        HashStreams streams({{source, 0, kSize}, {source, 0, kSize}}, settings, abort);
        streams.Start();
        streams.Wait([&] { abort.store(true); });
        EXPECT_FALSE(streams.Complete());
        EXPECT_FALSE(streams.Failed());
        EXPECT_LT(streams.Done(), kSize);
        EXPECT_EQ(streams.Pieces()[0].digest, "");
        EXPECT_EQ(streams.Pieces()[1].digest, "");
        EXPECT_EQ(streams.Whole(), "");
    }
}

}  // namespace
}  // namespace tessera
