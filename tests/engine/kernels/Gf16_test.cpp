#include "engine/kernels/Gf16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/kernels/Cpu.h"
#include "engine/kernels/Gf16Field.h"
#include "engine/kernels/Gf16Threads.h"

namespace tessera {
namespace cpu {
void PrintTo(const Path& path, std::ostream* out)
{
    *out << path.name;
}
}  // namespace cpu

namespace {

// Word `w` of a prepared buffer, read by the layout's definition.
std::uint16_t PreparedWord(const std::vector<std::uint8_t>& prepared, std::size_t w)
{
    const std::size_t block = w / 32 * gf16::kBlock, i = w % 32;
    return static_cast<std::uint16_t>(prepared[block + i] | prepared[block + 32 + i] << 8);
}

std::vector<std::uint8_t> RandomBytes(std::mt19937& random, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

// Every kernel this processor runs, each chosen in turn by lowering the
// ceiling to the features it needs.
class Gf16Kernel : public testing::TestWithParam<cpu::Path> {
protected:
    Gf16Kernel() : ceiling_(GetParam().needs) {}
    void SetUp() override { ASSERT_STREQ(GetParam().name, gf16::KernelName()); }

private:
    cpu::Ceiling ceiling_;
};

std::vector<cpu::Path> Runnable()
{
    std::vector<cpu::Path> paths;
    for (const cpu::Path& path : gf16::Paths())
        if ((path.needs & ~cpu::Present()) == 0)
            paths.push_back(path);
    return paths;
}

TEST_P(Gf16Kernel, MulAddManyAgreesWithTheFieldWordByWord)
{
    std::mt19937 random(20);
    struct Case {
        std::size_t blocks, count;
    };
    // One block and many; one factor, a few, and more than the kernels take
    // in one group of tables.
    for (const Case c : {Case{1, 1}, Case{1, 4}, Case{37, 1}, Case{37, 3}, Case{64, 8}, Case{5, 33}, Case{3, 70}}) {
        SCOPED_TRACE(testing::Message() << c.blocks << " blocks, " << c.count << " factors");
        const std::size_t bytes = c.blocks * gf16::kBlock, words = bytes / 2;
        const auto input = RandomBytes(random, bytes);
        std::vector<std::uint16_t> factors(c.count);
        for (std::size_t j = 0; j < c.count; ++j)
            factors[j] = static_cast<std::uint16_t>(random());
        factors[0] = c.count > 1 ? 0 : factors[0];
        if (c.count > 2)
            factors[1] = 1, factors[2] = 0xFFFF;
        std::vector<std::vector<std::uint8_t>> accs;
        std::vector<std::uint8_t*> outs;
        for (std::size_t j = 0; j < c.count; ++j)
            accs.push_back(RandomBytes(random, bytes));
        const auto before = accs;
        for (auto& acc : accs)
            outs.push_back(acc.data());

        gf16::MulAddMany(input.data(), bytes, factors.data(), outs.data(), c.count);

        for (std::size_t j = 0; j < c.count; ++j) {
            for (std::size_t w = 0; w < words; ++w) {
                const std::uint16_t expected = static_cast<std::uint16_t>(
                    PreparedWord(before[j], w) ^ gf16::Mul(factors[j], PreparedWord(input, w)));
                ASSERT_EQ(expected, PreparedWord(accs[j], w)) << "factor " << j << " (" << factors[j] << "), word " << w;
            }
        }
    }
}

// Three ways to the same sums: factors as they stand, made into the kernel's
// tables once, and with the columns shared between threads (some of which
// may get none, and each going through its share a range at a time).
enum class Way { Plain, Made, Threads };

TEST_P(Gf16Kernel, MulAddManyInputsSumsEveryInputTimesItsFactor)
{
    std::mt19937 random(23);
    struct Case {
        std::size_t blocks, inputs, count;
    };
    // Inputs fewer than, as many as and more than a kernel takes at once;
    // accumulators past one group of tables, and so many that a thread's
    // share is gone through in several ranges.
    for (const Case c : {Case{1, 1, 1}, Case{1, 3, 2}, Case{37, 4, 5}, Case{33, 5, 3}, Case{2, 9, 20}, Case{3, 2, 40},
                         Case{100, 6, 200}}) {
        for (const Way way : {Way::Plain, Way::Made, Way::Threads}) {
            SCOPED_TRACE(testing::Message() << c.blocks << " blocks, " << c.inputs << " inputs, " << c.count
                                            << " accumulators, way " << static_cast<int>(way));
            const std::size_t bytes = c.blocks * gf16::kBlock;
            std::vector<std::vector<std::uint8_t>> inputs, accs;
            std::vector<const std::uint8_t*> ins;
            std::vector<std::uint8_t*> outs;
            for (std::size_t i = 0; i < c.inputs; ++i)
                inputs.push_back(RandomBytes(random, bytes));
            for (auto& input : inputs)
                ins.push_back(input.data());
            for (std::size_t j = 0; j < c.count; ++j)
                accs.push_back(RandomBytes(random, bytes));
            for (auto& acc : accs)
                outs.push_back(acc.data());
            std::vector<std::uint16_t> factors(c.inputs * c.count);
            for (auto& f : factors)
                f = static_cast<std::uint16_t>(random());
            factors[0] = 1;
            factors[factors.size() / 2] = 0;
            const auto before = accs;

            gf16::Factors made;
            if (way != Way::Plain)
                made.Make(factors.data(), c.inputs, c.count);
            if (way == Way::Plain) {
                gf16::MulAddManyInputs(ins.data(), c.inputs, bytes, factors.data(), outs.data(), c.count);
            } else if (way == Way::Made) {
                gf16::MulAddManyInputs(ins.data(), bytes, made, outs.data());
            } else {
                gf16::ColumnThreads threads(3);
                threads.Start(ins.data(), bytes, made, outs.data());
                threads.Wait();
            }

            for (std::size_t j = 0; j < c.count; ++j) {
                for (std::size_t w = 0; w < bytes / 2; ++w) {
                    std::uint16_t expected = PreparedWord(before[j], w);
                    for (std::size_t i = 0; i < c.inputs; ++i)
                        expected ^= gf16::Mul(factors[i * c.count + j], PreparedWord(inputs[i], w));
                    ASSERT_EQ(expected, PreparedWord(accs[j], w)) << "accumulator " << j << ", word " << w;
                }
            }
        }
    }
}

TEST_P(Gf16Kernel, EveryWordTimesEveryBasisFactor)
{
    // All 65536 words, by each power of two and a few others: a wrong table
    // entry shows whatever the random data would have missed.
    std::vector<std::uint8_t> words(2 * 65536);
    for (std::size_t w = 0; w < 65536; ++w)
        words[2 * w] = static_cast<std::uint8_t>(w), words[2 * w + 1] = static_cast<std::uint8_t>(w >> 8);
    std::vector<std::uint8_t> input(gf16::PreparedSize(words.size()));
    gf16::Prepare(words.data(), words.size(), input.data());
    std::vector<std::uint16_t> factors;
    for (int bit = 0; bit < 16; ++bit)
        factors.push_back(static_cast<std::uint16_t>(1u << bit));
    factors.push_back(0x1234);
    factors.push_back(0xFFFF);
    std::vector<std::vector<std::uint8_t>> accs(factors.size(), std::vector<std::uint8_t>(input.size()));
    std::vector<std::uint8_t*> outs;
    for (auto& acc : accs)
        outs.push_back(acc.data());
    gf16::MulAddMany(input.data(), input.size(), factors.data(), outs.data(), factors.size());
    for (std::size_t j = 0; j < factors.size(); ++j)
        for (std::size_t w = 0; w < 65536; ++w)
            ASSERT_EQ(gf16::Mul(factors[j], static_cast<std::uint16_t>(w)), PreparedWord(accs[j], w))
                << "factor " << factors[j] << ", word " << w;
}

TEST_P(Gf16Kernel, MulAddWordsOnUnpreparedWordsOfAnyLength)
{
    std::mt19937 random(22);
    // Within one piece, across pieces, and ending mid-block.
    for (const std::size_t bytes : {2, 62, 64, 130, 8192, 8194, 3 * 8192 + 1000}) {
        SCOPED_TRACE(testing::Message() << bytes << " bytes");
        const auto input = RandomBytes(random, bytes);
        for (const std::uint16_t factor : {std::uint16_t{0}, std::uint16_t{1}, static_cast<std::uint16_t>(random())}) {
            auto out = RandomBytes(random, bytes + 1);
            const auto before = out;
            gf16::MulAddWords(factor, input.data(), out.data(), bytes);
            ASSERT_EQ(before[bytes], out[bytes]) << "written past the words";
            for (std::size_t i = 0; i < bytes; i += 2) {
                const auto word = [](const std::vector<std::uint8_t>& v, std::size_t at) {
                    return static_cast<std::uint16_t>(v[at] | v[at + 1] << 8);
                };
                ASSERT_EQ(word(before, i) ^ gf16::Mul(factor, word(input, i)), word(out, i))
                    << "factor " << factor << ", byte " << i;
            }
        }
    }
}

TEST_P(Gf16Kernel, PrepareAndUnprepareRoundTripAnySize)
{
    std::mt19937 random(21);
    for (const std::size_t bytes : {0, 2, 62, 64, 66, 126, 128, 190, 1000, 4096, 4098, 64 * 33 + 40}) {
        SCOPED_TRACE(testing::Message() << bytes << " bytes");
        const auto words = RandomBytes(random, bytes);
        const std::size_t size = gf16::PreparedSize(bytes);
        ASSERT_EQ(0u, size % gf16::kBlock);
        ASSERT_TRUE(size >= bytes && size < bytes + gf16::kBlock);

        std::vector<std::uint8_t> prepared(size + 1, 0xAA);
        gf16::Prepare(words.data(), bytes, prepared.data());
        ASSERT_EQ(0xAA, prepared[size]) << "written past the prepared size";
        prepared.pop_back();
        for (std::size_t w = 0; w < size / 2; ++w) {
            const std::uint16_t expected = 2 * w < bytes ? static_cast<std::uint16_t>(words[2 * w] | words[2 * w + 1] << 8) : 0;
            ASSERT_EQ(expected, PreparedWord(prepared, w)) << "word " << w;
        }

        std::vector<std::uint8_t> back(bytes + 1, 0x55);
        gf16::Unprepare(prepared.data(), bytes, back.data());
        ASSERT_EQ(0x55, back[bytes]) << "written past the words";
        back.pop_back();
        ASSERT_EQ(words, back);
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Gf16Kernel, testing::ValuesIn(Runnable()),
                         [](const testing::TestParamInfo<cpu::Path>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(Gf16, TheFastestKernelWithinTheCeilingIsUsed)
{
    const auto paths = gf16::Paths();
    ASSERT_FALSE(paths.empty());
    EXPECT_STREQ("scalar", paths.front().name);
    EXPECT_EQ(0u, paths.front().needs);
    {
        const cpu::Ceiling none(0);
        EXPECT_STREQ("scalar", gf16::KernelName());
    }
    // Without a ceiling: the last kernel whose features are all present.
    std::string fastest;
    for (const cpu::Path& path : paths)
        if ((path.needs & ~cpu::Present()) == 0)
            fastest = path.name;
    EXPECT_EQ(fastest, gf16::KernelName());
}

TEST(Gf16, PartBlocksAreRefusedNotOverrun)
{
    std::vector<std::uint8_t> in(gf16::kBlock), acc(gf16::kBlock);
    std::uint8_t* out = acc.data();
    const std::uint8_t* ins = in.data();
    const std::uint16_t factor = 3;
    gf16::Factors made;
    made.Make(&factor, 1, 1);
    gf16::ColumnThreads threads(2);
    for (const std::size_t bytes : {2, 62, 66}) {
        EXPECT_THROW(gf16::MulAddMany(in.data(), bytes, &factor, &out, 1), std::invalid_argument) << bytes;
        EXPECT_THROW(gf16::MulAddManyInputs(&ins, 1, bytes, &factor, &out, 1), std::invalid_argument) << bytes;
        EXPECT_THROW(gf16::MulAddManyInputs(&ins, bytes, made, &out), std::invalid_argument) << bytes;
        EXPECT_THROW(threads.Start(&ins, bytes, made, &out), std::invalid_argument) << bytes;
    }
}

}  // namespace
}  // namespace tessera
