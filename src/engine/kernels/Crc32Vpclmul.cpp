// CRC-32 by carry-less multiplication on 512-bit registers (VPCLMULQDQ).
// The forms of the AVX-512 instructions that zero the lanes a mask leaves
// out are used with a full mask: the plain forms start from an undefined
// register, which GCC 12 takes for an uninitialized one.
#include "engine/kernels/Crc32Kernels.h"

#ifdef TESSERA_X86

#include <immintrin.h>

#define TESSERA_CRC_TARGET __attribute__((target("avx512f,avx512bw,vpclmulqdq,pclmul,sse4.1")))

namespace tessera::detail {
namespace {

struct Vpclmul {
    using V = __m512i;
    static constexpr std::size_t kWidth = 64;
    TESSERA_CRC_TARGET static V Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    TESSERA_CRC_TARGET static V LoadWithCrc(const std::uint8_t* p, std::uint32_t reg)
    {
        return _mm512_xor_si512(Load(p), _mm512_maskz_set1_epi32(0x0001, static_cast<int>(reg)));
    }
    TESSERA_CRC_TARGET static V Constants(FoldConstants k)
    {
        return _mm512_maskz_broadcast_i32x4(
            0xFFFF, _mm_set_epi64x(static_cast<long long>(k.low), static_cast<long long>(k.high)));
    }
    TESSERA_CRC_TARGET static V Fold(V a, V k, V b)
    {
        // a's two products and b, added in one instruction
        return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(a, k, 0x00), _mm512_clmulepi64_epi128(a, k, 0x11),
                                         b, 0x96);
    }
    TESSERA_CRC_TARGET static void Lanes(V v, __m128i lanes[4])
    {
        lanes[0] = _mm512_maskz_extracti32x4_epi32(0xF, v, 0);
        lanes[1] = _mm512_maskz_extracti32x4_epi32(0xF, v, 1);
        lanes[2] = _mm512_maskz_extracti32x4_epi32(0xF, v, 2);
        lanes[3] = _mm512_maskz_extracti32x4_epi32(0xF, v, 3);
    }
    static std::uint32_t Shorter(std::uint32_t crc, const std::uint8_t* p, std::size_t size)
    {
        return Crc32Pclmul(crc, p, size);
    }
};

}  // namespace
}  // namespace tessera::detail

#include "engine/kernels/Crc32FoldBody.h"

namespace tessera::detail {

std::uint32_t Crc32Vpclmul(std::uint32_t crc, const void* data, std::size_t size)
{
    return FoldCrc<Vpclmul>(crc, data, size);
}

}  // namespace tessera::detail

#endif
