// The 128-bit kernel: PSHUFB looks up each nibble of 16 words at once in a
// table of the factor's 16 products with it, four tables (one per nibble of
// the word) for each byte of the product.
#include "engine/recovery/Gf16Kernels.h"

#ifdef TESSERA_GF16_X86

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "engine/recovery/Gf16.h"

namespace tessera::gf16::detail {

namespace {

#define TESSERA_GF16_SSSE3 __attribute__((target("ssse3")))

// tables[j]: the low-byte tables of nibbles 0..3, then the high-byte tables.
TESSERA_GF16_SSSE3 void Run(const std::uint8_t* in, std::size_t bytes, const __m128i (*tables)[8],
                            std::uint8_t* const* outs, std::size_t count)
{
    const __m128i mask = _mm_set1_epi8(0x0F);
    for (std::size_t at = 0; at < bytes; at += kBlock) {
        __m128i nibble[2][4];
        for (int half = 0; half < 2; ++half) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at + 16 * half));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at + 32 + 16 * half));
            nibble[half][0] = _mm_and_si128(lo, mask);
            nibble[half][1] = _mm_and_si128(_mm_srli_epi16(lo, 4), mask);
            nibble[half][2] = _mm_and_si128(hi, mask);
            nibble[half][3] = _mm_and_si128(_mm_srli_epi16(hi, 4), mask);
        }
        for (std::size_t j = 0; j < count; ++j) {
            const __m128i* t = tables[j];
            std::uint8_t* out = outs[j] + at;
            for (int half = 0; half < 2; ++half) {
                const __m128i* n = nibble[half];
                const __m128i low = _mm_xor_si128(
                    _mm_xor_si128(_mm_shuffle_epi8(t[0], n[0]), _mm_shuffle_epi8(t[1], n[1])),
                    _mm_xor_si128(_mm_shuffle_epi8(t[2], n[2]), _mm_shuffle_epi8(t[3], n[3])));
                const __m128i high = _mm_xor_si128(
                    _mm_xor_si128(_mm_shuffle_epi8(t[4], n[0]), _mm_shuffle_epi8(t[5], n[1])),
                    _mm_xor_si128(_mm_shuffle_epi8(t[6], n[2]), _mm_shuffle_epi8(t[7], n[3])));
                __m128i* accLow = reinterpret_cast<__m128i*>(out + 16 * half);
                __m128i* accHigh = reinterpret_cast<__m128i*>(out + 32 + 16 * half);
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

}  // namespace tessera::gf16::detail

#endif
