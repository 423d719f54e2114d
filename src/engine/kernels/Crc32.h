#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/kernels/Cpu.h"

namespace tessera {

// CRC-32 (the reflected 0xEDB88320 polynomial of zip, PNG and the recovery
// sets), continued from crc (0 to start): Crc32(Crc32(0, a), b) is the CRC of
// a followed by b. Uses the fastest kernel within cpu::Usable().
[[nodiscard]] std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

// The kernel Crc32 uses now ("slice-by-8", "pclmul", "vpclmul-avx512").
[[nodiscard]] const char* Crc32KernelName();

// Every kernel built in, slowest first, with the features it needs: under a
// cpu::Ceiling of exactly those, that kernel is the one Crc32 uses.
[[nodiscard]] std::vector<cpu::Path> Crc32Paths();

// One byte at a time from a 256-entry table: the reference the kernels are
// tested against.
[[nodiscard]] std::uint32_t Crc32Bytewise(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace tessera
