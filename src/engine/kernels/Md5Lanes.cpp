#include "engine/kernels/Md5Lanes.h"

#include <cstring>

#include "engine/kernels/Cpu.h"
#include "engine/kernels/Md5Steps.h"

#if defined(TESSERA_X86) && defined(__x86_64__)
#define TESSERA_MD5_LANES 1
#include <immintrin.h>
#endif

namespace tessera {

#ifdef TESSERA_MD5_LANES

namespace {

// The round functions of b, c and d as truth tables for VPTERNLOGD.
constexpr int kTableF = 0xCA;  // b ? c : d
constexpr int kTableG = 0xE4;  // d ? b : c
constexpr int kTableH = 0x96;  // b ^ c ^ d
constexpr int kTableI = 0x39;  // c ^ (b | ~d)

alignas(64) constexpr std::uint8_t kNothing[64] = {};

// The forms of the instructions that zero the lanes a mask leaves out are
// used with a full mask: the plain forms start from an undefined register,
// which GCC 12 takes for an uninitialized one.
__attribute__((target("avx512f"))) void Blocks(detail::Md5Lane* const lanes[kMd5Lanes],
                                                const std::uint8_t* const data[kMd5Lanes], std::size_t blocks,
                                                std::uint32_t active)
{
    // Each lane's address as an offset from one base; a lane left out reads
    // the same 64 zero bytes throughout.
    alignas(64) std::int64_t offsets[kMd5Lanes];
    alignas(64) std::int64_t steps[kMd5Lanes];
    alignas(64) std::uint32_t words[4][kMd5Lanes] = {};
    const auto* base = kNothing;
    for (int k = 0; k < kMd5Lanes; ++k) {
        const bool on = (active >> k) & 1;
        offsets[k] = on ? reinterpret_cast<std::intptr_t>(data[k]) - reinterpret_cast<std::intptr_t>(base) : 0;
        steps[k] = on ? 64 : 0;
        for (int i = 0; on && i < 4; ++i)
            words[i][k] = lanes[k]->state[i];
    }
    __m512i low = _mm512_load_si512(offsets), high = _mm512_load_si512(offsets + 8);
    const __m512i stepLow = _mm512_load_si512(steps), stepHigh = _mm512_load_si512(steps + 8);
    __m512i a = _mm512_load_si512(words[0]), b = _mm512_load_si512(words[1]);
    __m512i c = _mm512_load_si512(words[2]), d = _mm512_load_si512(words[3]);
    for (std::size_t n = 0; n < blocks; ++n) {
        __m512i m[16];
        for (int i = 0; i < 16; ++i) {
            const __m256i first = _mm512_mask_i64gather_epi32(_mm256_setzero_si256(), 0xFF, low, base + 4 * i, 1);
            const __m256i second = _mm512_mask_i64gather_epi32(_mm256_setzero_si256(), 0xFF, high, base + 4 * i, 1);
            m[i] = _mm512_maskz_inserti64x4(0xFF, _mm512_castsi256_si512(first), second, 1);
        }
        const __m512i a0 = a, b0 = b, c0 = c, d0 = d;
#define STEP(f, a, b, c, d, k, t, s)                                                              \
    a = _mm512_add_epi32(a, _mm512_add_epi32(m[k], _mm512_set1_epi32(static_cast<int>(t))));       \
    a = _mm512_add_epi32(a, _mm512_ternarylogic_epi32(b, c, d, kTable##f));                        \
    a = _mm512_add_epi32(_mm512_maskz_rol_epi32(0xFFFF, a, s), b);
        MD5_STEPS(STEP)
#undef STEP
        a = _mm512_add_epi32(a, a0);
        b = _mm512_add_epi32(b, b0);
        c = _mm512_add_epi32(c, c0);
        d = _mm512_add_epi32(d, d0);
        low = _mm512_add_epi64(low, stepLow);
        high = _mm512_add_epi64(high, stepHigh);
    }
    _mm512_store_si512(words[0], a);
    _mm512_store_si512(words[1], b);
    _mm512_store_si512(words[2], c);
    _mm512_store_si512(words[3], d);
    for (int k = 0; k < kMd5Lanes; ++k)
        if ((active >> k) & 1) {
            for (int i = 0; i < 4; ++i)
                lanes[k]->state[i] = words[i][k];
            lanes[k]->length += blocks * 64;
        }
}

}  // namespace

#endif

bool Md5LanesAvailable()
{
#ifdef TESSERA_MD5_LANES
    return cpu::Has(cpu::kAvx512);
#else
    return false;
#endif
}

void Md5LanesBlocks(detail::Md5Lane* const lanes[kMd5Lanes], const std::uint8_t* const data[kMd5Lanes],
                    std::size_t blocks, std::uint32_t active)
{
#ifdef TESSERA_MD5_LANES
    if (Md5LanesAvailable()) {
        Blocks(lanes, data, blocks, active);
        return;
    }
#endif
    for (int k = 0; k < kMd5Lanes; ++k)
        if ((active >> k) & 1)
            lanes[k]->Update(data[k], blocks * 64);
}

}  // namespace tessera
