#include "engine/kernels/Sha256.h"
#include "engine/kernels/Sha256Pair.h"

#include "engine/kernels/Cpu.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessera {
namespace {

TEST(Sha256, KnownDigestsAndStartingOver)
{
    Sha256 digest;
    EXPECT_EQ(digest.Finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    digest.Update("ab", 2);
    digest.Update("c", 1);
    EXPECT_EQ(digest.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    digest.Update("abc", 3);
    EXPECT_EQ(digest.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Two lanes over the same bytes, their blocks in step or apart by any amount,
// give what libcrypto gives for each stream alone: a block boundary off by
// one, a schedule shared when it may not be, or a lane's unfinished block
// overwritten when the other finishes its own, all show here.
TEST(Sha256Pair, EachLaneEqualsLibcryptoWhateverTheChunks)
{
    if (!Sha256Pair::Available())
        GTEST_SKIP() << "this processor has no SHA instructions";
    std::mt19937 random(20261210);
    std::vector<unsigned char> bytes(5000 + 64);
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(random());
    const std::vector<std::size_t> sizes = {0, 1, 55, 56, 63, 64, 65, 127, 128, 129, 1000, 4999};
    Sha256Pair pair;
    Sha256 first, second;
    for (int round = 0; round < 400; ++round) {
        const std::size_t offset = random() % 64;
        const std::size_t size = round < int(sizes.size()) ? sizes[round] : random() % 5000;
        const unsigned char* data = bytes.data() + offset;
        switch (random() % 4) {
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
        if (random() % 11 == 0)
            ASSERT_EQ(pair.FinishSecond(), second.Finish()) << "round " << round;
    }
    EXPECT_EQ(pair.FinishFirst(), first.Finish());
    EXPECT_EQ(pair.FinishSecond(), second.Finish());
}

TEST(Sha256Pair, KnownDigests)
{
    if (!Sha256Pair::Available())
        GTEST_SKIP() << "this processor has no SHA instructions";
    Sha256Pair pair;
    EXPECT_EQ(pair.FinishFirst(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    pair.Update(text.data(), text.size());
    EXPECT_EQ(pair.FinishSecond(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(pair.FinishFirst(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// Below the SHA instructions there is no pair to be had: its callers take
// libcrypto's digests one at a time instead.
TEST(Sha256Pair, NoneBelowTheShaInstructions)
{
    const cpu::Ceiling ceiling(cpu::kAll & ~cpu::kSha);
    EXPECT_FALSE(Sha256Pair::Available());
    EXPECT_THROW(Sha256Pair(), std::logic_error);
}

}  // namespace
}  // namespace tessera
