#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessera {

// CRC-32 (the reflected 0xEDB88320 polynomial of zip, PNG and the recovery
// sets), continued from crc (0 to start): Crc32(Crc32(0, a), b) is the CRC of
// a followed by b. Uses the fastest kernel this processor has.
[[nodiscard]] std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

// The kernels behind Crc32, for tests and benchmarks: each gives the same
// value as Crc32.
struct Crc32Kernel {
    const char* name;
    std::uint32_t (*run)(std::uint32_t crc, const void* data, std::size_t size);
};
// Those this processor can run, slowest first; the last is the one Crc32 uses.
[[nodiscard]] std::vector<Crc32Kernel> Crc32Kernels();
// One byte at a time from a 256-entry table: the reference the others are
// tested against.
[[nodiscard]] std::uint32_t Crc32Bytewise(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace tessera
