#include "engine/kernels/Crc32.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSERA_CRC_X86 1
#endif

namespace tessera {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;  // reflected 0x104C11DB7

// entry[k][b]: the register's change for byte b followed by k zero bytes, so
// that eight bytes are taken with eight independent lookups.
struct CrcTables {
    std::uint32_t entry[8][256];
    constexpr CrcTables() : entry()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
            entry[0][i] = c;
        }
        for (int k = 1; k < 8; ++k)
            for (std::uint32_t i = 0; i < 256; ++i)
                entry[k][i] = (entry[k - 1][i] >> 8) ^ entry[0][entry[k - 1][i] & 0xff];
    }
};
constexpr CrcTables kTables;

// The register without the inversions before and after.
std::uint32_t RawBytewise(std::uint32_t reg, const std::uint8_t* p, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        reg = kTables.entry[0][(reg ^ p[i]) & 0xff] ^ (reg >> 8);
    return reg;
}

std::uint32_t RawSliceBy8(std::uint32_t reg, const std::uint8_t* p, std::size_t size)
{
    if constexpr (std::endian::native == std::endian::little) {
        for (; size >= 8; p += 8, size -= 8) {
            std::uint32_t lo, hi;
            std::memcpy(&lo, p, 4);
            std::memcpy(&hi, p + 4, 4);
            lo ^= reg;
            reg = kTables.entry[7][lo & 0xff] ^ kTables.entry[6][(lo >> 8) & 0xff] ^
                  kTables.entry[5][(lo >> 16) & 0xff] ^ kTables.entry[4][lo >> 24] ^
                  kTables.entry[3][hi & 0xff] ^ kTables.entry[2][(hi >> 8) & 0xff] ^
                  kTables.entry[1][(hi >> 16) & 0xff] ^ kTables.entry[0][hi >> 24];
        }
    }
    return RawBytewise(reg, p, size);
}

std::uint32_t SliceBy8(std::uint32_t crc, const void* data, std::size_t size)
{
    return ~RawSliceBy8(~crc, static_cast<const std::uint8_t*>(data), size);
}

#ifdef TESSERA_CRC_X86
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
constexpr FoldConstants FoldBy(int bits) { return {FoldConstant(bits + 63), FoldConstant(bits - 1)}; }

// The register after the folded piece and the remaining bytes, inverted.
std::uint32_t FinishFolded(const unsigned char folded[16], const std::uint8_t* p, std::size_t size)
{
    return ~RawSliceBy8(RawSliceBy8(0, folded, 16), p, size);
}

#define TESSERA_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

TESSERA_CLMUL_TARGET inline __m128i Constants(FoldConstants k)
{
    return _mm_set_epi64x(static_cast<long long>(k.low), static_cast<long long>(k.high));
}

TESSERA_CLMUL_TARGET inline __m128i Fold(__m128i a, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

TESSERA_CLMUL_TARGET inline __m128i Load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds 16-byte pieces from acc, which holds the bytes before p, and finishes.
TESSERA_CLMUL_TARGET std::uint32_t FoldTail(__m128i acc, const std::uint8_t* p, std::size_t size)
{
    const __m128i k128 = Constants(FoldBy(128));
    for (; size >= 16; p += 16, size -= 16)
        acc = _mm_xor_si128(Fold(acc, k128), Load(p));
    alignas(16) unsigned char folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), acc);
    return FinishFolded(folded, p, size);
}

// Four 128-bit pieces at once, 64 bytes a round.
TESSERA_CLMUL_TARGET std::uint32_t Pclmul(std::uint32_t crc, const void* data, std::size_t size)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (size < 64)
        return ~RawSliceBy8(~crc, p, size);
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    p += 64;
    size -= 64;
    const __m128i k512 = Constants(FoldBy(512));
    for (; size >= 64; p += 64, size -= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), Load(p));
        x1 = _mm_xor_si128(Fold(x1, k512), Load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), Load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), Load(p + 48));
    }
    const __m128i k128 = Constants(FoldBy(128));
    x1 = _mm_xor_si128(Fold(x0, k128), x1);
    x2 = _mm_xor_si128(Fold(x1, k128), x2);
    x3 = _mm_xor_si128(Fold(x2, k128), x3);
    return FoldTail(x3, p, size);
}

// GCC 12 warns of the undefined vectors its own AVX-512 headers start from.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define TESSERA_VPCLMUL_TARGET __attribute__((target("avx512f,avx512bw,vpclmulqdq,pclmul,sse4.1")))

TESSERA_VPCLMUL_TARGET inline __m512i Constants4(FoldConstants k)
{
    return _mm512_broadcast_i32x4(_mm_set_epi64x(static_cast<long long>(k.low), static_cast<long long>(k.high)));
}

TESSERA_VPCLMUL_TARGET inline __m512i Fold4(__m512i a, __m512i k, __m512i b)
{
    // a's two products and b, xored in one instruction
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(a, k, 0x00), _mm512_clmulepi64_epi128(a, k, 0x11), b,
                                     0x96);
}

TESSERA_VPCLMUL_TARGET inline __m512i Load4(const std::uint8_t* p) { return _mm512_loadu_si512(p); }

// Sixteen 128-bit pieces at once in four 512-bit registers, 256 bytes a round.
TESSERA_VPCLMUL_TARGET std::uint32_t Vpclmul(std::uint32_t crc, const void* data, std::size_t size)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (size < 256)
        return Pclmul(crc, data, size);
    __m512i z0 = _mm512_xor_si512(Load4(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(~crc))));
    __m512i z1 = Load4(p + 64), z2 = Load4(p + 128), z3 = Load4(p + 192);
    p += 256;
    size -= 256;
    const __m512i k2048 = Constants4(FoldBy(2048));
    for (; size >= 256; p += 256, size -= 256) {
        z0 = Fold4(z0, k2048, Load4(p));
        z1 = Fold4(z1, k2048, Load4(p + 64));
        z2 = Fold4(z2, k2048, Load4(p + 128));
        z3 = Fold4(z3, k2048, Load4(p + 192));
    }
    const __m512i k512 = Constants4(FoldBy(512));
    z1 = Fold4(z0, k512, z1);
    z2 = Fold4(z1, k512, z2);
    z3 = Fold4(z2, k512, z3);
    for (; size >= 64; p += 64, size -= 64)
        z3 = Fold4(z3, k512, Load4(p));
    const __m128i k128 = Constants(FoldBy(128));
    __m128i x = _mm512_extracti32x4_epi32(z3, 0);
    x = _mm_xor_si128(Fold(x, k128), _mm512_extracti32x4_epi32(z3, 1));
    x = _mm_xor_si128(Fold(x, k128), _mm512_extracti32x4_epi32(z3, 2));
    x = _mm_xor_si128(Fold(x, k128), _mm512_extracti32x4_epi32(z3, 3));
    return FoldTail(x, p, size);
}
#pragma GCC diagnostic pop

bool HasPclmul() { return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1"); }
bool HasVpclmul()
{
    return HasPclmul() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("vpclmulqdq");
}
#endif

using Kernel = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

Kernel Fastest()
{
    const std::vector<Crc32Kernel> kernels = Crc32Kernels();
    return kernels.back().run;
}

}  // namespace

std::uint32_t Crc32Bytewise(std::uint32_t crc, const void* data, std::size_t size)
{
    return ~RawBytewise(~crc, static_cast<const std::uint8_t*>(data), size);
}

std::vector<Crc32Kernel> Crc32Kernels()
{
    std::vector<Crc32Kernel> kernels = {{"bytewise", Crc32Bytewise}, {"slice-by-8", SliceBy8}};
#ifdef TESSERA_CRC_X86
    if (HasPclmul())
        kernels.push_back({"pclmul", Pclmul});
    if (HasVpclmul())
        kernels.push_back({"vpclmul-avx512", Vpclmul});
#endif
    return kernels;
}

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size)
{
    static const Kernel fastest = Fastest();
    return fastest(crc, data, size);
}

}  // namespace tessera
