#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/kernels/Md5.h"

// Sixteen MD5 streams advanced together, one in each 32-bit lane of the
// processor's 512-bit registers: each stream is still a chain of dependent
// steps, but one chain of vector steps carries sixteen of them.
namespace tessera {

inline constexpr int kMd5Lanes = 16;

// True when the processor has the instructions (AVX-512) within
// cpu::Usable(); Md5LanesBlocks advances the lanes one at a time otherwise.
[[nodiscard]] bool Md5LanesAvailable();

// Advances lanes[k] by `blocks` 64-byte blocks read from data[k], for every
// k whose bit is set in `active` (those lanes have no unfinished block); the
// others are neither read nor changed.
void Md5LanesBlocks(detail::Md5Lane* const lanes[kMd5Lanes], const std::uint8_t* const data[kMd5Lanes],
                    std::size_t blocks, std::uint32_t active);

}  // namespace tessera
