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
    friend class Md5Pair;
    void Block(const std::uint8_t* block);

    std::uint32_t state_[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::uint64_t length_ = 0;
    std::uint8_t pending_[64] = {};
    std::size_t pendingSize_ = 0;
};

// Two MD5 streams over the same bytes, run interleaved on one core: MD5 is a
// chain of dependent steps, and a second chain fills the processor's idle
// slots, so both cost little more than one. Both streams must stand at the
// same offset modulo 64 whenever they take the same bytes: every Update of
// one alone is a multiple of 64 bytes, but for the last before its Finish.
class Md5Pair {
public:
    void Update(const void* data, std::size_t size);
    void UpdateFirst(const void* data, std::size_t size) { first_.Update(data, size); }
    void UpdateSecond(const void* data, std::size_t size) { second_.Update(data, size); }
    // The digest of one stream; that stream starts over.
    [[nodiscard]] Md5Digest FinishFirst() { return first_.Finish(); }
    [[nodiscard]] Md5Digest FinishSecond() { return second_.Finish(); }

private:
    Md5 first_, second_;
};

[[nodiscard]] Md5Digest Md5Of(const void* data, std::size_t size);

// CRC-32 (the reflected 0xEDB88320 polynomial of zip and PNG), continued from
// crc (0 to start).
// Folded with carry-less multiplication where the processor has it.
[[nodiscard]] std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);
// The same, a byte at a time, on any processor (for tests).
[[nodiscard]] std::uint32_t Crc32Table(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace tessera
