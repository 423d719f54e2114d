#pragma once

// The kernels behind gf16::MulAddMany, one per instruction set, and what they
// share: each takes the same arguments as MulAddMany and builds its own tables.
#include <cstddef>
#include <cstdint>

#include "engine/kernels/Cpu.h"

namespace tessera::gf16::detail {

using Kernel = void (*)(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                        std::uint8_t* const* accs, std::size_t count);
// MulAddManyInputs where a kernel does better than one input at a time.
using InputsKernel = void (*)(const std::uint8_t* const* ins, std::size_t inputs, std::size_t bytes,
                              const std::uint16_t* factors, std::uint8_t* const* accs, std::size_t count);
// MulAddWords without preparing, where a kernel can.
using WordsKernel = void (*)(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes);
// Prepare or Unprepare of `blocks` whole blocks.
using Blocks = void (*)(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);

// factor times 2^i, i in [0, 16): the images of the bits of a word, from
// which every table below is made (the product is linear in the word).
void Basis(std::uint16_t factor, std::uint16_t basis[16]);

// The products of factor with each value of a word's low byte and of its
// high byte.
void SplitTables(std::uint16_t factor, std::uint16_t low[256], std::uint16_t high[256]);

// The products of factor with each value of nibble k (k = 0 the lowest) of
// a word: low[k][x] and high[k][x] are the low and high byte of
// factor * (x << 4k).
struct NibbleTables {
    std::uint8_t low[4][16];
    std::uint8_t high[4][16];
};
void MakeNibbleTables(std::uint16_t factor, NibbleTables& tables);

// Multiplying a word by a constant is linear over GF(2), a 16 x 16 bit
// matrix. blocks[from][to] is its 8 x 8 block taking the low (0) or high (1)
// byte of a word to the low or high byte of the product, as GF2P8AFFINEQB
// reads a matrix. The matrix is linear in the constant too, and is made from
// a table of those of each nibble value: a few loads, not a bit at a time.
void AffineBlocks(std::uint16_t factor, std::uint64_t blocks[2][2]);

// A kernel's tables for factors[i * count + j], made once (Factors) and run
// over many column ranges: tables of `bytes` bytes a factor, in an order of
// the kernel's own.
struct TableKernel {
    std::size_t bytes;  // a factor's; 0: the kernel has none
    void (*make)(const std::uint16_t* factors, std::size_t inputs, std::size_t count, std::uint8_t* tables);
    void (*run)(const std::uint8_t* tables, const std::uint8_t* const* ins, std::size_t inputs, std::size_t bytes,
                std::uint8_t* const* accs, std::size_t count);
};

// Factors are taken this many at a time, so that their tables stay in the
// first-level cache.
inline constexpr std::size_t kGroup = 32;

// The vector kernels split the nibbles of this many blocks of input at a time
// into a buffer, then run each factor over them with its tables held in
// registers. One accumulator at a time, not all of them at each block: slices
// a multiple of 4 KiB apart would otherwise meet in the same cache sets and
// in the processor's guess at which loads depend on which stores.
inline constexpr std::size_t kChunkBlocks = 32;

// How a kernel with registers of W bytes (16, 32 or 64) meets a prepared
// block of 64 bytes (32 low bytes, then the 32 high bytes of the same words).
// Each step of a kernel takes two registers, a and s, and makes the product's
// bytes from both:
//   - W = 16 or 32: a holds W low bytes, s the high bytes of the same words
//     32 bytes on; there are 32 / W such units in a block, each with two
//     results: the product's low bytes (at a's place) and its high bytes
//     (at s's place);
//   - W = 64: a is the whole block [low | high] and s the same with its
//     halves swapped [high | low]; one result, in a's place: the products
//     from a and from s each give the lower half its low bytes and the upper
//     half its high bytes.
// A kernel's tables (or matrices) follow from which bytes each 16-byte lane
// of a, s and of a result holds.
template <std::size_t W>
struct Layout {
    static_assert(W == 16 || W == 32 || W == 64);
    static constexpr bool kWhole = W == 64;
    static constexpr std::size_t kUnits = kWhole ? 1 : 32 / W;  // in a block
    static constexpr std::size_t kResults = kWhole ? 1 : 2;     // of a unit
    static constexpr std::size_t kLanes = W / 16;

    // Whether lane `lane` of a (of s when `swapped`) holds high bytes.
    static constexpr int Plane(bool swapped, std::size_t lane) { return kWhole ? (lane >= 2) != swapped : swapped; }
    // Whether lane `lane` of result r is the product's high bytes.
    static constexpr int ResultPlane(std::size_t r, std::size_t lane) { return kWhole ? lane >= 2 : int(r); }
    // Where in its block unit u's register a begins, and its result r.
    static constexpr std::size_t At(std::size_t u) { return u * W; }
    static constexpr std::size_t ResultAt(std::size_t u, std::size_t r) { return u * W + 32 * r; }
};

void MulAddScalar(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                  std::uint8_t* const* accs, std::size_t count);

#ifdef TESSERA_X86
void MulAddSsse3(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                 std::uint8_t* const* accs, std::size_t count);
void MulAddAvx2(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                std::uint8_t* const* accs, std::size_t count);
void MulAddAvx512(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                  std::uint8_t* const* accs, std::size_t count);
void MulAddGfni(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                std::uint8_t* const* accs, std::size_t count);
void MulAddInputsGfni(const std::uint8_t* const* ins, std::size_t inputs, std::size_t bytes,
                      const std::uint16_t* factors, std::uint8_t* const* accs, std::size_t count);
void MulAddWordsGfni(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes);
void MulAddGfniAvx2(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                    std::uint8_t* const* accs, std::size_t count);
void MulAddWordsGfniAvx2(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes);
extern const TableKernel kTablesSsse3, kTablesAvx2, kTablesAvx512, kTablesGfniAvx2, kTablesGfni;
// Prepare and Unprepare of whole blocks (blocks * kBlock bytes).
void PrepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
void UnprepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
void PrepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
void UnprepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
#endif

}  // namespace tessera::gf16::detail
