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

// Repairs the files `check` found damaged or missing. memoryLimit bounds the
// buffers of the computation.
[[nodiscard]] Par2RepairResult RepairPar2Set(const Par2Set& set, const Par2Check& check, const std::string& folder,
                                             std::uint64_t memoryLimit = 256ull << 20);

}  // namespace tessera
