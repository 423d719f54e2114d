#include "engine/recovery/Md5.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tessera {
namespace {

inline std::uint32_t Rotate(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

struct CrcTable {
    std::uint32_t entry[256];
    constexpr CrcTable() : entry()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[i] = c;
        }
    }
};
constexpr CrcTable kCrc;

inline std::uint32_t Load(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // little-endian machines only, as the rest of the program
}

// The four rounds' functions, written with fewer operations than in RFC 1321.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);         \
    a = Rotate(a, s) + (b)

// The 64 steps, each on every state the macro S names.
#define MD5_ROUNDS(S)                                       \
    S(MD5_F, a, b, c, d, m[0], 0xd76aa478, 7);              \
    S(MD5_F, d, a, b, c, m[1], 0xe8c7b756, 12);             \
    S(MD5_F, c, d, a, b, m[2], 0x242070db, 17);             \
    S(MD5_F, b, c, d, a, m[3], 0xc1bdceee, 22);             \
    S(MD5_F, a, b, c, d, m[4], 0xf57c0faf, 7);              \
    S(MD5_F, d, a, b, c, m[5], 0x4787c62a, 12);             \
    S(MD5_F, c, d, a, b, m[6], 0xa8304613, 17);             \
    S(MD5_F, b, c, d, a, m[7], 0xfd469501, 22);             \
    S(MD5_F, a, b, c, d, m[8], 0x698098d8, 7);              \
    S(MD5_F, d, a, b, c, m[9], 0x8b44f7af, 12);             \
    S(MD5_F, c, d, a, b, m[10], 0xffff5bb1, 17);            \
    S(MD5_F, b, c, d, a, m[11], 0x895cd7be, 22);            \
    S(MD5_F, a, b, c, d, m[12], 0x6b901122, 7);             \
    S(MD5_F, d, a, b, c, m[13], 0xfd987193, 12);            \
    S(MD5_F, c, d, a, b, m[14], 0xa679438e, 17);            \
    S(MD5_F, b, c, d, a, m[15], 0x49b40821, 22);            \
    S(MD5_G, a, b, c, d, m[1], 0xf61e2562, 5);              \
    S(MD5_G, d, a, b, c, m[6], 0xc040b340, 9);              \
    S(MD5_G, c, d, a, b, m[11], 0x265e5a51, 14);            \
    S(MD5_G, b, c, d, a, m[0], 0xe9b6c7aa, 20);             \
    S(MD5_G, a, b, c, d, m[5], 0xd62f105d, 5);              \
    S(MD5_G, d, a, b, c, m[10], 0x02441453, 9);             \
    S(MD5_G, c, d, a, b, m[15], 0xd8a1e681, 14);            \
    S(MD5_G, b, c, d, a, m[4], 0xe7d3fbc8, 20);             \
    S(MD5_G, a, b, c, d, m[9], 0x21e1cde6, 5);              \
    S(MD5_G, d, a, b, c, m[14], 0xc33707d6, 9);             \
    S(MD5_G, c, d, a, b, m[3], 0xf4d50d87, 14);             \
    S(MD5_G, b, c, d, a, m[8], 0x455a14ed, 20);             \
    S(MD5_G, a, b, c, d, m[13], 0xa9e3e905, 5);             \
    S(MD5_G, d, a, b, c, m[2], 0xfcefa3f8, 9);              \
    S(MD5_G, c, d, a, b, m[7], 0x676f02d9, 14);             \
    S(MD5_G, b, c, d, a, m[12], 0x8d2a4c8a, 20);            \
    S(MD5_H, a, b, c, d, m[5], 0xfffa3942, 4);              \
    S(MD5_H, d, a, b, c, m[8], 0x8771f681, 11);             \
    S(MD5_H, c, d, a, b, m[11], 0x6d9d6122, 16);            \
    S(MD5_H, b, c, d, a, m[14], 0xfde5380c, 23);            \
    S(MD5_H, a, b, c, d, m[1], 0xa4beea44, 4);              \
    S(MD5_H, d, a, b, c, m[4], 0x4bdecfa9, 11);             \
    S(MD5_H, c, d, a, b, m[7], 0xf6bb4b60, 16);             \
    S(MD5_H, b, c, d, a, m[10], 0xbebfbc70, 23);            \
    S(MD5_H, a, b, c, d, m[13], 0x289b7ec6, 4);             \
    S(MD5_H, d, a, b, c, m[0], 0xeaa127fa, 11);             \
    S(MD5_H, c, d, a, b, m[3], 0xd4ef3085, 16);             \
    S(MD5_H, b, c, d, a, m[6], 0x04881d05, 23);             \
    S(MD5_H, a, b, c, d, m[9], 0xd9d4d039, 4);              \
    S(MD5_H, d, a, b, c, m[12], 0xe6db99e5, 11);            \
    S(MD5_H, c, d, a, b, m[15], 0x1fa27cf8, 16);            \
    S(MD5_H, b, c, d, a, m[2], 0xc4ac5665, 23);             \
    S(MD5_I, a, b, c, d, m[0], 0xf4292244, 6);              \
    S(MD5_I, d, a, b, c, m[7], 0x432aff97, 10);             \
    S(MD5_I, c, d, a, b, m[14], 0xab9423a7, 15);            \
    S(MD5_I, b, c, d, a, m[5], 0xfc93a039, 21);             \
    S(MD5_I, a, b, c, d, m[12], 0x655b59c3, 6);             \
    S(MD5_I, d, a, b, c, m[3], 0x8f0ccc92, 10);             \
    S(MD5_I, c, d, a, b, m[10], 0xffeff47d, 15);            \
    S(MD5_I, b, c, d, a, m[1], 0x85845dd1, 21);             \
    S(MD5_I, a, b, c, d, m[8], 0x6fa87e4f, 6);              \
    S(MD5_I, d, a, b, c, m[15], 0xfe2ce6e0, 10);            \
    S(MD5_I, c, d, a, b, m[6], 0xa3014314, 15);             \
    S(MD5_I, b, c, d, a, m[13], 0x4e0811a1, 21);            \
    S(MD5_I, a, b, c, d, m[4], 0xf7537e82, 6);              \
    S(MD5_I, d, a, b, c, m[11], 0xbd3af235, 10);            \
    S(MD5_I, c, d, a, b, m[2], 0x2ad7d2bb, 15);             \
    S(MD5_I, b, c, d, a, m[9], 0xeb86d391, 21)

#define MD5_ONE(f, a, b, c, d, x, t, s) MD5_STEP(f, a, b, c, d, x, t, s)
#define MD5_TWO(f, a, b, c, d, x, t, s)      \
    MD5_STEP(f, a##1, b##1, c##1, d##1, x, t, s); \
    MD5_STEP(f, a##2, b##2, c##2, d##2, x, t, s)

// Blocks of one stream.
void Blocks(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks)
{
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, p += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = Load(p + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        MD5_ROUNDS(MD5_ONE);
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

// The same blocks for two streams at once.
void BlocksTwice(std::uint32_t* one, std::uint32_t* two, const std::uint8_t* p, std::size_t blocks)
{
    std::uint32_t a1 = one[0], b1 = one[1], c1 = one[2], d1 = one[3];
    std::uint32_t a2 = two[0], b2 = two[1], c2 = two[2], d2 = two[3];
    for (; blocks > 0; --blocks, p += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = Load(p + 4 * i);
        const std::uint32_t e1 = a1, f1 = b1, g1 = c1, h1 = d1, e2 = a2, f2 = b2, g2 = c2, h2 = d2;
        MD5_ROUNDS(MD5_TWO);
        a1 += e1;
        b1 += f1;
        c1 += g1;
        d1 += h1;
        a2 += e2;
        b2 += f2;
        c2 += g2;
        d2 += h2;
    }
    one[0] = a1;
    one[1] = b1;
    one[2] = c1;
    one[3] = d1;
    two[0] = a2;
    two[1] = b2;
    two[2] = c2;
    two[3] = d2;
}

}  // namespace

void Md5::Block(const std::uint8_t* block) { Blocks(state_, block, 1); }

void Md5::Update(const void* data, std::size_t size)
{
    if (size == 0)
        return;  // data may be null then
    const auto* p = static_cast<const std::uint8_t*>(data);
    length_ += size;
    if (pendingSize_ > 0) {
        const std::size_t take = std::min<std::size_t>(64 - pendingSize_, size);
        std::memcpy(pending_ + pendingSize_, p, take);
        pendingSize_ += take;
        p += take;
        size -= take;
        if (pendingSize_ < 64)
            return;
        Block(pending_);
        pendingSize_ = 0;
    }
    Blocks(state_, p, size / 64);
    p += size / 64 * 64;
    size %= 64;
    if (size > 0) {
        std::memcpy(pending_, p, size);
        pendingSize_ = size;
    }
}

Md5Digest Md5::Finish()
{
    const std::uint64_t bits = length_ * 8;
    static constexpr std::uint8_t kPad[64] = {0x80};
    const std::size_t padding = pendingSize_ < 56 ? 56 - pendingSize_ : 120 - pendingSize_;
    Update(kPad, padding);
    std::uint8_t tail[8];
    for (int i = 0; i < 8; ++i)
        tail[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Update(tail, 8);
    Md5Digest digest;
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = static_cast<std::uint8_t>(state_[i] >> (8 * k));
    *this = Md5();
    return digest;
}

void Md5Pair::Update(const void* data, std::size_t size)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    // Up to the next block boundary, each alone; then whole blocks together.
    if (first_.pendingSize_ != 0 || second_.pendingSize_ != 0 || size < 64) {
        const std::size_t lead = std::min<std::size_t>(size, (64 - first_.pendingSize_) % 64);
        const std::size_t take = first_.pendingSize_ == second_.pendingSize_ ? lead : size;
        first_.Update(p, take);
        second_.Update(p, take);
        p += take;
        size -= take;
        if (size == 0)
            return;
    }
    const std::size_t blocks = size / 64;
    BlocksTwice(first_.state_, second_.state_, p, blocks);
    first_.length_ += blocks * 64;
    second_.length_ += blocks * 64;
    first_.Update(p + blocks * 64, size % 64);
    second_.Update(p + blocks * 64, size % 64);
}

Md5Digest Md5Of(const void* data, std::size_t size)
{
    Md5 md5;
    md5.Update(data, size);
    return md5.Finish();
}

namespace {

// The table's steps from a raw state: no inversion before or after.
std::uint32_t CrcBytes(std::uint32_t state, const std::uint8_t* p, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        state = kCrc.entry[(state ^ p[i]) & 0xff] ^ (state >> 8);
    return state;
}

#if defined(__x86_64__)
// Carry-less multiplication folds the bytes 128 bits at a time (four lanes
// 512 bits apart while there is room): a block X of the message, D bits
// before the block Y, is replaced in Y by X's low half times x^(D+63) mod P
// plus its high half times x^(D-1) mod P, each reflected in 64 bits, which
// leaves the remainder of the whole message unchanged. The last 16 bytes and
// the tail go through the table. The state enters XORed into the first 4 bytes.
constexpr std::uint64_t kFold512Low = 0x653d982200000000ull;   // x^575 mod P
constexpr std::uint64_t kFold512High = 0xcad38e8f00000000ull;  // x^511 mod P
constexpr std::uint64_t kFold128Low = 0x65673b4600000000ull;   // x^191 mod P
constexpr std::uint64_t kFold128High = 0x9ba54c6f00000000ull;  // x^127 mod P

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) std::uint32_t CrcFolded(std::uint32_t state, const std::uint8_t* p,
                                                                std::size_t size)
{
    auto load = [](const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    size -= 64;
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    for (; size >= 64; p += 64, size -= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), load(p));
        x1 = _mm_xor_si128(Fold(x1, k512), load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), load(p + 48));
    }
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
    x1 = _mm_xor_si128(Fold(x0, k128), x1);
    x2 = _mm_xor_si128(Fold(x1, k128), x2);
    __m128i x = _mm_xor_si128(Fold(x2, k128), x3);
    for (; size >= 16; p += 16, size -= 16)
        x = _mm_xor_si128(Fold(x, k128), load(p));
    alignas(16) std::uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), x);
    return CrcBytes(CrcBytes(0, last, 16), p, size);
}

const bool kFolding = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#endif

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
#if defined(__x86_64__)
    if (size >= 64 && kFolding)
        return ~CrcFolded(~crc, p, size);
#endif
    return ~CrcBytes(~crc, p, size);
}

// For tests: the table's result, whatever the processor.
std::uint32_t Crc32Table(std::uint32_t crc, const void* data, std::size_t size)
{
    return ~CrcBytes(~crc, static_cast<const std::uint8_t*>(data), size);
}

}  // namespace tessera
