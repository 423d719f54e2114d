#include "engine/recovery/Md5.h"

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

// The 64 steps of one block: round function, the registers in their turn,
// the message word, the constant floor(2^32 * |sin(i + 1)|) and the rotation.
#define MD5_STEPS(STEP) \
    STEP(F, a, b, c, d,  0, 0xd76aa478u,  7) \
    STEP(F, d, a, b, c,  1, 0xe8c7b756u, 12) \
    STEP(F, c, d, a, b,  2, 0x242070dbu, 17) \
    STEP(F, b, c, d, a,  3, 0xc1bdceeeu, 22) \
    STEP(F, a, b, c, d,  4, 0xf57c0fafu,  7) \
    STEP(F, d, a, b, c,  5, 0x4787c62au, 12) \
    STEP(F, c, d, a, b,  6, 0xa8304613u, 17) \
    STEP(F, b, c, d, a,  7, 0xfd469501u, 22) \
    STEP(F, a, b, c, d,  8, 0x698098d8u,  7) \
    STEP(F, d, a, b, c,  9, 0x8b44f7afu, 12) \
    STEP(F, c, d, a, b, 10, 0xffff5bb1u, 17) \
    STEP(F, b, c, d, a, 11, 0x895cd7beu, 22) \
    STEP(F, a, b, c, d, 12, 0x6b901122u,  7) \
    STEP(F, d, a, b, c, 13, 0xfd987193u, 12) \
    STEP(F, c, d, a, b, 14, 0xa679438eu, 17) \
    STEP(F, b, c, d, a, 15, 0x49b40821u, 22) \
    STEP(G, a, b, c, d,  1, 0xf61e2562u,  5) \
    STEP(G, d, a, b, c,  6, 0xc040b340u,  9) \
    STEP(G, c, d, a, b, 11, 0x265e5a51u, 14) \
    STEP(G, b, c, d, a,  0, 0xe9b6c7aau, 20) \
    STEP(G, a, b, c, d,  5, 0xd62f105du,  5) \
    STEP(G, d, a, b, c, 10, 0x02441453u,  9) \
    STEP(G, c, d, a, b, 15, 0xd8a1e681u, 14) \
    STEP(G, b, c, d, a,  4, 0xe7d3fbc8u, 20) \
    STEP(G, a, b, c, d,  9, 0x21e1cde6u,  5) \
    STEP(G, d, a, b, c, 14, 0xc33707d6u,  9) \
    STEP(G, c, d, a, b,  3, 0xf4d50d87u, 14) \
    STEP(G, b, c, d, a,  8, 0x455a14edu, 20) \
    STEP(G, a, b, c, d, 13, 0xa9e3e905u,  5) \
    STEP(G, d, a, b, c,  2, 0xfcefa3f8u,  9) \
    STEP(G, c, d, a, b,  7, 0x676f02d9u, 14) \
    STEP(G, b, c, d, a, 12, 0x8d2a4c8au, 20) \
    STEP(H, a, b, c, d,  5, 0xfffa3942u,  4) \
    STEP(H, d, a, b, c,  8, 0x8771f681u, 11) \
    STEP(H, c, d, a, b, 11, 0x6d9d6122u, 16) \
    STEP(H, b, c, d, a, 14, 0xfde5380cu, 23) \
    STEP(H, a, b, c, d,  1, 0xa4beea44u,  4) \
    STEP(H, d, a, b, c,  4, 0x4bdecfa9u, 11) \
    STEP(H, c, d, a, b,  7, 0xf6bb4b60u, 16) \
    STEP(H, b, c, d, a, 10, 0xbebfbc70u, 23) \
    STEP(H, a, b, c, d, 13, 0x289b7ec6u,  4) \
    STEP(H, d, a, b, c,  0, 0xeaa127fau, 11) \
    STEP(H, c, d, a, b,  3, 0xd4ef3085u, 16) \
    STEP(H, b, c, d, a,  6, 0x04881d05u, 23) \
    STEP(H, a, b, c, d,  9, 0xd9d4d039u,  4) \
    STEP(H, d, a, b, c, 12, 0xe6db99e5u, 11) \
    STEP(H, c, d, a, b, 15, 0x1fa27cf8u, 16) \
    STEP(H, b, c, d, a,  2, 0xc4ac5665u, 23) \
    STEP(I, a, b, c, d,  0, 0xf4292244u,  6) \
    STEP(I, d, a, b, c,  7, 0x432aff97u, 10) \
    STEP(I, c, d, a, b, 14, 0xab9423a7u, 15) \
    STEP(I, b, c, d, a,  5, 0xfc93a039u, 21) \
    STEP(I, a, b, c, d, 12, 0x655b59c3u,  6) \
    STEP(I, d, a, b, c,  3, 0x8f0ccc92u, 10) \
    STEP(I, c, d, a, b, 10, 0xffeff47du, 15) \
    STEP(I, b, c, d, a,  1, 0x85845dd1u, 21) \
    STEP(I, a, b, c, d,  8, 0x6fa87e4fu,  6) \
    STEP(I, d, a, b, c, 15, 0xfe2ce6e0u, 10) \
    STEP(I, c, d, a, b,  6, 0xa3014314u, 15) \
    STEP(I, b, c, d, a, 13, 0x4e0811a1u, 21) \
    STEP(I, a, b, c, d,  4, 0xf7537e82u,  6) \
    STEP(I, d, a, b, c, 11, 0xbd3af235u, 10) \
    STEP(I, c, d, a, b,  2, 0x2ad7d2bbu, 15) \
    STEP(I, b, c, d, a,  9, 0xeb86d391u, 21)

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
