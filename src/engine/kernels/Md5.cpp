#include "engine/kernels/Md5.h"

#include "engine/kernels/Md5Steps.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tessera {
namespace {

// The four round functions of RFC 1321, each added into a so that b, the
// register the previous step has just computed, is met as late as possible:
// F = (b & c) | (~b & d) picks c or d by b; G = (b & d) | (c & ~d) is the sum
// of its two halves, as they share no bit, and the half without b is added
// first; H takes c ^ d before b.
#define MD5_ADD_F(a, b, c, d) a += (d) ^ ((b) & ((c) ^ (d)))
#define MD5_ADD_G(a, b, c, d) \
    a += (c) & ~(d);          \
    a += (b) & (d)
#define MD5_ADD_H(a, b, c, d) a += (b) ^ ((c) ^ (d))
#define MD5_ADD_I(a, b, c, d) a += (c) ^ ((b) | ~(d))

void LoadWords(const std::uint8_t* block, std::uint32_t m[16])
{
    std::memcpy(m, block, 64);
    if constexpr (std::endian::native == std::endian::big)
        for (int i = 0; i < 16; ++i)
            m[i] = __builtin_bswap32(m[i]);
}

void Compress(std::uint32_t state[4], const std::uint32_t m[16])
{
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
#define STEP(f, a, b, c, d, k, t, s) \
    a += m[k] + t;                   \
    MD5_ADD_##f(a, b, c, d);         \
    a = std::rotl(a, s) + b;
    MD5_STEPS(STEP)
#undef STEP
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// Two blocks into two states, their steps interleaved: each chain waits on
// its own previous step only, so the other's step fills the wait.
void CompressTwo(std::uint32_t s1[4], const std::uint32_t m1[16], std::uint32_t s2[4], const std::uint32_t m2[16])
{
    std::uint32_t a1 = s1[0], b1 = s1[1], c1 = s1[2], d1 = s1[3];
    std::uint32_t a2 = s2[0], b2 = s2[1], c2 = s2[2], d2 = s2[3];
#define STEP(f, a, b, c, d, k, t, s) \
    a##1 += m1[k] + t;                              \
    a##2 += m2[k] + t;                              \
    MD5_ADD_##f(a##1, b##1, c##1, d##1);            \
    MD5_ADD_##f(a##2, b##2, c##2, d##2);            \
    a##1 = std::rotl(a##1, s) + b##1; \
    a##2 = std::rotl(a##2, s) + b##2;
    MD5_STEPS(STEP)
#undef STEP
    s1[0] += a1;
    s1[1] += b1;
    s1[2] += c1;
    s1[3] += d1;
    s2[0] += a2;
    s2[1] += b2;
    s2[2] += c2;
    s2[3] += d2;
}

void CompressBlock(std::uint32_t state[4], const std::uint8_t* block)
{
    std::uint32_t m[16];
    LoadWords(block, m);
    Compress(state, m);
}

// Takes bytes into a lane's unfinished block; true when that block is full.
bool FillPending(detail::Md5Lane& lane, const std::uint8_t*& p, std::size_t& size)
{
    const std::size_t take = std::min<std::size_t>(64 - lane.pendingSize, size);
    std::memcpy(lane.pending + lane.pendingSize, p, take);
    lane.pendingSize += take;
    p += take;
    size -= take;
    return lane.pendingSize == 64;
}

}  // namespace

void detail::Md5Lane::Update(const void* data, std::size_t size)
{
    if (size == 0)
        return;  // data may be null then
    const auto* p = static_cast<const std::uint8_t*>(data);
    length += size;
    if (pendingSize > 0) {
        if (!FillPending(*this, p, size))
            return;
        CompressBlock(state, pending);
        pendingSize = 0;
    }
    for (; size >= 64; p += 64, size -= 64)
        CompressBlock(state, p);
    if (size > 0) {
        std::memcpy(pending, p, size);
        pendingSize = size;
    }
}

Md5Digest detail::Md5Lane::Finish()
{
    const std::uint64_t bits = length * 8;
    static constexpr std::uint8_t kPad[64] = {0x80};
    const std::size_t padding = pendingSize < 56 ? 56 - pendingSize : 120 - pendingSize;
    Update(kPad, padding);
    std::uint8_t tail[8];
    for (int i = 0; i < 8; ++i)
        tail[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Update(tail, 8);
    Md5Digest digest;
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = static_cast<std::uint8_t>(state[i] >> (8 * k));
    *this = Md5Lane();
    return digest;
}

Md5Digest Md5Of(const void* data, std::size_t size)
{
    Md5 md5;
    md5.Update(data, size);
    return md5.Finish();
}

void Md5Pair::Update(const void* data, std::size_t size)
{
    if (size == 0)
        return;
    if (first_.pendingSize != second_.pendingSize) {
        // Out of step: correct, one after the other.
        first_.Update(data, size);
        second_.Update(data, size);
        return;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    first_.length += size;
    second_.length += size;
    if (first_.pendingSize > 0) {
        const std::uint8_t* q = p;
        std::size_t rest = size;
        FillPending(second_, q, rest);
        if (!FillPending(first_, p, size))
            return;
        // The two unfinished blocks may differ before the bytes just taken.
        std::uint32_t m1[16], m2[16];
        LoadWords(first_.pending, m1);
        LoadWords(second_.pending, m2);
        CompressTwo(first_.state, m1, second_.state, m2);
        first_.pendingSize = second_.pendingSize = 0;
    }
    for (; size >= 64; p += 64, size -= 64) {
        std::uint32_t m[16];
        LoadWords(p, m);
        CompressTwo(first_.state, m, second_.state, m);
    }
    if (size > 0) {
        std::memcpy(first_.pending, p, size);
        std::memcpy(second_.pending, p, size);
        first_.pendingSize = second_.pendingSize = size;
    }
}

}  // namespace tessera
