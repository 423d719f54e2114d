#pragma once

// The kernels behind Crc32 and what they share.
#include <cstddef>
#include <cstdint>

#include "engine/kernels/Cpu.h"

namespace tessera::detail {

inline constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;  // reflected 0x104C11DB7

// The register after `size` more bytes, without the inversions before and
// after, eight bytes at a time from tables.
std::uint32_t RawSliceBy8(std::uint32_t reg, const std::uint8_t* p, std::size_t size);

// Folding with carry-less multiplication, after Intel's "Fast CRC Computation
// for Generic Polynomials Using PCLMULQDQ". The CRC depends only on the
// message modulo P = x^32 + ... (0x104C11DB7): a 128-bit piece A that lies D
// bits before piece B may be replaced by A * x^D mod P (under 96 bits) added
// to B, the message staying the same modulo P. With A = H x^64 + L,
// A x^D = H x^(D+64) + L x^D, and each half is multiplied by a 32-bit
// constant. At the end the one piece left, then the bytes too few to fold,
// go through the table kernel.
//
// The bits are reflected (the first byte's lowest bit is the highest power),
// so a register bit i stands for x^(127-i) and the low 64-bit half is H. A
// product of two reflected 64-bit halves comes out one place short (bit m of
// it stands for x^(126-m)), so the constants carry one power less:
// x^(D+63) mod P for H and x^(D-1) mod P for L, each reflected into the top
// 32 bits of its 64-bit half.
constexpr std::uint64_t FoldConstant(int power)
{
    std::uint64_t r = 1;  // x^power mod P, highest power highest bit
    for (int i = 0; i < power; ++i) {
        r <<= 1;
        if (r & (std::uint64_t(1) << 32))
            r ^= 0x104C11DB7u;
    }
    std::uint64_t reflected = 0;
    for (int e = 0; e < 32; ++e)
        if (r & (std::uint64_t(1) << e))
            reflected |= std::uint64_t(1) << (63 - e);
    return reflected;
}

struct FoldConstants {
    std::uint64_t high;  // for the low half of a register (H)
    std::uint64_t low;   // for its high half (L)
};
constexpr FoldConstants FoldBy(int bits)
{
    return {FoldConstant(bits + 63), FoldConstant(bits - 1)};
}

#ifdef TESSERA_X86
// Four 128-bit pieces at once, 64 bytes a round.
std::uint32_t Crc32Pclmul(std::uint32_t crc, const void* data, std::size_t size);
// Sixteen 128-bit pieces at once in four 512-bit registers, 256 bytes a round.
std::uint32_t Crc32Vpclmul(std::uint32_t crc, const void* data, std::size_t size);
#endif

}  // namespace tessera::detail
