#include "engine/recovery/Crc32.h"

#include <bit>
#include <cstring>

namespace tessera {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;  // reflected 0x104C11DB7

// entry[k][b]: the register's change for byte b followed by k zero bytes, so
// that eight bytes are taken with eight independent lookups.
struct CrcTables {
    std::uint32_t entry[8][256];
    constexpr CrcTables() : entry()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
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

std::uint32_t SliceBy8(std::uint32_t crc, const void* data, std::size_t size)
{
    return ~RawSliceBy8(~crc, static_cast<const std::uint8_t*>(data), size);
}

}  // namespace

std::uint32_t Crc32Bytewise(std::uint32_t crc, const void* data, std::size_t size)
{
    return ~RawBytewise(~crc, static_cast<const std::uint8_t*>(data), size);
}

std::vector<Crc32Kernel> Crc32Kernels()
{
    std::vector<Crc32Kernel> kernels = {{"bytewise", Crc32Bytewise}, {"slice-by-8", SliceBy8}};
    return kernels;
}

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size)
{
    return SliceBy8(crc, data, size);
}

}  // namespace tessera
