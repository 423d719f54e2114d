#include "engine/StreamCut.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/kernels/Sha256.h"
#include "fileio/NFilePSDK.h"
#include "plan/SnapPlanner.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Parts kept in memory, with what was done to them; a write can be made to
// fail, or to raise the abort flag.
class MemoryParts : public StreamParts {
public:
    std::vector<std::string> parts;
    std::vector<std::size_t> begun;
    bool open = false;
    int abandoned = 0;
    // Writes fail with this errno once this many parts have ended.
    std::size_t failAfter = SIZE_MAX;
    int failWith = ENOSPC;
    std::atomic<bool>* abortAfterFirst = nullptr;

    int Begin(std::size_t index) override
    {
        EXPECT_FALSE(open);
        begun.push_back(index);
        parts.emplace_back();
        open = true;
        return 0;
    }
    int Write(const std::uint8_t* bytes, std::size_t size) override
    {
        EXPECT_TRUE(open);
        if (parts.size() > failAfter)
            return failWith;
        parts.back().append(reinterpret_cast<const char*>(bytes), size);
        return 0;
    }
    int End() override
    {
        EXPECT_TRUE(open);
        open = false;
        if (abortAfterFirst)
            *abortAfterFirst = true;
        return 0;
    }
    void Abandon() override
    {
        ++abandoned;
        open = false;
        parts.pop_back();
    }
};

// The stream as a file read from its start.
class StreamCutTest : public ::testing::Test {
protected:
    StreamCutResult Cut(const std::string& data, const StreamCut& cut, MemoryParts& parts,
                        StreamCutSettings settings = {})
    {
        WriteFile(path, data);
        NFilePSDK input(path, NFilePSDK::Form::Stream);
        EXPECT_TRUE(input.IsOpen());
        if (!settings.spill)
            settings.spill = [this] { return std::make_unique<NFilePSDK>(NFilePSDK::Scratch(dir.path().string())); };
        return CutStream(input, cut, parts, abort, settings);
    }

    TempDir dir;
    const std::string path = dir.file("stream");
    std::atomic<bool> abort{false};
};

std::vector<std::int64_t> Lengths(const std::vector<std::string>& parts)
{
    std::vector<std::int64_t> lengths;
    for (const std::string& p : parts)
        lengths.push_back(static_cast<std::int64_t>(p.size()));
    return lengths;
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& p : parts)
        all += p;
    return all;
}

TEST_F(StreamCutTest, FixedPiecesAsTheStreamComes)
{
    struct Case {
        std::size_t bytes;
        std::int64_t piece;
        std::size_t block;
        std::vector<std::int64_t> lengths;
    };
    const std::vector<Case> cases{
        {0, 4, 3, {}},                  // an empty stream makes no part
        {3, 4, 3, {3}},                 // one part, shorter than a piece
        {8, 4, 3, {4, 4}},              // no empty part after the last whole one
        {10, 4, 3, {4, 4, 2}},
        {10, 4, 100, {4, 4, 2}},
        {10, 1, 4, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        std::string data;
        for (std::size_t i = 0; i < c.bytes; ++i)
            data += static_cast<char>('a' + i % 26);
        MemoryParts parts;
        StreamCutSettings settings;
        settings.block = c.block;
        const StreamCutResult result = Cut(data, {c.piece, {}}, parts, settings);
        EXPECT_EQ(result.end, StreamCutResult::End::Finished);
        EXPECT_EQ(result.lengths, c.lengths) << c.bytes << " bytes in pieces of " << c.piece;
        EXPECT_EQ(Lengths(parts.parts), c.lengths);
        EXPECT_EQ(Joined(parts.parts), data);
        EXPECT_EQ(result.read, static_cast<std::int64_t>(c.bytes));
    }
}

TEST_F(StreamCutTest, SnappedPartsAreThePlannersAndEachDigestItsPart)
{
    ASSERT_EQ(Sha256::Load(), "");
    std::mt19937 random(5);
    std::string data;
    while (data.size() < 20'000) {
        data.append(random() % 300, static_cast<char>('a' + random() % 26));
        data += '\n';
    }
    const std::vector<std::uint8_t> newline{'\n'};
    std::vector<std::int64_t> expected;
    {
        WriteFile(path, data);
        const auto planned = PlanSnapped(path, static_cast<std::int64_t>(data.size()), 500, newline, kMaxSplitLines);
        ASSERT_TRUE(planned);
        for (const SplitEntry& e : *planned)
            expected.push_back(e.end - e.start);
    }
    for (const std::size_t block : {std::size_t{1}, std::size_t{37}, std::size_t{4096}, std::size_t{1 << 20}}) {
        MemoryParts parts;
        StreamCutSettings settings;
        settings.block = block;
        settings.digests = true;
        const StreamCutResult result = Cut(data, {500, newline}, parts, settings);
        ASSERT_EQ(result.end, StreamCutResult::End::Finished);
        EXPECT_EQ(result.lengths, expected) << "blocks of " << block;
        EXPECT_EQ(Joined(parts.parts), data);
        ASSERT_EQ(result.digests.size(), parts.parts.size());
        for (std::size_t i = 0; i < parts.parts.size(); ++i) {
            Sha256 sha;
            sha.Update(parts.parts[i].data(), parts.parts[i].size());
            EXPECT_EQ(result.digests[i], sha.Finish()) << "part " << i;
        }
    }
}

// A record longer than the memory a cut may hold back waits in the spill
// file: the parts are the same, and memory stays within its bound.
TEST_F(StreamCutTest, LongRecordsWaitInTheSpillFile)
{
    std::string data(3000, 'x');
    data[100] = '\n';
    data[2900] = '\n';
    data += std::string(50, 'y');
    const std::vector<std::uint8_t> newline{'\n'};
    for (const std::size_t bound : {std::size_t{16}, std::size_t{1000}, std::size_t{1 << 20}}) {
        MemoryParts parts;
        StreamCutSettings settings;
        settings.block = 64;
        settings.pendingBound = bound;
        const StreamCutResult result = Cut(data, {2000, newline}, parts, settings);
        ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.error;
        // The first 2000 bytes hold the line feed at 100 only; the next 2000
        // none, and are cut at 2000; fewer are left after them.
        EXPECT_EQ(result.lengths, (std::vector<std::int64_t>{101, 2000, 949})) << bound;
        EXPECT_EQ(Joined(parts.parts), data);
    }
    // Without a file to spill to, a long record cannot wait.
    MemoryParts parts;
    StreamCutSettings settings;
    settings.block = 64;
    settings.pendingBound = 16;
    settings.spill = [] { return std::make_unique<NFilePSDK>(); };
    EXPECT_EQ(Cut(data, {2000, newline}, parts, settings).end, StreamCutResult::End::SpillFailed);
    EXPECT_FALSE(parts.open);
    EXPECT_TRUE(parts.parts.empty());
}

TEST(PendingBytes, MemoryStaysWithinItsBound)
{
    TempDir dir;
    PendingBytes pending(100, [&] { return std::make_unique<NFilePSDK>(NFilePSDK::Scratch(dir.path().string())); });
    std::string taken;
    const auto out = [&](const std::uint8_t* bytes, std::size_t size) {
        taken.append(reinterpret_cast<const char*>(bytes), size);
        return 0;
    };
    std::string given;
    for (int i = 0; i < 50; ++i) {
        const std::string piece(30, static_cast<char>('a' + i % 26));
        given += piece;
        ASSERT_EQ(pending.Append(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()), 0);
        if (i % 7 == 6)
            ASSERT_EQ(pending.Take(pending.Size() / 2, out), 0);
    }
    ASSERT_EQ(pending.Take(pending.Size(), out), 0);
    EXPECT_EQ(taken, given);
    EXPECT_TRUE(pending.Spilled());
    EXPECT_LE(pending.MemoryPeak(), 100u + 30u);
}

// Parts as files, which take a part's bytes after its first block inside
// the kernel.
class FileParts : public StreamParts {
public:
    explicit FileParts(const TempDir& dir) : dir_(dir) {}
    std::vector<std::string> names;
    std::int64_t taken = 0;

    int Begin(std::size_t index) override
    {
        names.push_back(dir_.file("part" + std::to_string(index)));
        file_ = std::make_unique<NFilePSDK>(names.back(), NFilePSDK::Form::CreateNew);
        return file_->IsOpen() ? 0 : file_->LastError();
    }
    int Write(const std::uint8_t* bytes, std::size_t size) override
    {
        return file_->Write(bytes, static_cast<std::uint32_t>(size)) == size ? 0 : file_->LastError();
    }
    std::int64_t Take(NFile& input, std::size_t count) override
    {
        const std::int64_t moved = input.CopyTo(*file_, static_cast<std::uint32_t>(count));
        taken += std::max<std::int64_t>(moved, 0);
        return moved;
    }
    int Fault() const override { return file_->LastError(); }
    int End() override
    {
        file_.reset();
        return 0;
    }
    void Abandon() override { file_.reset(); }

    std::vector<std::string> Contents() const
    {
        std::vector<std::string> all;
        for (const std::string& name : names)
            all.push_back(ReadFile(name));
        return all;
    }

private:
    const TempDir& dir_;
    std::unique_ptr<NFilePSDK> file_;
};

// A part's bytes after its first block go from a pipe (or a file) to the part
// inside the kernel: the same parts as through the buffer, and the same when
// the part cannot take them that way.
TEST_F(StreamCutTest, PartsTakenInsideTheKernelAreTheSame)
{
    std::mt19937 random(11);
    std::string data(300'000, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    struct Case {
        std::size_t bytes;
        std::int64_t piece;
        std::size_t block;
    };
    // Pieces of several blocks and not, streams that end mid-part and at a
    // part's end, and pieces longer than the pipe's room.
    const std::vector<Case> cases{
        {0, 1000, 100},        {999, 1000, 100},  {1000, 1000, 100},   {1001, 1000, 100},
        {300'000, 70'001, 4096}, {300'000, 100'000, 1 << 20}, {280'002, 70'000, 333}, {10, 3, 1},
    };
    for (const Case& c : cases) {
        const std::string bytes = data.substr(0, c.bytes);
        std::vector<std::int64_t> lengths;
        for (std::int64_t left = static_cast<std::int64_t>(c.bytes); left > 0; left -= c.piece)
            lengths.push_back(std::min(left, c.piece));
        StreamCutSettings settings;
        settings.block = c.block;
        settings.kernelCopy = true;
        const std::string label = std::to_string(c.bytes) + " bytes by " + std::to_string(c.piece);
        {
            // From a pipe, its writer on a thread of its own.
            int ends[2];
            ASSERT_EQ(::pipe(ends), 0);
            NFilePSDK input = NFilePSDK::Adopt(ends[0], false);
            std::thread writer([&, out = ends[1]] {
                NFilePSDK file = NFilePSDK::Adopt(out, true);
                (void)file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            });
            TempDir parts;
            FileParts files(parts);
            const StreamCutResult result = CutStream(input, {c.piece, {}}, files, abort, settings);
            input.Close();
            writer.join();
            EXPECT_EQ(result.end, StreamCutResult::End::Finished) << label;
            EXPECT_EQ(result.lengths, lengths) << "pipe, " << label;
            EXPECT_EQ(Joined(files.Contents()), bytes) << "pipe, " << label;
            EXPECT_EQ(result.read, static_cast<std::int64_t>(c.bytes));
            if (c.piece > static_cast<std::int64_t>(c.block) && c.bytes > c.block)
                EXPECT_GT(files.taken, 0) << "pipe, " << label << ": nothing moved inside the kernel";
        }
        {
            TempDir parts;
            FileParts files(parts);
            WriteFile(path, bytes);
            NFilePSDK input(path, NFilePSDK::Form::Stream);
            const StreamCutResult result = CutStream(input, {c.piece, {}}, files, abort, settings);
            EXPECT_EQ(result.lengths, lengths) << "file, " << label;
            EXPECT_EQ(Joined(files.Contents()), bytes) << "file, " << label;
        }
        {
            MemoryParts parts;
            const StreamCutResult result = Cut(bytes, {c.piece, {}}, parts, settings);
            EXPECT_EQ(result.lengths, lengths) << "refused, " << label;
            EXPECT_EQ(Joined(parts.parts), bytes) << "refused, " << label;
        }
    }
}

TEST_F(StreamCutTest, FailuresAndStopsAbandonThePartBegun)
{
    const std::string data(100, 'z');
    {
        MemoryParts parts;
        parts.failAfter = 1;
        StreamCutSettings settings;
        settings.block = 7;
        const StreamCutResult result = Cut(data, {30, {}}, parts, settings);
        EXPECT_EQ(result.end, StreamCutResult::End::PartFailed);
        EXPECT_EQ(result.error, ENOSPC);
        EXPECT_EQ(result.part, 1u);
        EXPECT_EQ(result.lengths, (std::vector<std::int64_t>{30}));
        EXPECT_EQ(parts.abandoned, 1);
        EXPECT_EQ(Lengths(parts.parts), (std::vector<std::int64_t>{30}));
    }
    {
        // Stopped once the first part has ended: the second, begun, goes.
        MemoryParts parts;
        parts.abortAfterFirst = &abort;
        StreamCutSettings settings;
        settings.block = 40;
        const StreamCutResult result = Cut(data, {30, {}}, parts, settings);
        EXPECT_EQ(result.end, StreamCutResult::End::Aborted);
        EXPECT_EQ(result.lengths, (std::vector<std::int64_t>{30}));
        EXPECT_EQ(parts.abandoned, 1);
        EXPECT_EQ(Lengths(parts.parts), (std::vector<std::int64_t>{30}));
    }
}

}  // namespace
}  // namespace tessera
