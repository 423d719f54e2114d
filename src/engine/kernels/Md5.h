#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/kernels/Crc32.h"

namespace tessera {

using Md5Digest = std::array<std::uint8_t, 16>;

namespace detail {
// One MD5 stream: its chaining state, its length and its unfinished block.
struct Md5Lane {
    void Update(const void* data, std::size_t size);
    Md5Digest Finish();  // and start over

    std::uint32_t state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::uint64_t length = 0;
    std::uint8_t pending[64] = {};
    std::size_t pendingSize = 0;
};
}  // namespace detail

// MD5 (RFC 1321), as the recovery sets name packets, slices and files by it.
// Self-contained: no library is loaded for it.
class Md5 {
public:
    void Update(const void* data, std::size_t size) { lane_.Update(data, size); }
    // The digest of everything since construction or the last Finish; the
    // object then starts over.
    [[nodiscard]] Md5Digest Finish() { return lane_.Finish(); }

private:
    detail::Md5Lane lane_;
};

[[nodiscard]] Md5Digest Md5Of(const void* data, std::size_t size);

// Two MD5 streams over the same bytes (a whole file and the slice of it being
// read), computed together: MD5 is one chain of dependent steps, and two
// independent chains interleaved keep the processor's idle slots busy, so
// both digests cost little more than one.
//
// Update feeds both streams; UpdateFirst and UpdateSecond one of them. The
// streams run together at full speed while they stand at the same offset
// modulo 64 (the caller keeps them so by giving either alone only multiples
// of 64 bytes, except before its Finish); otherwise Update still gives the
// right digests, one stream after the other.
class Md5Pair {
public:
    void Update(const void* data, std::size_t size);
    void UpdateFirst(const void* data, std::size_t size) { first_.Update(data, size); }
    void UpdateSecond(const void* data, std::size_t size) { second_.Update(data, size); }
    // The digest of that stream since construction or its last Finish; that
    // stream then starts over, the other goes on.
    [[nodiscard]] Md5Digest FinishFirst() { return first_.Finish(); }
    [[nodiscard]] Md5Digest FinishSecond() { return second_.Finish(); }

private:
    detail::Md5Lane first_;
    detail::Md5Lane second_;
};

}  // namespace tessera
