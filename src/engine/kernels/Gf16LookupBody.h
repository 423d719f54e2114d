// The lookup kernels, written once for every register width: PSHUFB looks up
// each nibble of a register's bytes in a table of the factor's 16 products
// with it. With a and s as Layout describes, each result is the sum of four
// lookups (the low and high nibble of a and of s), each in its own table.
//
// Included by a file for one instruction set, which first defines
//   - TESSERA_GF16_TARGET, the target attribute of its instructions, and
//   - in tessera::gf16::detail's unnamed namespace, a struct with
//       using V;                              the register
//       static constexpr std::size_t kWidth;  its bytes
//       V Load(const std::uint8_t*), void Store(std::uint8_t*, V)  (unaligned)
//       V Swap(V)                             halves exchanged (64 bytes only)
//       V Low(V), V High(V)                   each byte's low, high nibble
//       V Lookup(V table, V nibbles)          per 16-byte lane
//       V Sum(V acc, V, V, V, V)              acc ^ the four
// then calls MulAddLookup<ThatStruct>, and makes its TableKernel of
// MakeLookupFactors<ThatStruct> and RunLookupFactors<ThatStruct>.
#ifndef TESSERA_GF16_TARGET
#error "define TESSERA_GF16_TARGET before including the kernel body"
#endif

#include <algorithm>
#include <cstring>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Kernels.h"

namespace tessera::gf16::detail {

namespace {

// One factor's tables: for each result, one for each of the four nibbles.
template <typename Isa>
struct LookupTables {
    typename Isa::V t[Layout<Isa::kWidth>::kResults][4];
};

template <typename Isa>
TESSERA_GF16_TARGET void MakeLookupTables(std::uint16_t factor, LookupTables<Isa>& tables)
{
    using L = Layout<Isa::kWidth>;
    NibbleTables nibbles;
    MakeNibbleTables(factor, nibbles);
    alignas(64) std::uint8_t bytes[Isa::kWidth];
    for (std::size_t r = 0; r < L::kResults; ++r) {
        for (int k = 0; k < 4; ++k) {
            // k: the low and high nibble of a, then of s.
            for (std::size_t lane = 0; lane < L::kLanes; ++lane) {
                const int nibble = 2 * L::Plane(k >= 2, lane) + (k & 1);
                const std::uint8_t* table = L::ResultPlane(r, lane) ? nibbles.high[nibble] : nibbles.low[nibble];
                std::memcpy(bytes + 16 * lane, table, 16);
            }
            tables.t[r][k] = Isa::Load(bytes);
        }
    }
}

template <typename Isa>
TESSERA_GF16_TARGET void RunLookup(const std::uint8_t* in, std::size_t bytes, const LookupTables<Isa>* tables,
                                   std::uint8_t* const* outs, std::size_t count)
{
    using V = typename Isa::V;
    using L = Layout<Isa::kWidth>;
    V nibbles[kChunkBlocks * L::kUnits][4];
    for (std::size_t at = 0; at < bytes; at += kChunkBlocks * kBlock) {
        const std::size_t blocks = std::min(kChunkBlocks, (bytes - at) / kBlock);
        for (std::size_t b = 0; b < blocks; ++b) {
#pragma GCC unroll 2
            for (std::size_t u = 0; u < L::kUnits; ++u) {
                const std::uint8_t* unit = in + at + b * kBlock + L::At(u);
                const V a = Isa::Load(unit);
                V s;
                if constexpr (L::kWhole)
                    s = Isa::Swap(a);
                else
                    s = Isa::Load(unit + 32);
                V* n = nibbles[b * L::kUnits + u];
                n[0] = Isa::Low(a);
                n[1] = Isa::High(a);
                n[2] = Isa::Low(s);
                n[3] = Isa::High(s);
            }
        }
        for (std::size_t j = 0; j < count; ++j) {
            const LookupTables<Isa> t = tables[j];
            std::uint8_t* out = outs[j] + at;
            for (std::size_t b = 0; b < blocks; ++b, out += kBlock) {
#pragma GCC unroll 2
                for (std::size_t u = 0; u < L::kUnits; ++u) {
                    const V* n = nibbles[b * L::kUnits + u];
#pragma GCC unroll 2
                    for (std::size_t r = 0; r < L::kResults; ++r) {
                        std::uint8_t* acc = out + L::ResultAt(u, r);
                        Isa::Store(acc, Isa::Sum(Isa::Load(acc), Isa::Lookup(t.t[r][0], n[0]),
                                                 Isa::Lookup(t.t[r][1], n[1]), Isa::Lookup(t.t[r][2], n[2]),
                                                 Isa::Lookup(t.t[r][3], n[3])));
                    }
                }
            }
        }
    }
}

// The kernel: factors a group at a time, those that are zero left out.
template <typename Isa>
TESSERA_GF16_TARGET void MulAddLookup(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                  std::uint8_t* const* accs, std::size_t count)
{
    LookupTables<Isa> tables[kGroup];
    std::uint8_t* outs[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
        std::size_t used = 0;
        for (std::size_t j = first; j < std::min(count, first + kGroup); ++j) {
            if (factors[j] == 0)
                continue;
            MakeLookupTables<Isa>(factors[j], tables[used]);
            outs[used++] = accs[j];
        }
        if (used)
            RunLookup<Isa>(in, bytes, tables, outs, used);
    }
}

// Tables made once for factors[i * count + j]: LookupTables in the same order.
template <typename Isa>
TESSERA_GF16_TARGET void MakeLookupFactors(const std::uint16_t* factors, std::size_t inputs, std::size_t count,
                                           std::uint8_t* tables)
{
    auto* t = reinterpret_cast<LookupTables<Isa>*>(tables);
    for (std::size_t k = 0; k < inputs * count; ++k)
        MakeLookupTables<Isa>(factors[k], t[k]);
}

template <typename Isa>
TESSERA_GF16_TARGET void RunLookupFactors(const std::uint8_t* tables, const std::uint8_t* const* ins,
                                          std::size_t inputs, std::size_t bytes, std::uint8_t* const* accs,
                                          std::size_t count)
{
    const auto* t = reinterpret_cast<const LookupTables<Isa>*>(tables);
    for (std::size_t i = 0; i < inputs; ++i)
        RunLookup<Isa>(ins[i], bytes, t + i * count, accs, count);
}

}  // namespace

}  // namespace tessera::gf16::detail
