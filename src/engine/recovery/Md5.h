#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessera {

using Md5Digest = std::array<std::uint8_t, 16>;

// MD5 (RFC 1321), as the recovery sets name packets, slices and files by it.
// Self-contained: no library is loaded for it.
class Md5 {
public:
    void Update(const void* data, std::size_t size);
    // The digest of everything since construction or the last Finish; the
    // object then starts over.
    [[nodiscard]] Md5Digest Finish();

private:
    void Block(const std::uint8_t* block);

    std::uint32_t state_[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::uint64_t length_ = 0;
    std::uint8_t pending_[64] = {};
    std::size_t pendingSize_ = 0;
};

[[nodiscard]] Md5Digest Md5Of(const void* data, std::size_t size);

// CRC-32 (the reflected 0xEDB88320 polynomial of zip and PNG), continued from
// crc (0 to start).
[[nodiscard]] std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace tessera
