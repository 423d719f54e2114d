// The GFNI kernel on 512-bit registers: a whole block [low | high] and the
// same with its halves swapped make the product in two GF2P8AFFINEQB per
// block and factor. Also a kernel that takes up to four inputs at once.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_X86

#include <immintrin.h>

#define TESSERA_GF16_TARGET __attribute__((target("avx512f,avx512bw,gfni")))

namespace tessera::gf16::detail {
namespace {

struct Gfni {
    using V = __m512i;
    static constexpr std::size_t kWidth = 64;
    TESSERA_GF16_TARGET static V Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    TESSERA_GF16_TARGET static void Store(std::uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
    TESSERA_GF16_TARGET static __mmask64 First(std::size_t n) { return (__mmask64{1} << n) - 1; }
    TESSERA_GF16_TARGET static V LoadPart(const std::uint8_t* p, std::size_t n)
    {
        return _mm512_maskz_loadu_epi8(First(n), p);
    }
    TESSERA_GF16_TARGET static void StorePart(std::uint8_t* p, std::size_t n, V v)
    {
        _mm512_mask_storeu_epi8(p, First(n), v);
    }
    TESSERA_GF16_TARGET static V Swap(V v) { return _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0x4E); }
    TESSERA_GF16_TARGET static V Affine(V x, V matrices) { return _mm512_gf2p8affine_epi64_epi8(x, matrices, 0); }
    TESSERA_GF16_TARGET static V Sum(V acc, V a, V b) { return _mm512_ternarylogic_epi32(acc, a, b, 0x96); }
    TESSERA_GF16_TARGET static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    TESSERA_GF16_TARGET static V Words(V low, V high)
    {
        return _mm512_mask_blend_epi8(0x5555555555555555ull, high, low);
    }
    TESSERA_GF16_TARGET static V Down(V v) { return _mm512_srli_epi16(v, 8); }
    TESSERA_GF16_TARGET static V Up(V v) { return _mm512_slli_epi16(v, 8); }
};

}  // namespace
}  // namespace tessera::gf16::detail

#include "engine/kernels/Gf16AffineBody.h"

namespace tessera::gf16::detail {

namespace {

// Up to four inputs at once: each accumulator block is read and written once
// for all of them, and kBeside accumulators go side by side, so that each input
// block loaded serves kBeside of them: the loads, not the products, bound a kernel
// that loads its input again for every accumulator (0.82 ns a block and
// factor, against 0.45 with three side by side on the development machine;
// four need more registers than there are). matrices[j * N + i]: input i's
// for accumulator j.
constexpr std::size_t kBeside = 3;

template <std::size_t N>
TESSERA_GF16_TARGET void RunInputs(const std::uint8_t* const* ins, std::size_t bytes,
                                   const AffineMatrices<Gfni>* matrices, std::uint8_t* const* outs, std::size_t count)
{
    // The pointers copied, so that the stores (bytes, which may alias
    // anything) do not make the compiler read them again at every block.
    const std::uint8_t* in[N];
    for (std::size_t i = 0; i < N; ++i)
        in[i] = ins[i];
    __m512i swapped[N][kChunkBlocks];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        for (std::size_t i = 0; i < N; ++i)
            for (std::size_t b = 0; b < blocks; ++b)
                swapped[i][b] = Gfni::Swap(Gfni::Load(in[i] + at + b * kBlock));
        std::size_t j = 0;
        for (; j + kBeside <= count; j += kBeside) {
            __m512i straight[kBeside][N], crossed[kBeside][N];
#pragma GCC unroll 4
            for (std::size_t i = 0; i < N; ++i)
#pragma GCC unroll 4
                for (std::size_t k = 0; k < kBeside; ++k) {
                    straight[k][i] = matrices[(j + k) * N + i].m[0][0];
                    crossed[k][i] = matrices[(j + k) * N + i].m[0][1];
                }
            std::uint8_t* out[kBeside];
            for (std::size_t k = 0; k < kBeside; ++k)
                out[k] = outs[j + k] + at;
            for (std::size_t b = 0; b < blocks; ++b) {
                __m512i acc[kBeside];
#pragma GCC unroll 4
                for (std::size_t k = 0; k < kBeside; ++k)
                    acc[k] = Gfni::Load(out[k] + b * kBlock);
#pragma GCC unroll 4
                for (std::size_t i = 0; i < N; ++i) {
                    __m512i a = Gfni::Load(in[i] + at + b * kBlock), s = swapped[i][b];
                    // Held in registers for all: the compiler would load them again.
                    asm("" : "+v"(a), "+v"(s));
#pragma GCC unroll 4
                    for (std::size_t k = 0; k < kBeside; ++k)
                        acc[k] = Gfni::Sum(acc[k], Gfni::Affine(a, straight[k][i]), Gfni::Affine(s, crossed[k][i]));
                }
#pragma GCC unroll 4
                for (std::size_t k = 0; k < kBeside; ++k)
                    Gfni::Store(out[k] + b * kBlock, acc[k]);
            }
        }
        for (; j < count; ++j) {
            __m512i straight[N], crossed[N];
#pragma GCC unroll 4
            for (std::size_t i = 0; i < N; ++i) {
                straight[i] = matrices[j * N + i].m[0][0];
                crossed[i] = matrices[j * N + i].m[0][1];
            }
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
                __m512i acc = Gfni::Load(out);
#pragma GCC unroll 4
                for (std::size_t i = 0; i < N; ++i)
                    acc = Gfni::Sum(acc, Gfni::Affine(Gfni::Load(in[i] + at + b * kBlock), straight[i]),
                                    Gfni::Affine(swapped[i][b], crossed[i]));
                Gfni::Store(out, acc);
            }
        }
    }
}

}  // namespace

// Matrices made once for factors[i * count + j], for up to four inputs at a
// time: the inputs 4q .. 4q + n - 1 (n up to 4) from 4q * count on, row by
// row, each row's n side by side, as RunInputs<n> takes them.
TESSERA_GF16_TARGET void MakeGfniFactors(const std::uint16_t* factors, std::size_t inputs, std::size_t count,
                                         std::uint8_t* tables)
{
    auto* m = reinterpret_cast<AffineMatrices<Gfni>*>(tables);
    for (std::size_t first = 0; first < inputs; first += 4) {
        const std::size_t n = std::min<std::size_t>(4, inputs - first);
        AffineMatrices<Gfni>* quad = m + first * count;
        for (std::size_t j = 0; j < count; ++j)
            for (std::size_t i = 0; i < n; ++i)
                MakeAffineMatrices<Gfni>(factors[(first + i) * count + j], quad[j * n + i]);
    }
}

TESSERA_GF16_TARGET void RunGfniFactors(const std::uint8_t* tables, const std::uint8_t* const* ins,
                                        std::size_t inputs, std::size_t bytes, std::uint8_t* const* accs,
                                        std::size_t count)
{
    const auto* m = reinterpret_cast<const AffineMatrices<Gfni>*>(tables);
    for (std::size_t first = 0; first < inputs; first += 4) {
        const AffineMatrices<Gfni>* quad = m + first * count;
        switch (std::min<std::size_t>(4, inputs - first)) {
        case 1: RunInputs<1>(ins + first, bytes, quad, accs, count); break;
        case 2: RunInputs<2>(ins + first, bytes, quad, accs, count); break;
        case 3: RunInputs<3>(ins + first, bytes, quad, accs, count); break;
        default: RunInputs<4>(ins + first, bytes, quad, accs, count); break;
        }
    }
}

const TableKernel kTablesGfni = {sizeof(AffineMatrices<Gfni>), MakeGfniFactors, RunGfniFactors};

void MulAddGfni(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                std::uint8_t* const* accs, std::size_t count)
{
    MulAddAffine<Gfni>(in, bytes, factors, accs, count);
}

void MulAddWordsGfni(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes)
{
    MulAddWordsAffine<Gfni>(factor, in, out, bytes);
}

TESSERA_GF16_TARGET void MulAddInputsGfni(const std::uint8_t* const* ins, std::size_t inputs, std::size_t bytes,
                                          const std::uint16_t* factors, std::uint8_t* const* accs,
                                          std::size_t count)
{
    constexpr std::size_t kInputs = 4, kRows = kGroup / 2;
    AffineMatrices<Gfni> matrices[kRows * kInputs];
    for (std::size_t firstInput = 0; firstInput < inputs; firstInput += kInputs) {
        const std::size_t n = std::min(kInputs, inputs - firstInput);
        for (std::size_t first = 0; first < count; first += kRows) {
            const std::size_t rows = std::min(kRows, count - first);
            for (std::size_t j = 0; j < rows; ++j)
                for (std::size_t i = 0; i < n; ++i)
                    MakeAffineMatrices<Gfni>(factors[(firstInput + i) * count + first + j], matrices[j * n + i]);
            const std::uint8_t* const* in = ins + firstInput;
            std::uint8_t* const* out = accs + first;
            switch (n) {
            case 1: RunInputs<1>(in, bytes, matrices, out, rows); break;
            case 2: RunInputs<2>(in, bytes, matrices, out, rows); break;
            case 3: RunInputs<3>(in, bytes, matrices, out, rows); break;
            default: RunInputs<4>(in, bytes, matrices, out, rows); break;
            }
        }
    }
}

}  // namespace tessera::gf16::detail

#endif
