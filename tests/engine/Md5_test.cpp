#include "engine/recovery/Md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace tessera {
namespace {

std::string Hex(const Md5Digest& digest)
{
    std::string text;
    char byte[3];
    for (const std::uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

// RFC 1321's test suite.
TEST(Md5, GivesTheDigestsOfItsDefinition)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : cases) {
        EXPECT_EQ(Hex(Md5Of(text.data(), text.size())), digest) << text;
        // Byte by byte, the same.
        Md5 md5;
        for (const char c : text)
            md5.Update(&c, 1);
        EXPECT_EQ(Hex(md5.Finish()), digest) << text;
    }
}

// Both streams of a pair equal single streams, whatever the sizes of the
// pieces taken together and of those taken by one stream alone.
TEST(Md5, APairGivesWhatTwoStreamsGive)
{
    std::mt19937 random(5);
    std::vector<std::uint8_t> bytes(5000);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    for (const std::size_t size : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 128u, 1000u, 4999u}) {
        for (const std::size_t piece : {1u, 7u, 64u, 100u, 4096u}) {
            Md5Pair pair;
            Md5 first, second;
            // A lead taken by the second alone, a whole number of blocks.
            pair.UpdateSecond(bytes.data(), 128);
            second.Update(bytes.data(), 128);
            for (std::size_t done = 0; done < size; done += piece) {
                const std::size_t take = std::min(piece, size - done);
                pair.Update(bytes.data() + done, take);
                first.Update(bytes.data() + done, take);
                second.Update(bytes.data() + done, take);
            }
            // A tail taken by the first alone.
            pair.UpdateFirst(bytes.data(), 33);
            first.Update(bytes.data(), 33);
            ASSERT_EQ(pair.FinishFirst(), first.Finish()) << size << " " << piece;
            ASSERT_EQ(pair.FinishSecond(), second.Finish()) << size << " " << piece;
        }
    }
}

// The folded CRC-32 against the table's, for every length up to a few
// blocks, at every alignment, continued from other values; and the check
// value of the zip polynomial.
TEST(Crc32, FoldingGivesWhatTheTableGives)
{
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    std::mt19937 random(9);
    std::vector<std::uint8_t> bytes(1200);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    for (std::size_t size = 0; size <= 300; ++size)
        for (std::size_t offset : {0u, 1u, 3u, 13u})
            for (std::uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u})
                ASSERT_EQ(Crc32(start, bytes.data() + offset, size), Crc32Table(start, bytes.data() + offset, size))
                    << size << " " << offset << " " << start;
    ASSERT_EQ(Crc32(0, bytes.data(), bytes.size()), Crc32Table(0, bytes.data(), bytes.size()));
    // Continued in pieces, the same as whole.
    EXPECT_EQ(Crc32(Crc32(0, bytes.data(), 700), bytes.data() + 700, 500), Crc32(0, bytes.data(), 1200));
}

}  // namespace
}  // namespace tessera
