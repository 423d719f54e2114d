#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery/Par2Check.h"

// Rebuilding the damaged and missing files of a recovery set from the
// recovery slices present: the slices lost are solved for over GF(2^16)
// (Gaussian elimination), computed column range by column range so that
// memory stays within a limit whatever the slice size, written under a
// temporary name beside each file and put in its place only once the whole
// file's MD5 matches. Nothing is changed when too few recovery slices remain.
namespace tessera {

enum class Par2RepairFault {
    None,
    NotUsable,     // the set itself could not be read
    NotEnough,     // too few recovery slices: `needed` more
    UnsafeName,    // a file's name leaves the set's folder
    Singular,      // the recovery slices present do not determine the lost ones
    Read,          // a file or volume could not be read (path, error)
    Write,         // a rebuilt file could not be written or put in place (path, error)
    Mismatch,      // a rebuilt file's MD5 does not match the set's (path)
};

struct Par2RepairResult {
    Par2RepairFault fault = Par2RepairFault::None;
    std::uint64_t needed = 0;
    std::string path;
    int error = 0;
    std::vector<std::size_t> rebuilt;  // indices into Par2Set::files
    std::uint64_t slicesRebuilt = 0;
};

// GF(2^16) under the generator polynomial 0x1100B, as the format computes.
namespace par2gf {
std::uint16_t Mul(std::uint16_t a, std::uint16_t b);
std::uint16_t Pow(std::uint16_t a, std::uint32_t n);
std::uint16_t Inverse(std::uint16_t a);
// The constant of input slice `index` of a set: 2 to the index-th power
// coprime to 65535.
std::uint16_t InputConstant(std::uint32_t index);
// What input slice i is multiplied by in the recovery slice of exponent
// exponents[j], at [i * exponents.size() + j], for the first `slices` input
// slices.
std::vector<std::uint16_t> SliceFactors(std::uint64_t slices, const std::vector<std::uint32_t>& exponents);
// out ^= factor * in, over `words` little-endian 16-bit words.
void MulAdd(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t words);
// Inverts the n x n matrix (row major) in place; false when it is singular.
bool Invert(std::vector<std::uint16_t>& matrix, std::size_t n);
}  // namespace par2gf

// Repairs the files `check` found damaged or missing. memoryLimit bounds the
// buffers of the computation.
[[nodiscard]] Par2RepairResult RepairPar2Set(const Par2Set& set, const Par2Check& check, const std::string& folder,
                                             std::uint64_t memoryLimit = 256ull << 20);

}  // namespace tessera
