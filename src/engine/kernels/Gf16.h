#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/kernels/Cpu.h"

// Multiply-and-add of whole slices over GF(2^16) (generator 0x1100B), the
// arithmetic of recovery data: each recovery slice is a sum of input slices,
// each times a constant. The kernels work on a "prepared" copy of a slice in
// which the low and high bytes of its words are apart, so that vector
// instructions can look both up by nibble; the fastest kernel the processor
// runs is chosen when first asked for.
namespace tessera::gf16 {

// Slices are multiplied in a "prepared" layout: the words in blocks of 32
// (64 bytes), each block holding the 32 low bytes, then the 32 high bytes.
inline constexpr std::size_t kBlock = 64;

// bytes rounded up to a whole block.
std::size_t PreparedSize(std::size_t bytes);

// in: `bytes` bytes (even) of little-endian words; out: PreparedSize(bytes)
// bytes, the padding zero.
void Prepare(const std::uint8_t* in, std::size_t bytes, std::uint8_t* out);

// The reverse: writes `bytes` bytes (even) of little-endian words from the
// prepared in.
void Unprepare(const std::uint8_t* in, std::size_t bytes, std::uint8_t* out);

// For j in [0, count): accs[j] ^= factors[j] * in, all prepared, over `bytes`
// bytes (a multiple of kBlock). The input's nibbles are split once per block
// for all factors. Throws std::invalid_argument when bytes is not a multiple
// of kBlock, as does MulAddManyInputs.
void MulAddMany(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                std::uint8_t* const* accs, std::size_t count);

// For j in [0, count): accs[j] ^= the sum over i in [0, inputs) of
// factors[i * count + j] * ins[i], all prepared, over `bytes` bytes (a
// multiple of kBlock): one MulAddMany per input, each with its row of
// factors, but a kernel that can (GFNI) reads and writes each accumulator
// once for up to four inputs, which is what bounds its speed.
void MulAddManyInputs(const std::uint8_t* const* ins, std::size_t inputs, std::size_t bytes,
                      const std::uint16_t* factors, std::uint8_t* const* accs, std::size_t count);

// The most bytes a factor made into a kernel's tables (Factors) takes.
inline constexpr std::size_t kMostFactorBytes = 256;

// The factors of MulAddManyInputs made once into the tables of the kernel in
// use, for a caller that multiplies the same inputs over many column ranges:
// the kernels would otherwise make them anew at every call. A kernel's
// tables are about 128 to 256 bytes a factor.
class Factors {
public:
    // factors[i * count + j], as MulAddManyInputs takes them.
    void Make(const std::uint16_t* factors, std::size_t inputs, std::size_t count);
    [[nodiscard]] std::size_t Inputs() const { return inputs_; }
    [[nodiscard]] std::size_t Count() const { return count_; }

private:
    friend void MulAddManyInputs(const std::uint8_t* const* ins, std::size_t bytes, const Factors& factors,
                                 std::uint8_t* const* accs);
    struct alignas(64) Line {
        std::uint8_t bytes[64];
    };
    const void* kernel_ = nullptr;  // the one they were made for, which runs them
    std::size_t inputs_ = 0, count_ = 0;
    std::vector<Line> tables_;
    std::vector<std::uint16_t> plain_;  // for a kernel without tables
};

// MulAddManyInputs with its factors made (factors.Inputs() inputs,
// factors.Count() accumulators), by the kernel they were made for.
void MulAddManyInputs(const std::uint8_t* const* ins, std::size_t bytes, const Factors& factors,
                      std::uint8_t* const* accs);

// out ^= factor * in over `bytes` bytes (even) of little-endian words as they
// stand, not prepared: for a caller with one factor at a time. Prepares the
// words piece by piece where the kernel in use gains by it.
void MulAddWords(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes);

// The kernel in use ("scalar", "ssse3", "avx2", "avx512bw", "gfni-avx2",
// "gfni"): the fastest within cpu::Usable().
const char* KernelName();

// Every kernel built in, slowest first, with the features it needs: under a
// cpu::Ceiling of exactly those, that kernel is the one in use.
std::vector<cpu::Path> Paths();

}  // namespace tessera::gf16
