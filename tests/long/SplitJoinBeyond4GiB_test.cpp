// A sparse 6 GiB file split on both sides of 4 GiB and joined back, through
// the workers and a dialog without widgets. The bytes around 2^32 are all
// different, so a position that wraps at 32 bits or a block that lands a
// little off shows in the checksums. Runs for minutes: on demand only.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/FakeJobPort.h"
#include "ui/StatusTexts.h"
#include "engine/PartNames.h"
#include "engine/Progress.h"
#include "support/TempDir.h"

using tessera::test::FakeJobPort;
using tessera::test::TempDir;

namespace {

constexpr std::int64_t kGiB = std::int64_t{1} << 30;
constexpr std::int64_t k4GiB = 4 * kGiB;
constexpr std::int64_t kSize = 6 * kGiB;
constexpr std::int64_t kMiB = std::int64_t{1} << 20;

// The word at byte offset o (a multiple of 8) of the written stretches.
std::uint64_t WordAt(std::uint64_t offset)
{
    std::uint64_t z = offset + 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

// Fills [from, to) of the file with distinct words; the rest stays a hole.
void WriteWords(int fd, std::int64_t from, std::int64_t to)
{
    std::vector<std::uint64_t> words(kMiB / 8);
    for (std::int64_t at = from; at < to; at += kMiB) {
        for (std::size_t i = 0; i < words.size(); ++i)
            words[i] = WordAt(static_cast<std::uint64_t>(at) + 8 * i);
        const auto length = static_cast<std::size_t>(std::min(kMiB, to - at));
        ASSERT_EQ(::pwrite(fd, words.data(), length, at), static_cast<ssize_t>(length));
    }
}

// FNV-1a over the 8-byte words of [from, from + length) of the file, then
// over the bytes of the tail; ~0 when the file holds fewer bytes.
std::uint64_t Checksum(const std::string& path, std::int64_t from, std::int64_t length)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ~std::uint64_t{0};
    constexpr std::size_t kChunk = 16 * kMiB;  // a multiple of 8
    auto buffer = std::make_unique<unsigned char[]>(kChunk);
    std::uint64_t hash = 0xCBF29CE484222325u;
    constexpr std::uint64_t kPrime = 0x100000001B3u;
    std::int64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kChunk, length - done));
        std::size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(fd, buffer.get() + got, want - got, from + done + got);
            if (n <= 0) {
                ::close(fd);
                return ~std::uint64_t{0};
            }
            got += static_cast<std::size_t>(n);
        }
        std::size_t i = 0;
        for (; i + 8 <= want; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, buffer.get() + i, 8);
            hash = (hash ^ word) * kPrime;
        }
        for (; i < want; ++i)
            hash = (hash ^ buffer[i]) * kPrime;
        done += static_cast<std::int64_t>(want);
    }
    ::close(fd);
    return hash;
}

struct Range {
    std::int64_t start;
    std::int64_t end;
};

TEST(SplitJoinBeyond4GiB, PartsAndTheirJoinMatchTheSource)
{
    TempDir dir;
    std::error_code ec;
    const auto space = std::filesystem::space(dir.path(), ec);
    if (ec || space.available < static_cast<std::uintmax_t>(2 * kSize + kGiB))
        GTEST_SKIP() << "needs 13 GiB free under " << dir.path() << " for the parts and the joined file";

    const std::string source = dir.file("big.bin");
    {
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kSize), 0);
        WriteWords(fd, 0, kMiB);
        WriteWords(fd, k4GiB - 20 * kMiB, k4GiB + 20 * kMiB);
        WriteWords(fd, kSize - kMiB, kSize);
        ::close(fd);
    }

    // Parts 0 to 2 cover the file; the rest straddle or span 2^32, or end it.
    const std::vector<Range> plan = {
        {0, k4GiB - 4099},
        {k4GiB - 4099, k4GiB + 4099},
        {k4GiB + 4099, kSize},
        {k4GiB - 1, k4GiB + 1},
        {k4GiB, k4GiB + 1},
        {k4GiB - 16 * kMiB - 3, k4GiB + 16 * kMiB + 5},
        {kSize - 1, kSize},
    };
    FakeJobPort splitPort;
    splitPort.source = source;
    for (const Range& r : plan)
        splitPort.plan.push_back({r.start, r.end});
    std::atomic<bool> abort{false};
    ASSERT_EQ(tessera::test::RunSplitOf(splitPort, abort).Code(), 0);
    ASSERT_EQ(splitPort.LastStatus(), tessera::kStatusFinished);

    auto part = [&](int n) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", n);
        return source + suffix;
    };
    for (std::size_t n = 0; n < plan.size(); ++n) {
        const Range& r = plan[n];
        const std::string name = part(static_cast<int>(n));
        EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(name)), r.end - r.start) << name;
        EXPECT_EQ(Checksum(name, 0, r.end - r.start), Checksum(source, r.start, r.end - r.start)) << name;
    }

    const std::string joined = dir.file("joined.bin");
    FakeJobPort joinPort;
    joinPort.destination = joined;
    joinPort.inputs = {part(0), part(1), part(2)};
    ASSERT_EQ(tessera::test::RunJoinOf(joinPort, abort).Code(), 0);
    ASSERT_EQ(joinPort.LastStatus(), tessera::kStatusFinished);
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(joined)), kSize);
    EXPECT_EQ(Checksum(joined, 0, kSize), Checksum(source, 0, kSize));
}

}  // namespace
