// The 128-bit kernel: PSHUFB looks up each nibble of 16 words at once in a
// table of the factor's 16 products with it, four tables (one per nibble of
// the word) for each byte of the product.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_GF16_X86

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "engine/kernels/Gf16.h"

namespace tessera::gf16::detail {

namespace {

#define TESSERA_GF16_SSSE3 __attribute__((target("ssse3")))

// tables[j]: the low-byte tables of nibbles 0..3, then the high-byte tables.
TESSERA_GF16_SSSE3 void Run(const std::uint8_t* in, std::size_t bytes, const __m128i (*tables)[8],
                            std::uint8_t* const* outs, std::size_t count)
{
    const __m128i mask = _mm_set1_epi8(0x0F);
    // Each block as two halves of 16 words.
    __m128i nibbles[2 * kChunkBlocks][4];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        for (std::size_t h = 0; h < 2 * blocks; ++h) {
            const std::uint8_t* from = in + at + h / 2 * kBlock + h % 2 * 16;
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
            nibbles[h][0] = _mm_and_si128(lo, mask);
            nibbles[h][1] = _mm_and_si128(_mm_srli_epi16(lo, 4), mask);
            nibbles[h][2] = _mm_and_si128(hi, mask);
            nibbles[h][3] = _mm_and_si128(_mm_srli_epi16(hi, 4), mask);
        }
        for (std::size_t j = 0; j < count; ++j) {
            const __m128i t0 = tables[j][0], t1 = tables[j][1], t2 = tables[j][2], t3 = tables[j][3];
            const __m128i t4 = tables[j][4], t5 = tables[j][5], t6 = tables[j][6], t7 = tables[j][7];
            std::uint8_t* out = outs[j] + at;
            for (std::size_t h = 0; h < 2 * blocks; ++h) {
                const __m128i* n = nibbles[h];
                const __m128i low = _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(t0, n[0]), _mm_shuffle_epi8(t1, n[1])),
                                                  _mm_xor_si128(_mm_shuffle_epi8(t2, n[2]), _mm_shuffle_epi8(t3, n[3])));
                const __m128i high = _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(t4, n[0]), _mm_shuffle_epi8(t5, n[1])),
                                                   _mm_xor_si128(_mm_shuffle_epi8(t6, n[2]), _mm_shuffle_epi8(t7, n[3])));
                __m128i* accLow = reinterpret_cast<__m128i*>(out + h / 2 * kBlock + h % 2 * 16);
                __m128i* accHigh = accLow + 2;
                _mm_storeu_si128(accLow, _mm_xor_si128(_mm_loadu_si128(accLow), low));
                _mm_storeu_si128(accHigh, _mm_xor_si128(_mm_loadu_si128(accHigh), high));
            }
        }
    }
}

}  // namespace

void MulAddSsse3(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                 std::uint8_t* const* accs, std::size_t count)
{
    alignas(64) __m128i tables[kGroup][8];
    std::uint8_t* outs[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
        std::size_t used = 0;
        for (std::size_t j = first; j < std::min(count, first + kGroup); ++j) {
            if (factors[j] == 0)
                continue;
            NibbleTables nibbles;
            MakeNibbleTables(factors[j], nibbles);
            for (int k = 0; k < 4; ++k) {
                std::memcpy(&tables[used][k], nibbles.low[k], 16);
                std::memcpy(&tables[used][4 + k], nibbles.high[k], 16);
            }
            outs[used++] = accs[j];
        }
        if (used)
            Run(in, bytes, tables, outs, used);
    }
}

// Each 16 bytes (8 words) sorted into their low bytes then their high bytes;
// two such halves make 16 low and 16 high bytes.
TESSERA_GF16_SSSE3 void PrepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    const __m128i apart = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        std::uint8_t* to = out + b * kBlock;
        for (int half = 0; half < 2; ++half) {
            const __m128i first =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32 * half)), apart);
            const __m128i second =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32 * half + 16)), apart);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * half), _mm_unpacklo_epi64(first, second));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32 + 16 * half), _mm_unpackhi_epi64(first, second));
        }
    }
}

TESSERA_GF16_SSSE3 void UnprepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        std::uint8_t* to = out + b * kBlock;
        for (int half = 0; half < 2; ++half) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16 * half));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32 + 16 * half));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32 * half), _mm_unpacklo_epi8(lo, hi));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32 * half + 16), _mm_unpackhi_epi8(lo, hi));
        }
    }
}

}  // namespace tessera::gf16::detail

#endif
