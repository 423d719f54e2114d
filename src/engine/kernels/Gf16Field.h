#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The field GF(2^16) under the generator polynomial 0x1100B, one word at a
// time, as recovery data is defined: products, powers and inverses of
// words, the constants that input slices are multiplied by, and the
// inversion of the matrix that repair solves. Whole slices are multiplied by
// the kernels of Gf16.h.
namespace tessera::gf16 {

std::uint16_t Mul(std::uint16_t a, std::uint16_t b);
std::uint16_t Pow(std::uint16_t a, std::uint32_t n);
// The inverse of a nonzero a (0 for 0).
std::uint16_t Inverse(std::uint16_t a);

// The constant of input slice `index` of a set: 2 to the index-th power
// coprime to 65535.
std::uint16_t InputConstant(std::uint32_t index);

// constant^0 .. constant^(count - 1) into powers: a table lookup each, not a
// multiplication.
void Powers(std::uint16_t constant, std::size_t count, std::uint16_t* powers);

// The constants of input slices 0 .. count - 1.
std::vector<std::uint16_t> InputConstants(std::uint64_t count);

// What input slice i is multiplied by in the recovery slice of exponent
// exponents[j], at [i * exponents.size() + j], for the first `slices` input
// slices.
std::vector<std::uint16_t> SliceFactors(std::uint64_t slices, const std::vector<std::uint32_t>& exponents);

// Inverts the n x n matrix (row major) in place; false, the matrix then
// undefined, when it is singular.
bool Invert(std::vector<std::uint16_t>& matrix, std::size_t n);

}  // namespace tessera::gf16
