#pragma once

// The kernels behind gf16::MulAddMany, one per instruction set, and what they
// share: each takes the same arguments as MulAddMany and builds its own tables.
#include <cstddef>
#include <cstdint>

// TESSERA_GF16_PORTABLE builds the scalar kernel alone, as on other
// processors.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(TESSERA_GF16_PORTABLE)
#define TESSERA_GF16_X86 1
#endif

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

// Factors are taken this many at a time, so that their tables stay in the
// first-level cache.
inline constexpr std::size_t kGroup = 32;

// The vector kernels split the nibbles of this many blocks of input at a time
// into a buffer, then run each factor over them with its tables held in
// registers. One accumulator at a time, not all of them at each block: slices
// a multiple of 4 KiB apart would otherwise meet in the same cache sets and
// in the processor's guess at which loads depend on which stores.
inline constexpr std::size_t kChunkBlocks = 32;

void MulAddScalar(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                  std::uint8_t* const* accs, std::size_t count);

#ifdef TESSERA_GF16_X86
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
void MulAddWordsGfniAvx2(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes);
void MulAddGfniAvx2(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                    std::uint8_t* const* accs, std::size_t count);
// Prepare and Unprepare of whole blocks (blocks * kBlock bytes).
void PrepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
void UnprepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
void PrepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
void UnprepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);
#endif

}  // namespace tessera::gf16::detail
