// The GFNI kernel: multiplying a word by a constant is linear over GF(2), a
// 16 x 16 bit matrix, four 8 x 8 blocks of which GF2P8AFFINEQB applies to
// every byte of a register. With a whole block x = [lo | hi] in a register
// and s = [hi | lo] its halves swapped, the product is
//   affine(x, [low from low | high from high]) ^ affine(s, [low from high | high from low]):
// two instructions per block and factor. Processors with GFNI but not
// AVX-512 take the low and high bytes in two 256-bit registers instead: four.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_GF16_X86

#include <immintrin.h>

#include <algorithm>

#include "engine/kernels/Gf16.h"

namespace tessera::gf16::detail {

namespace {

#define TESSERA_GF16_GFNI __attribute__((target("avx512f,avx512bw,gfni")))
#define TESSERA_GF16_GFNI_AVX2 __attribute__((target("avx2,gfni")))

// The 8 x 8 block taking bits [from, from + 8) of a word to bits [to, to + 8)
// of its product, as GF2P8AFFINEQB reads a matrix: byte 7 - i holds the row
// of result bit i, bit j of the row the weight of source bit j.
std::uint64_t Matrix(const std::uint16_t basis[16], int from, int to)
{
    // Byte j: the images of source bit j, bit i of which is the weight of
    // source bit j in result bit i (a column).
    std::uint64_t columns = 0;
    for (int j = 0; j < 8; ++j)
        columns |= static_cast<std::uint64_t>((basis[from + j] >> to) & 0xFF) << (8 * j);
    // Transposed (byte i, bit j = byte j, bit i of before) into rows, and the
    // rows in the order the instruction reads them.
    std::uint64_t t = (columns ^ (columns >> 7)) & 0x00AA00AA00AA00AAull;
    columns ^= t ^ (t << 7);
    t = (columns ^ (columns >> 14)) & 0x0000CCCC0000CCCCull;
    columns ^= t ^ (t << 14);
    t = (columns ^ (columns >> 28)) & 0x00000000F0F0F0F0ull;
    columns ^= t ^ (t << 28);
    return __builtin_bswap64(columns);
}

TESSERA_GF16_GFNI void Run(const std::uint8_t* in, std::size_t bytes, const __m512i (*matrices)[2],
                           std::uint8_t* const* outs, std::size_t count)
{
    __m512i swapped[kChunkBlocks];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        const std::uint8_t* chunk = in + at;
        for (std::size_t b = 0; b < blocks; ++b) {
            const __m512i x = _mm512_loadu_si512(chunk + b * kBlock);
            swapped[b] = _mm512_maskz_shuffle_i64x2(0xFF, x, x, 0x4E);
        }
        for (std::size_t j = 0; j < count; ++j) {
            const __m512i straightMatrix = matrices[j][0], crossedMatrix = matrices[j][1];
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
                const __m512i straight =
                    _mm512_gf2p8affine_epi64_epi8(_mm512_loadu_si512(chunk + b * kBlock), straightMatrix, 0);
                const __m512i crossed = _mm512_gf2p8affine_epi64_epi8(swapped[b], crossedMatrix, 0);
                _mm512_storeu_si512(out, _mm512_ternarylogic_epi32(_mm512_loadu_si512(out), straight, crossed, 0x96));
            }
        }
    }
}

// matrices[j]: low from low, low from high, high from low, high from high,
// each in all four 64-bit lanes.
TESSERA_GF16_GFNI_AVX2 void Run256(const std::uint8_t* in, std::size_t bytes, const __m256i (*matrices)[4],
                                   std::uint8_t* const* outs, std::size_t count)
{
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        const std::uint8_t* chunk = in + at;
        for (std::size_t j = 0; j < count; ++j) {
            const __m256i lowFromLow = matrices[j][0], lowFromHigh = matrices[j][1];
            const __m256i highFromLow = matrices[j][2], highFromHigh = matrices[j][3];
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
                const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chunk + b * kBlock));
                const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chunk + b * kBlock + 32));
                const __m256i low = _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(lo, lowFromLow, 0),
                                                     _mm256_gf2p8affine_epi64_epi8(hi, lowFromHigh, 0));
                const __m256i high = _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(lo, highFromLow, 0),
                                                      _mm256_gf2p8affine_epi64_epi8(hi, highFromHigh, 0));
                __m256i* accLow = reinterpret_cast<__m256i*>(out);
                __m256i* accHigh = reinterpret_cast<__m256i*>(out + 32);
                _mm256_storeu_si256(accLow, _mm256_xor_si256(_mm256_loadu_si256(accLow), low));
                _mm256_storeu_si256(accHigh, _mm256_xor_si256(_mm256_loadu_si256(accHigh), high));
            }
        }
    }
}

// Up to four inputs at once: each accumulator block is read and written once
// for all of them. matrices[j * N + i]: the pair of input i for factor row j.
template <std::size_t N>
TESSERA_GF16_GFNI void RunInputs(const std::uint8_t* const* ins, std::size_t bytes, const __m512i (*matrices)[2],
                                 std::uint8_t* const* outs, std::size_t count)
{
    // The pointers copied, so that the stores (bytes, which may alias
    // anything) do not make the compiler read them again at every block.
    const std::uint8_t* in[N];
    for (std::size_t i = 0; i < N; ++i)
        in[i] = ins[i];
    __m512i swapped[N][kChunkBlocks];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        for (std::size_t i = 0; i < N; ++i) {
            for (std::size_t b = 0; b < blocks; ++b) {
                const __m512i x = _mm512_loadu_si512(in[i] + at + b * kBlock);
                swapped[i][b] = _mm512_maskz_shuffle_i64x2(0xFF, x, x, 0x4E);
            }
        }
        for (std::size_t j = 0; j < count; ++j) {
            __m512i straightMatrix[N], crossedMatrix[N];
#pragma GCC unroll 4
            for (std::size_t i = 0; i < N; ++i) {
                straightMatrix[i] = matrices[j * N + i][0];
                crossedMatrix[i] = matrices[j * N + i][1];
            }
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
                __m512i acc = _mm512_loadu_si512(out);
#pragma GCC unroll 4
                for (std::size_t i = 0; i < N; ++i) {
                    const __m512i x = _mm512_loadu_si512(in[i] + at + b * kBlock);
                    acc = _mm512_ternarylogic_epi32(acc, _mm512_gf2p8affine_epi64_epi8(x, straightMatrix[i], 0),
                                                    _mm512_gf2p8affine_epi64_epi8(swapped[i][b], crossedMatrix[i], 0),
                                                    0x96);
                }
                _mm512_storeu_si512(out, acc);
            }
        }
    }
}

}  // namespace

void MulAddGfni(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                std::uint8_t* const* accs, std::size_t count)
{
    alignas(64) std::uint64_t matrices[kGroup][2][8];
    std::uint8_t* outs[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
        std::size_t used = 0;
        for (std::size_t j = first; j < std::min(count, first + kGroup); ++j) {
            if (factors[j] == 0)
                continue;
            std::uint16_t basis[16];
            Basis(factors[j], basis);
            const std::uint64_t lowFromLow = Matrix(basis, 0, 0), highFromHigh = Matrix(basis, 8, 8);
            const std::uint64_t lowFromHigh = Matrix(basis, 8, 0), highFromLow = Matrix(basis, 0, 8);
            for (int q = 0; q < 4; ++q) {
                matrices[used][0][q] = lowFromLow;
                matrices[used][0][4 + q] = highFromHigh;
                matrices[used][1][q] = lowFromHigh;
                matrices[used][1][4 + q] = highFromLow;
            }
            outs[used++] = accs[j];
        }
        if (used)
            Run(in, bytes, reinterpret_cast<const __m512i(*)[2]>(matrices), outs, used);
    }
}

void MulAddGfniAvx2(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                    std::uint8_t* const* accs, std::size_t count)
{
    alignas(64) std::uint64_t matrices[kGroup][4][4];
    std::uint8_t* outs[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
        std::size_t used = 0;
        for (std::size_t j = first; j < std::min(count, first + kGroup); ++j) {
            if (factors[j] == 0)
                continue;
            std::uint16_t basis[16];
            Basis(factors[j], basis);
            const std::uint64_t blocks[4] = {Matrix(basis, 0, 0), Matrix(basis, 8, 0), Matrix(basis, 0, 8),
                                             Matrix(basis, 8, 8)};
            for (int m = 0; m < 4; ++m)
                for (int q = 0; q < 4; ++q)
                    matrices[used][m][q] = blocks[m];
            outs[used++] = accs[j];
        }
        if (used)
            Run256(in, bytes, reinterpret_cast<const __m256i(*)[4]>(matrices), outs, used);
    }
}

void MulAddInputsGfni(const std::uint8_t* const* ins, std::size_t inputs, std::size_t bytes,
                      const std::uint16_t* factors, std::uint8_t* const* accs, std::size_t count)
{
    constexpr std::size_t kInputs = 4, kRows = kGroup / 2;
    alignas(64) std::uint64_t matrices[kRows * kInputs][2][8];
    for (std::size_t firstInput = 0; firstInput < inputs; firstInput += kInputs) {
        const std::size_t n = std::min(kInputs, inputs - firstInput);
        for (std::size_t first = 0; first < count; first += kRows) {
            const std::size_t rows = std::min(kRows, count - first);
            for (std::size_t j = 0; j < rows; ++j) {
                for (std::size_t i = 0; i < n; ++i) {
                    std::uint16_t basis[16];
                    Basis(factors[(firstInput + i) * count + first + j], basis);
                    const std::uint64_t lowFromLow = Matrix(basis, 0, 0), highFromHigh = Matrix(basis, 8, 8);
                    const std::uint64_t lowFromHigh = Matrix(basis, 8, 0), highFromLow = Matrix(basis, 0, 8);
                    for (int q = 0; q < 4; ++q) {
                        matrices[j * n + i][0][q] = lowFromLow;
                        matrices[j * n + i][0][4 + q] = highFromHigh;
                        matrices[j * n + i][1][q] = lowFromHigh;
                        matrices[j * n + i][1][4 + q] = highFromLow;
                    }
                }
            }
            const auto* m = reinterpret_cast<const __m512i(*)[2]>(matrices);
            const std::uint8_t* const* in = ins + firstInput;
            std::uint8_t* const* out = accs + first;
            switch (n) {
            case 1: RunInputs<1>(in, bytes, m, out, rows); break;
            case 2: RunInputs<2>(in, bytes, m, out, rows); break;
            case 3: RunInputs<3>(in, bytes, m, out, rows); break;
            default: RunInputs<4>(in, bytes, m, out, rows); break;
            }
        }
    }
}

// Words as they stand, low and high bytes interleaved: each block's four
// 8 x 8 products taken of every byte, the ones from the other byte of the
// word shifted across into place, and the products of its own byte kept by
// a mask. Four GF2P8AFFINEQB per 64 bytes, no preparing.
TESSERA_GF16_GFNI void MulAddWordsGfni(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out,
                                       std::size_t bytes)
{
    std::uint16_t basis[16];
    Basis(factor, basis);
    const __m512i lowFromLow = _mm512_set1_epi64(static_cast<long long>(Matrix(basis, 0, 0)));
    const __m512i lowFromHigh = _mm512_set1_epi64(static_cast<long long>(Matrix(basis, 8, 0)));
    const __m512i highFromLow = _mm512_set1_epi64(static_cast<long long>(Matrix(basis, 0, 8)));
    const __m512i highFromHigh = _mm512_set1_epi64(static_cast<long long>(Matrix(basis, 8, 8)));
    const __mmask64 lowBytes = 0x5555555555555555ull;
    for (std::size_t at = 0; at < bytes; at += 64) {
        const std::size_t size = std::min<std::size_t>(64, bytes - at);
        const __mmask64 mask = size == 64 ? ~__mmask64{0} : (__mmask64{1} << size) - 1;
        const __m512i x = _mm512_maskz_loadu_epi8(mask, in + at);
        // Each byte's product from its own byte: low bytes from low, high from high.
        const __m512i own = _mm512_mask_blend_epi8(lowBytes, _mm512_gf2p8affine_epi64_epi8(x, highFromHigh, 0),
                                                   _mm512_gf2p8affine_epi64_epi8(x, lowFromLow, 0));
        // From the other byte of the word: high bytes' share of the low one
        // moved down, low bytes' share of the high one moved up.
        const __m512i down = _mm512_srli_epi16(_mm512_gf2p8affine_epi64_epi8(x, lowFromHigh, 0), 8);
        const __m512i up = _mm512_slli_epi16(_mm512_gf2p8affine_epi64_epi8(x, highFromLow, 0), 8);
        const __m512i acc = _mm512_maskz_loadu_epi8(mask, out + at);
        _mm512_mask_storeu_epi8(out + at, mask,
                                _mm512_ternarylogic_epi32(acc, own, _mm512_or_si512(down, up), 0x96));
    }
}

// The same on 256-bit registers, the last part of 32 bytes by split tables.
TESSERA_GF16_GFNI_AVX2 void MulAddWordsGfniAvx2(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out,
                                                std::size_t bytes)
{
    std::uint16_t basis[16];
    Basis(factor, basis);
    const __m256i lowFromLow = _mm256_set1_epi64x(static_cast<long long>(Matrix(basis, 0, 0)));
    const __m256i lowFromHigh = _mm256_set1_epi64x(static_cast<long long>(Matrix(basis, 8, 0)));
    const __m256i highFromLow = _mm256_set1_epi64x(static_cast<long long>(Matrix(basis, 0, 8)));
    const __m256i highFromHigh = _mm256_set1_epi64x(static_cast<long long>(Matrix(basis, 8, 8)));
    const __m256i highBytes = _mm256_set1_epi16(static_cast<short>(0xFF00));
    std::size_t at = 0;
    for (; at + 32 <= bytes; at += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at));
        const __m256i own = _mm256_blendv_epi8(_mm256_gf2p8affine_epi64_epi8(x, lowFromLow, 0),
                                               _mm256_gf2p8affine_epi64_epi8(x, highFromHigh, 0), highBytes);
        const __m256i down = _mm256_srli_epi16(_mm256_gf2p8affine_epi64_epi8(x, lowFromHigh, 0), 8);
        const __m256i up = _mm256_slli_epi16(_mm256_gf2p8affine_epi64_epi8(x, highFromLow, 0), 8);
        __m256i* acc = reinterpret_cast<__m256i*>(out + at);
        _mm256_storeu_si256(acc, _mm256_xor_si256(_mm256_loadu_si256(acc),
                                                  _mm256_xor_si256(own, _mm256_or_si256(down, up))));
    }
    if (at < bytes) {
        std::uint16_t low[256], high[256];
        SplitTables(factor, low, high);
        for (; at + 1 < bytes; at += 2) {
            const std::uint16_t product = low[in[at]] ^ high[in[at + 1]];
            out[at] ^= static_cast<std::uint8_t>(product);
            out[at + 1] ^= static_cast<std::uint8_t>(product >> 8);
        }
        if (at < bytes)
            out[at] ^= static_cast<std::uint8_t>(low[in[at]]);
    }
}

}  // namespace tessera::gf16::detail

#endif
