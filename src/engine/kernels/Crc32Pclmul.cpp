// CRC-32 by carry-less multiplication on 128-bit registers.
#include "engine/kernels/Crc32Kernels.h"

#ifdef TESSERA_X86

#include <immintrin.h>

#define TESSERA_CRC_TARGET __attribute__((target("pclmul,sse4.1")))

namespace tessera::detail {
namespace {

struct Pclmul {
    using V = __m128i;
    static constexpr std::size_t kWidth = 16;
    TESSERA_CRC_TARGET static V Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    TESSERA_CRC_TARGET static V LoadWithCrc(const std::uint8_t* p, std::uint32_t reg)
    {
        return _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    }
    TESSERA_CRC_TARGET static V Constants(FoldConstants k)
    {
        return _mm_set_epi64x(static_cast<long long>(k.low), static_cast<long long>(k.high));
    }
    TESSERA_CRC_TARGET static V Fold(V a, V k, V b)
    {
        return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11)), b);
    }
    TESSERA_CRC_TARGET static void Lanes(V v, __m128i lanes[1]) { lanes[0] = v; }
    static std::uint32_t Shorter(std::uint32_t crc, const std::uint8_t* p, std::size_t size)
    {
        return ~RawSliceBy8(~crc, p, size);
    }
};

}  // namespace
}  // namespace tessera::detail

#include "engine/kernels/Crc32FoldBody.h"

namespace tessera::detail {

std::uint32_t Crc32Pclmul(std::uint32_t crc, const void* data, std::size_t size)
{
    return FoldCrc<Pclmul>(crc, data, size);
}

}  // namespace tessera::detail

#endif
