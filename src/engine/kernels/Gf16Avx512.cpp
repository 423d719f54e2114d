// The 512-bit kernel: a whole block (32 low bytes, then 32 high bytes) in one
// register. Looking the block up as it stands and with its halves swapped,
// in tables that hold in the lower half the low byte's products and in the
// upper half the high byte's, gives the low and the high byte of the product
// in place: four PSHUFB per block and factor.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_GF16_X86

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "engine/kernels/Gf16.h"

namespace tessera::gf16::detail {

namespace {

#define TESSERA_GF16_AVX512 __attribute__((target("avx512f,avx512bw")))

// With x = [lo | hi] and s = [hi | lo] (halves of 256 bits), the product is
// t[0][x & 15] ^ t[1][x >> 4] ^ t[2][s & 15] ^ t[3][s >> 4] where
//   t[0] = [low 0 | high 2], t[1] = [low 1 | high 3],
//   t[2] = [low 2 | high 0], t[3] = [low 3 | high 1]
// (low k, high k: the tables of nibble k for the product's low, high byte).
TESSERA_GF16_AVX512 void Run(const std::uint8_t* in, std::size_t bytes, const __m512i (*tables)[4],
                             std::uint8_t* const* outs, std::size_t count)
{
    const __m512i mask = _mm512_set1_epi8(0x0F);
    __m512i nibbles[kChunkBlocks][4];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        for (std::size_t b = 0; b < blocks; ++b) {
            const __m512i x = _mm512_loadu_si512(in + at + b * kBlock);
            const __m512i s = _mm512_maskz_shuffle_i64x2(0xFF, x, x, 0x4E);
            nibbles[b][0] = _mm512_and_si512(x, mask);
            nibbles[b][1] = _mm512_and_si512(_mm512_srli_epi16(x, 4), mask);
            nibbles[b][2] = _mm512_and_si512(s, mask);
            nibbles[b][3] = _mm512_and_si512(_mm512_srli_epi16(s, 4), mask);
        }
        for (std::size_t j = 0; j < count; ++j) {
            const __m512i t0 = tables[j][0], t1 = tables[j][1], t2 = tables[j][2], t3 = tables[j][3];
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
                const __m512i* n = nibbles[b];
                __m512i acc = _mm512_loadu_si512(out);
                acc = _mm512_ternarylogic_epi32(acc, _mm512_shuffle_epi8(t0, n[0]), _mm512_shuffle_epi8(t1, n[1]), 0x96);
                acc = _mm512_ternarylogic_epi32(acc, _mm512_shuffle_epi8(t2, n[2]), _mm512_shuffle_epi8(t3, n[3]), 0x96);
                _mm512_storeu_si512(out, acc);
            }
        }
    }
}

}  // namespace

void MulAddAvx512(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                  std::uint8_t* const* accs, std::size_t count)
{
    alignas(64) std::uint8_t tables[kGroup][4][64];
    std::uint8_t* outs[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
        std::size_t used = 0;
        for (std::size_t j = first; j < std::min(count, first + kGroup); ++j) {
            if (factors[j] == 0)
                continue;
            NibbleTables nibbles;
            MakeNibbleTables(factors[j], nibbles);
            static constexpr int kLower[4] = {0, 1, 2, 3}, kUpper[4] = {2, 3, 0, 1};
            for (int k = 0; k < 4; ++k) {
                for (int lane = 0; lane < 2; ++lane) {
                    std::memcpy(tables[used][k] + 16 * lane, nibbles.low[kLower[k]], 16);
                    std::memcpy(tables[used][k] + 32 + 16 * lane, nibbles.high[kUpper[k]], 16);
                }
            }
            outs[used++] = accs[j];
        }
        if (used)
            Run(in, bytes, reinterpret_cast<const __m512i(*)[4]>(tables), outs, used);
    }
}

}  // namespace tessera::gf16::detail

#endif
