// The GFNI kernels, written once for every register width. A word times a
// constant is linear over GF(2), a 16 x 16 bit matrix, whose four 8 x 8
// blocks GF2P8AFFINEQB applies to every byte of a register. With a and s as
// Layout describes, each result is the sum of two such products, one of a
// and one of s, each by the matrix that takes their bytes to the result's.
//
// Included by a file for one instruction set, which first defines
//   - TESSERA_GF16_TARGET, the target attribute of its instructions, and
//   - in tessera::gf16::detail's unnamed namespace, a struct with
//       using V;                              the register
//       static constexpr std::size_t kWidth;  its bytes
//       V Load(const std::uint8_t*), void Store(std::uint8_t*, V)  (unaligned)
//       V LoadPart(const std::uint8_t*, std::size_t n)  n < kWidth bytes, zeros after
//       void StorePart(std::uint8_t*, std::size_t n, V) its first n bytes
//       V Swap(V)                             halves exchanged (64 bytes only)
//       V Affine(V x, V matrices)             GF2P8AFFINEQB, one matrix per 64 bits
//       V Sum(V acc, V, V)                    acc ^ both
//       V Or(V, V)
//       V Words(V low, V high)                each word's low byte from low, high from high
//       V Down(V), V Up(V)                    each word shifted by 8 bits
// then calls MulAddAffine<ThatStruct> and MulAddWordsAffine<ThatStruct>, and
// makes its TableKernel of MakeAffineFactors<ThatStruct> and
// RunAffineFactors<ThatStruct> (or of its own).
#ifndef TESSERA_GF16_TARGET
#error "define TESSERA_GF16_TARGET before including the kernel body"
#endif

#include <algorithm>
#include <cstring>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Kernels.h"

namespace tessera::gf16::detail {

namespace {

// One factor's matrices: for each result, the one for a and the one for s.
template <typename Isa>
struct AffineMatrices {
    typename Isa::V m[Layout<Isa::kWidth>::kResults][2];
};

template <typename Isa>
TESSERA_GF16_TARGET void MakeAffineMatrices(std::uint16_t factor, AffineMatrices<Isa>& matrices)
{
    using L = Layout<Isa::kWidth>;
    // blocks[from][to]: from the low (0) or high (1) bytes of the words to
    // the low or high bytes of the products.
    std::uint64_t blocks[2][2];
    AffineBlocks(factor, blocks);
    alignas(64) std::uint64_t lanes[Isa::kWidth / 8];
    for (std::size_t r = 0; r < L::kResults; ++r) {
        for (int swapped = 0; swapped < 2; ++swapped) {
            for (std::size_t q = 0; q < Isa::kWidth / 8; ++q)
                lanes[q] = blocks[L::Plane(swapped, q / 2)][L::ResultPlane(r, q / 2)];
            matrices.m[r][swapped] = Isa::Load(reinterpret_cast<const std::uint8_t*>(lanes));
        }
    }
}

template <typename Isa>
TESSERA_GF16_TARGET void RunAffine(const std::uint8_t* in, std::size_t bytes, const AffineMatrices<Isa>* matrices,
                                   std::uint8_t* const* outs, std::size_t count)
{
    using V = typename Isa::V;
    using L = Layout<Isa::kWidth>;
    // s of each block of a chunk, where it takes an instruction to make.
    V swapped[L::kWhole ? kChunkBlocks : 1];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        const std::uint8_t* chunk = in + at;
        if constexpr (L::kWhole)
            for (std::size_t b = 0; b < blocks; ++b)
                swapped[b] = Isa::Swap(Isa::Load(chunk + b * kBlock));
        for (std::size_t j = 0; j < count; ++j) {
            const AffineMatrices<Isa> m = matrices[j];
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
#pragma GCC unroll 2
                for (std::size_t u = 0; u < L::kUnits; ++u) {
                    const std::uint8_t* unit = chunk + b * kBlock + L::At(u);
                    const V a = Isa::Load(unit);
                    V s;
                    if constexpr (L::kWhole)
                        s = swapped[b];
                    else
                        s = Isa::Load(unit + 32);
#pragma GCC unroll 2
                    for (std::size_t r = 0; r < L::kResults; ++r) {
                        std::uint8_t* acc = out + L::ResultAt(u, r);
                        Isa::Store(acc, Isa::Sum(Isa::Load(acc), Isa::Affine(a, m.m[r][0]), Isa::Affine(s, m.m[r][1])));
                    }
                }
            }
        }
    }
}

// The kernel: factors a group at a time, those that are zero left out.
template <typename Isa>
TESSERA_GF16_TARGET void MulAddAffine(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                                      std::uint8_t* const* accs, std::size_t count)
{
    AffineMatrices<Isa> matrices[kGroup];
    std::uint8_t* outs[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
        std::size_t used = 0;
        for (std::size_t j = first; j < std::min(count, first + kGroup); ++j) {
            if (factors[j] == 0)
                continue;
            MakeAffineMatrices<Isa>(factors[j], matrices[used]);
            outs[used++] = accs[j];
        }
        if (used)
            RunAffine<Isa>(in, bytes, matrices, outs, used);
    }
}

// Matrices made once for factors[i * count + j]: AffineMatrices in the same
// order.
template <typename Isa>
TESSERA_GF16_TARGET void MakeAffineFactors(const std::uint16_t* factors, std::size_t inputs, std::size_t count,
                                           std::uint8_t* tables)
{
    auto* m = reinterpret_cast<AffineMatrices<Isa>*>(tables);
    for (std::size_t k = 0; k < inputs * count; ++k)
        MakeAffineMatrices<Isa>(factors[k], m[k]);
}

template <typename Isa>
TESSERA_GF16_TARGET void RunAffineFactors(const std::uint8_t* tables, const std::uint8_t* const* ins,
                                          std::size_t inputs, std::size_t bytes, std::uint8_t* const* accs,
                                          std::size_t count)
{
    const auto* m = reinterpret_cast<const AffineMatrices<Isa>*>(tables);
    for (std::size_t i = 0; i < inputs; ++i)
        RunAffine<Isa>(ins[i], bytes, m + i * count, accs, count);
}

// The four blocks of one factor's matrix, each in every 64 bits of a register.
template <typename Isa>
struct WordMatrices {
    typename Isa::V lowFromLow, lowFromHigh, highFromLow, highFromHigh;
};

template <typename Isa>
TESSERA_GF16_TARGET typename Isa::V Broadcast(std::uint64_t matrix)
{
    alignas(64) std::uint64_t lanes[Isa::kWidth / 8];
    std::fill(lanes, lanes + Isa::kWidth / 8, matrix);
    return Isa::Load(reinterpret_cast<const std::uint8_t*>(lanes));
}

// acc plus the products of the words of x, as they stand: every byte's four
// 8 x 8 products taken, the ones from the other byte of its word shifted
// across into place, and those of its own byte kept.
template <typename Isa>
TESSERA_GF16_TARGET typename Isa::V WordsProduct(typename Isa::V x, typename Isa::V acc, const WordMatrices<Isa>& m)
{
    const auto own = Isa::Words(Isa::Affine(x, m.lowFromLow), Isa::Affine(x, m.highFromHigh));
    const auto across = Isa::Or(Isa::Down(Isa::Affine(x, m.lowFromHigh)), Isa::Up(Isa::Affine(x, m.highFromLow)));
    return Isa::Sum(acc, own, across);
}

// MulAddWords without preparing: four GF2P8AFFINEQB per register of words.
template <typename Isa>
TESSERA_GF16_TARGET void MulAddWordsAffine(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out,
                                           std::size_t bytes)
{
    std::uint64_t blocks[2][2];
    AffineBlocks(factor, blocks);
    WordMatrices<Isa> m;
    m.lowFromLow = Broadcast<Isa>(blocks[0][0]);
    m.lowFromHigh = Broadcast<Isa>(blocks[1][0]);
    m.highFromLow = Broadcast<Isa>(blocks[0][1]);
    m.highFromHigh = Broadcast<Isa>(blocks[1][1]);
    std::size_t at = 0;
    for (; at + Isa::kWidth <= bytes; at += Isa::kWidth)
        Isa::Store(out + at, WordsProduct<Isa>(Isa::Load(in + at), Isa::Load(out + at), m));
    // A last odd byte is a word whose high byte is zero, and only the
    // product's low byte is kept.
    if (const std::size_t rest = bytes - at; rest > 0)
        Isa::StorePart(out + at, rest, WordsProduct<Isa>(Isa::LoadPart(in + at, rest), Isa::LoadPart(out + at, rest), m));
}

}  // namespace

}  // namespace tessera::gf16::detail
