#include "engine/kernels/Sha256Pair.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/kernels/Cpu.h"

#ifdef TESSERA_X86
#include <immintrin.h>
#endif

namespace tessera {

namespace {

constexpr std::uint32_t kStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

void Reset(Sha256Pair::Lane& lane)
{
    std::memcpy(lane.h, kStart, sizeof lane.h);
    lane.held = 0;
    lane.total = 0;
}

#ifdef TESSERA_X86

alignas(16) constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

#define TESSERA_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// The chaining value as the SHA instructions hold it: ABEF and CDGH.
struct State {
    __m128i abef;
    __m128i cdgh;
};

TESSERA_SHA_TARGET inline State Load(const std::uint32_t h[8])
{
    const __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);
    return {_mm_alignr_epi8(cdab, efgh, 8), _mm_blend_epi16(efgh, cdab, 0xF0)};
}

TESSERA_SHA_TARGET inline void Store(const State& state, std::uint32_t h[8])
{
    const __m128i feba = _mm_shuffle_epi32(state.abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(state.cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// The next four words of a block's message schedule: loaded for the first
// sixteen, derived from the four groups before otherwise.
TESSERA_SHA_TARGET inline __m128i Schedule(int group, const std::uint8_t* block, const __m128i w[4])
{
    if (group < 4) {
        const __m128i bigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
        return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * group)), bigEndian);
    }
    __m128i m = _mm_sha256msg1_epu32(w[group & 3], w[(group + 1) & 3]);
    m = _mm_add_epi32(m, _mm_alignr_epi8(w[(group + 3) & 3], w[(group + 2) & 3], 4));
    return _mm_sha256msg2_epu32(m, w[(group + 3) & 3]);
}

TESSERA_SHA_TARGET inline void Rounds(State& state, __m128i words)
{
    state.cdgh = _mm_sha256rnds2_epu32(state.cdgh, state.abef, words);
    state.abef = _mm_sha256rnds2_epu32(state.abef, state.cdgh, _mm_shuffle_epi32(words, 0x0E));
}

// count blocks of each lane, the lanes' blocks taken side by side; when both
// read the same bytes, their message schedule is made once.
TESSERA_SHA_TARGET void CompressTwo(std::uint32_t ha[8], const std::uint8_t* a, std::uint32_t hb[8],
                                    const std::uint8_t* b, std::size_t count)
{
    State sa = Load(ha);
    State sb = Load(hb);
    if (a == b) {
        for (std::size_t n = 0; n < count; ++n, a += 64) {
            const State da = sa, db = sb;
            __m128i w[4];
#pragma GCC unroll 16
            for (int group = 0; group < 16; ++group) {
                w[group & 3] = Schedule(group, a, w);
                const __m128i words = _mm_add_epi32(
                    w[group & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group)));
                Rounds(sa, words);
                Rounds(sb, words);
            }
            sa = {_mm_add_epi32(sa.abef, da.abef), _mm_add_epi32(sa.cdgh, da.cdgh)};
            sb = {_mm_add_epi32(sb.abef, db.abef), _mm_add_epi32(sb.cdgh, db.cdgh)};
        }
    } else {
        for (std::size_t n = 0; n < count; ++n, a += 64, b += 64) {
            const State da = sa, db = sb;
            __m128i wa[4], wb[4];
#pragma GCC unroll 16
            for (int group = 0; group < 16; ++group) {
                const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group));
                wa[group & 3] = Schedule(group, a, wa);
                wb[group & 3] = Schedule(group, b, wb);
                Rounds(sa, _mm_add_epi32(wa[group & 3], k));
                Rounds(sb, _mm_add_epi32(wb[group & 3], k));
            }
            sa = {_mm_add_epi32(sa.abef, da.abef), _mm_add_epi32(sa.cdgh, da.cdgh)};
            sb = {_mm_add_epi32(sb.abef, db.abef), _mm_add_epi32(sb.cdgh, db.cdgh)};
        }
    }
    Store(sa, ha);
    Store(sb, hb);
}

TESSERA_SHA_TARGET void CompressOne(std::uint32_t h[8], const std::uint8_t* block, std::size_t count)
{
    State s = Load(h);
    for (std::size_t n = 0; n < count; ++n, block += 64) {
        const State d = s;
        __m128i w[4];
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            w[group & 3] = Schedule(group, block, w);
            Rounds(s, _mm_add_epi32(w[group & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group))));
        }
        s = {_mm_add_epi32(s.abef, d.abef), _mm_add_epi32(s.cdgh, d.cdgh)};
    }
    Store(s, h);
}

#else

void CompressOne(std::uint32_t*, const std::uint8_t*, std::size_t) {}
void CompressTwo(std::uint32_t*, const std::uint8_t*, std::uint32_t*, const std::uint8_t*, std::size_t) {}

#endif

// Takes up to `size` bytes into the lane's unfinished block, finishing it if
// they fill it; returns how many it took.
std::size_t Fill(Sha256Pair::Lane& lane, const std::uint8_t* data, std::size_t size)
{
    if (lane.held == 0)
        return 0;
    const std::size_t take = std::min<std::size_t>(64 - lane.held, size);
    std::memcpy(lane.pending + lane.held, data, take);
    lane.held += static_cast<std::uint32_t>(take);
    if (lane.held == 64) {
        CompressOne(lane.h, lane.pending, 1);
        lane.held = 0;
    }
    return take;
}

void Keep(Sha256Pair::Lane& lane, const std::uint8_t* data, std::size_t size)
{
    std::memcpy(lane.pending, data, size);
    lane.held = static_cast<std::uint32_t>(size);
}

void UpdateOne(Sha256Pair::Lane& lane, const std::uint8_t* data, std::size_t size)
{
    lane.total += size;
    const std::size_t taken = Fill(lane, data, size);
    data += taken;
    size -= taken;
    if (size == 0)
        return;
    CompressOne(lane.h, data, size / 64);
    Keep(lane, data + size / 64 * 64, size % 64);
}

std::string Finish(Sha256Pair::Lane& lane)
{
    const std::uint64_t bits = lane.total * 8;
    std::uint8_t tail[128] = {};
    std::memcpy(tail, lane.pending, lane.held);
    tail[lane.held] = 0x80;
    const std::size_t blocks = lane.held < 56 ? 1 : 2;
    for (int i = 0; i < 8; ++i)
        tail[64 * blocks - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    CompressOne(lane.h, tail, blocks);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const std::uint32_t word : lane.h) {
        for (int shift = 28; shift >= 0; shift -= 4)
            text += kHex[(word >> shift) & 15];
    }
    Reset(lane);
    return text;
}

}  // namespace

bool Sha256Pair::Available()
{
#ifdef TESSERA_X86
    return cpu::Has(cpu::kSha | cpu::kSse41 | cpu::kSsse3);
#else
    return false;
#endif
}

Sha256Pair::Sha256Pair()
{
    if (!Available())
        throw std::logic_error("Sha256Pair needs the processor's SHA instructions");
    Reset(first_);
    Reset(second_);
}

void Sha256Pair::UpdateFirst(const void* data, std::size_t size)
{
    UpdateOne(first_, static_cast<const std::uint8_t*>(data), size);
}

void Sha256Pair::UpdateSecond(const void* data, std::size_t size)
{
    UpdateOne(second_, static_cast<const std::uint8_t*>(data), size);
}

void Sha256Pair::Update(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    first_.total += size;
    second_.total += size;
    // Where each lane's next whole block begins in data.
    const std::size_t a = Fill(first_, bytes, size);
    const std::size_t b = Fill(second_, bytes, size);
    const std::size_t blocksA = (size - a) / 64, blocksB = (size - b) / 64;
    const std::size_t both = std::min(blocksA, blocksB);
    CompressTwo(first_.h, bytes + a, second_.h, bytes + b, both);
    CompressOne(first_.h, bytes + a + 64 * both, blocksA - both);
    CompressOne(second_.h, bytes + b + 64 * both, blocksB - both);
    // A lane whose unfinished block took every byte keeps it as it is.
    if (a < size || first_.held == 0)
        Keep(first_, bytes + a + 64 * blocksA, size - a - 64 * blocksA);
    if (b < size || second_.held == 0)
        Keep(second_, bytes + b + 64 * blocksB, size - b - 64 * blocksB);
}

std::string Sha256Pair::FinishFirst()
{
    return Finish(first_);
}

std::string Sha256Pair::FinishSecond()
{
    return Finish(second_);
}

}  // namespace tessera
