#include "engine/kernels/Crc32.h"

#include <bit>
#include <cstring>

#include "engine/kernels/Crc32Kernels.h"

namespace tessera {

namespace detail {

namespace {

// entry[k][b]: the register's change for byte b followed by k zero bytes, so
// that eight bytes are taken with eight independent lookups.
struct CrcTables {
    std::uint32_t entry[8][256];
    constexpr CrcTables() : entry()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? kCrc32Polynomial ^ (c >> 1) : c >> 1;
            entry[0][i] = c;
        }
        for (int k = 1; k < 8; ++k)
            for (std::uint32_t i = 0; i < 256; ++i)
                entry[k][i] = (entry[k - 1][i] >> 8) ^ entry[0][entry[k - 1][i] & 0xff];
    }
};
constexpr CrcTables kTables;

// The register without the inversions before and after.
std::uint32_t RawBytewise(std::uint32_t reg, const std::uint8_t* p, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        reg = kTables.entry[0][(reg ^ p[i]) & 0xff] ^ (reg >> 8);
    return reg;
}

}  // namespace

std::uint32_t RawSliceBy8(std::uint32_t reg, const std::uint8_t* p, std::size_t size)
{
    if constexpr (std::endian::native == std::endian::little) {
        for (; size >= 8; p += 8, size -= 8) {
            std::uint32_t lo, hi;
            std::memcpy(&lo, p, 4);
            std::memcpy(&hi, p + 4, 4);
            lo ^= reg;
            reg = kTables.entry[7][lo & 0xff] ^ kTables.entry[6][(lo >> 8) & 0xff] ^
                  kTables.entry[5][(lo >> 16) & 0xff] ^ kTables.entry[4][lo >> 24] ^
                  kTables.entry[3][hi & 0xff] ^ kTables.entry[2][(hi >> 8) & 0xff] ^
                  kTables.entry[1][(hi >> 16) & 0xff] ^ kTables.entry[0][hi >> 24];
        }
    }
    return RawBytewise(reg, p, size);
}

}  // namespace detail

namespace {

std::uint32_t SliceBy8(std::uint32_t crc, const void* data, std::size_t size)
{
    return ~detail::RawSliceBy8(~crc, static_cast<const std::uint8_t*>(data), size);
}

struct Entry {
    const char* name;
    cpu::Features needs;
    std::uint32_t (*run)(std::uint32_t crc, const void* data, std::size_t size);
};

// From the slowest to the fastest: the last the processor may use is used.
const Entry kEntries[] = {
    {"slice-by-8", 0, SliceBy8},
#ifdef TESSERA_X86
    {"pclmul", cpu::kPclmul | cpu::kSse41, detail::Crc32Pclmul},
    {"vpclmul-avx512", cpu::kPclmul | cpu::kSse41 | cpu::kAvx512 | cpu::kVpclmul, detail::Crc32Vpclmul},
#endif
};

}  // namespace

std::uint32_t Crc32Bytewise(std::uint32_t crc, const void* data, std::size_t size)
{
    return ~detail::RawBytewise(~crc, static_cast<const std::uint8_t*>(data), size);
}

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size)
{
    return kEntries[cpu::Fastest(kEntries)].run(crc, data, size);
}

const char* Crc32KernelName()
{
    return kEntries[cpu::Fastest(kEntries)].name;
}

std::vector<cpu::Path> Crc32Paths()
{
    std::vector<cpu::Path> paths;
    for (const Entry& entry : kEntries)
        paths.push_back({entry.name, entry.needs});
    return paths;
}

}  // namespace tessera
