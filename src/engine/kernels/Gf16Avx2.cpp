// The 256-bit kernel: the 128-bit one's lookups on a whole block's 32 low
// bytes and 32 high bytes at once, eight PSHUFB per block and factor. Also
// the preparing of slices (bytes of words apart and back).
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_GF16_X86

#include <immintrin.h>

#include <algorithm>

#include "engine/kernels/Gf16.h"

namespace tessera::gf16::detail {

namespace {

#define TESSERA_GF16_AVX2 __attribute__((target("avx2")))

// tables[j]: the low-byte tables of nibbles 0..3, then the high-byte tables,
// each in both 128-bit lanes.
TESSERA_GF16_AVX2 void Run(const std::uint8_t* in, std::size_t bytes, const __m256i (*tables)[8],
                           std::uint8_t* const* outs, std::size_t count)
{
    const __m256i mask = _mm256_set1_epi8(0x0F);
    __m256i nibbles[kChunkBlocks][4];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        for (std::size_t b = 0; b < blocks; ++b) {
            const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at + b * kBlock));
            const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at + b * kBlock + 32));
            nibbles[b][0] = _mm256_and_si256(lo, mask);
            nibbles[b][1] = _mm256_and_si256(_mm256_srli_epi16(lo, 4), mask);
            nibbles[b][2] = _mm256_and_si256(hi, mask);
            nibbles[b][3] = _mm256_and_si256(_mm256_srli_epi16(hi, 4), mask);
        }
        for (std::size_t j = 0; j < count; ++j) {
            const __m256i t0 = tables[j][0], t1 = tables[j][1], t2 = tables[j][2], t3 = tables[j][3];
            const __m256i t4 = tables[j][4], t5 = tables[j][5], t6 = tables[j][6], t7 = tables[j][7];
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
                const __m256i* n = nibbles[b];
                const __m256i low =
                    _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(t0, n[0]), _mm256_shuffle_epi8(t1, n[1])),
                                     _mm256_xor_si256(_mm256_shuffle_epi8(t2, n[2]), _mm256_shuffle_epi8(t3, n[3])));
                const __m256i high =
                    _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(t4, n[0]), _mm256_shuffle_epi8(t5, n[1])),
                                     _mm256_xor_si256(_mm256_shuffle_epi8(t6, n[2]), _mm256_shuffle_epi8(t7, n[3])));
                __m256i* accLow = reinterpret_cast<__m256i*>(out);
                __m256i* accHigh = reinterpret_cast<__m256i*>(out + 32);
                _mm256_storeu_si256(accLow, _mm256_xor_si256(_mm256_loadu_si256(accLow), low));
                _mm256_storeu_si256(accHigh, _mm256_xor_si256(_mm256_loadu_si256(accHigh), high));
            }
        }
    }
}

TESSERA_GF16_AVX2 __m256i Broadcast(const std::uint8_t table[16])
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

}  // namespace

TESSERA_GF16_AVX2 void MulAddAvx2(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                                  std::uint8_t* const* accs, std::size_t count)
{
    alignas(64) __m256i tables[kGroup][8];
    std::uint8_t* outs[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
        std::size_t used = 0;
        for (std::size_t j = first; j < std::min(count, first + kGroup); ++j) {
            if (factors[j] == 0)
                continue;
            NibbleTables nibbles;
            MakeNibbleTables(factors[j], nibbles);
            for (int k = 0; k < 4; ++k) {
                tables[used][k] = Broadcast(nibbles.low[k]);
                tables[used][4 + k] = Broadcast(nibbles.high[k]);
            }
            outs[used++] = accs[j];
        }
        if (used)
            Run(in, bytes, tables, outs, used);
    }
}

// Each 128-bit lane of a block's 64 bytes is first sorted into its 8 low
// bytes then its 8 high bytes; the quarters are then gathered across lanes.
TESSERA_GF16_AVX2 void PrepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    const __m256i apart = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15,  //
                                           0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        const __m256i first = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)), apart);
        const __m256i second =
            _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32)), apart);
        // Words 0..15: low bytes in the lower half, high bytes in the upper.
        const __m256i a = _mm256_permute4x64_epi64(first, 0xD8);
        const __m256i c = _mm256_permute4x64_epi64(second, 0xD8);
        std::uint8_t* to = out + b * kBlock;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute2x128_si256(a, c, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), _mm256_permute2x128_si256(a, c, 0x31));
    }
}

TESSERA_GF16_AVX2 void UnprepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32));
        // Words 0..7 and 16..23, then 8..15 and 24..31.
        const __m256i a = _mm256_unpacklo_epi8(lo, hi);
        const __m256i c = _mm256_unpackhi_epi8(lo, hi);
        std::uint8_t* to = out + b * kBlock;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute2x128_si256(a, c, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), _mm256_permute2x128_si256(a, c, 0x31));
    }
}

}  // namespace tessera::gf16::detail

#endif
