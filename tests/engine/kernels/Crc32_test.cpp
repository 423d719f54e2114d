#include "engine/kernels/Crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/kernels/Cpu.h"

namespace tessera {
namespace {

std::vector<unsigned char> RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

TEST(Crc32, KnownValues)
{
    EXPECT_EQ(Crc32(0, "", 0), 0u);
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32Bytewise(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(Crc32(0, "12345", 5), "6789", 4), 0xCBF43926u);
}

// Every kernel this processor runs, chosen by lowering the ceiling to its
// features, against the bytewise reference: every length up to 1100 (past
// each loop of the widest kernel) at every alignment of the pointer,
// continued from a crc, and large buffers cut at odd points.
TEST(Crc32, EveryKernelEqualsTheBytewiseReference)
{
    const std::vector<unsigned char> bytes = RandomBytes((1 << 20) + 1100, 3);
    for (const cpu::Path& path : Crc32Paths()) {
        SCOPED_TRACE(path.name);
        if ((path.needs & ~cpu::Present()) != 0)
            continue;
        const cpu::Ceiling ceiling(path.needs);
        ASSERT_STREQ(path.name, Crc32KernelName());
        for (std::size_t size = 0; size <= 1100; ++size)
            for (std::size_t offset = 0; offset < 16; ++offset) {
                const std::uint32_t start = offset == 0 ? 0 : std::uint32_t(size * 2654435761u + offset);
                ASSERT_EQ(Crc32(start, bytes.data() + offset, size), Crc32Bytewise(start, bytes.data() + offset, size))
                    << "size " << size << " offset " << offset;
            }
        for (std::size_t size : {std::size_t(4096), std::size_t(65536 + 17), bytes.size() - 5}) {
            const std::uint32_t whole = Crc32Bytewise(0, bytes.data() + 3, size);
            EXPECT_EQ(Crc32(0, bytes.data() + 3, size), whole) << size;
            const std::size_t cut = size / 3 + 1;
            EXPECT_EQ(Crc32(Crc32(0, bytes.data() + 3, cut), bytes.data() + 3 + cut, size - cut), whole) << size;
        }
    }
}

}  // namespace
}  // namespace tessera
