#include "engine/kernels/Cpu.h"
#include "engine/kernels/Md5.h"
#include "engine/kernels/Md5Lanes.h"

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
    for (std::uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

std::vector<unsigned char> RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

// RFC 1321's test suite, the message given whole and a byte at a time, and
// the object starting over after each digest.
TEST(Md5, RfcTestSuite)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    Md5 md5;
    for (const auto& [message, digest] : cases) {
        EXPECT_EQ(Hex(Md5Of(message.data(), message.size())), digest) << message;
        for (char c : message)
            md5.Update(&c, 1);
        EXPECT_EQ(Hex(md5.Finish()), digest) << message;
    }
}

// The block and padding boundaries, against digests md5sum gives for the
// bytes 0, 1, 2, ... (mod 251) of each length.
TEST(Md5, PaddingBoundaries)
{
    const std::pair<std::size_t, std::string> cases[] = {
        {55, "6912ee65fff2d9f9ce2508cddf8bcda0"}, {56, "51fdd1acda72405dfdfa03fcb85896d7"},
        {63, "48a6295221902e8e0938f773a7185e72"}, {64, "b2d3f56bc197fd985d5965079b5e7148"},
        {65, "8bd7053801c768420faf816fadba971c"}, {128, "37eff01866ba3f538421b30b7cbefcac"},
        {1000, "a24f1e3ef66950e1327f210e3997ba2c"},
    };
    std::vector<unsigned char> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i % 251);
    for (const auto& [size, digest] : cases) {
        EXPECT_EQ(Hex(Md5Of(bytes.data(), size)), digest) << size;
        Md5Pair pair;
        pair.Update(bytes.data(), size);
        EXPECT_EQ(Hex(pair.FinishFirst()), digest) << size;
        EXPECT_EQ(Hex(pair.FinishSecond()), digest) << size;
    }
}

// Each stream of a pair, fed the same bytes or its own in any order and cut
// at any point, gives what a single Md5 gives for it: a block boundary off by
// one, a message block shared when the streams are out of step, or one
// stream's unfinished block overwritten when the other finishes, all show here.
TEST(Md5Pair, EachStreamEqualsMd5WhateverTheChunks)
{
    std::mt19937 random(20261211);
    const std::vector<unsigned char> bytes = RandomBytes(9000 + 64, 1);
    const std::vector<std::size_t> sizes = {0, 1, 55, 56, 63, 64, 65, 127, 128, 129, 1000, 8999};
    Md5Pair pair;
    Md5 first, second;
    for (int round = 0; round < 1000; ++round) {
        const std::size_t offset = random() % 64;
        const std::size_t size = round < int(sizes.size()) ? sizes[round] : random() % 9000;
        const unsigned char* data = bytes.data() + offset;
        switch (random() % 5) {
        case 0:
            pair.UpdateFirst(data, size);
            first.Update(data, size);
            break;
        case 1:
            pair.UpdateSecond(data, size);
            second.Update(data, size);
            break;
        default:
            pair.Update(data, size);
            first.Update(data, size);
            second.Update(data, size);
        }
        if (random() % 3 == 0)
            ASSERT_EQ(pair.FinishFirst(), first.Finish()) << "round " << round;
        if (random() % 7 == 0)
            ASSERT_EQ(pair.FinishSecond(), second.Finish()) << "round " << round;
    }
    EXPECT_EQ(pair.FinishFirst(), first.Finish());
    EXPECT_EQ(pair.FinishSecond(), second.Finish());
}

// The use the pair is made for: a whole file in one stream, its slices in the
// other, the slice size a multiple of 64 and the reads of any size.
TEST(Md5Pair, FileAndSlices)
{
    for (std::size_t fileSize : {0u, 1u, 63u, 64u, 65u, 640u, 1000u, 5000u}) {
        const std::vector<unsigned char> file = RandomBytes(fileSize, unsigned(fileSize));
        const std::size_t slice = 128;
        std::mt19937 random(unsigned(fileSize) + 7);
        Md5Pair pair;
        std::vector<Md5Digest> slices;
        std::size_t at = 0;
        while (at < fileSize) {
            const std::size_t sliceEnd = std::min(fileSize, (at / slice + 1) * slice);
            const std::size_t take = std::min<std::size_t>(sliceEnd - at, 1 + random() % 100);
            pair.Update(file.data() + at, take);
            at += take;
            if (at == sliceEnd)
                slices.push_back(pair.FinishSecond());
        }
        EXPECT_EQ(pair.FinishFirst(), Md5Of(file.data(), file.size())) << fileSize;
        ASSERT_EQ(slices.size(), (fileSize + slice - 1) / slice);
        for (std::size_t i = 0; i < slices.size(); ++i)
            EXPECT_EQ(slices[i], Md5Of(file.data() + i * slice, std::min(slice, fileSize - i * slice)))
                << fileSize << " slice " << i;
    }
}

// Sixteen lanes, some left out of each call, each from its own bytes: every
// lane's digest equals that of one stream over the bytes it was given.
TEST(Md5Lanes, EachLaneIsTheStreamOfItsOwnBytes)
{
    // In vector lanes where the processor has them, and one lane at a time.
    for (const cpu::Features ceiling : {cpu::kAll, cpu::kAll & ~cpu::kAvx512}) {
        const cpu::Ceiling lowered(ceiling);
        SCOPED_TRACE(Md5LanesAvailable() ? "vector lanes" : "one at a time");
        if (ceiling != cpu::kAll)
            ASSERT_FALSE(Md5LanesAvailable());
        std::mt19937 random(21);
        std::vector<std::vector<std::uint8_t>> bytes(kMd5Lanes, std::vector<std::uint8_t>(64 * 40 + 17));
        for (auto& lane : bytes)
            for (auto& b : lane)
                b = static_cast<std::uint8_t>(random());
        detail::Md5Lane lanes[kMd5Lanes];
        Md5 expected[kMd5Lanes];
        std::size_t at[kMd5Lanes] = {};
        for (const auto& [blocks, active] : std::vector<std::pair<std::size_t, std::uint32_t>>{
                 {1, 0xFFFF}, {3, 0x5A5A}, {0, 0xFFFF}, {7, 0x0001}, {2, 0x8000}, {11, 0xFFFF}, {5, 0x0F0F}}) {
            detail::Md5Lane* pointers[kMd5Lanes];
            const std::uint8_t* data[kMd5Lanes];
            for (int k = 0; k < kMd5Lanes; ++k) {
                pointers[k] = (active >> k) & 1 ? &lanes[k] : nullptr;
                data[k] = (active >> k) & 1 ? bytes[k].data() + at[k] : nullptr;
            }
            Md5LanesBlocks(pointers, data, blocks, active);
            for (int k = 0; k < kMd5Lanes; ++k)
                if ((active >> k) & 1) {
                    expected[k].Update(bytes[k].data() + at[k], blocks * 64);
                    at[k] += blocks * 64;
                }
        }
        for (int k = 0; k < kMd5Lanes; ++k) {
            // A tail that is no whole block, taken by the lane alone.
            lanes[k].Update(bytes[k].data() + at[k], 17);
            expected[k].Update(bytes[k].data() + at[k], 17);
            EXPECT_EQ(lanes[k].Finish(), expected[k].Finish()) << k;
        }
    }
}

}  // namespace
}  // namespace tessera
