// The GFNI kernel on 256-bit registers, for processors with GFNI but not
// AVX-512: a block's low bytes and high bytes in two registers, four
// GF2P8AFFINEQB per block and factor.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_X86

#include <immintrin.h>

#include <cstring>

#define TESSERA_GF16_TARGET __attribute__((target("avx2,gfni")))

namespace tessera::gf16::detail {
namespace {

struct GfniAvx2 {
    using V = __m256i;
    static constexpr std::size_t kWidth = 32;
    TESSERA_GF16_TARGET static V Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    TESSERA_GF16_TARGET static void Store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    TESSERA_GF16_TARGET static V LoadPart(const std::uint8_t* p, std::size_t n)
    {
        alignas(32) std::uint8_t bytes[kWidth] = {};
        std::memcpy(bytes, p, n);
        return Load(bytes);
    }
    TESSERA_GF16_TARGET static void StorePart(std::uint8_t* p, std::size_t n, V v)
    {
        alignas(32) std::uint8_t bytes[kWidth];
        Store(bytes, v);
        std::memcpy(p, bytes, n);
    }
    TESSERA_GF16_TARGET static V Affine(V x, V matrices) { return _mm256_gf2p8affine_epi64_epi8(x, matrices, 0); }
    TESSERA_GF16_TARGET static V Sum(V acc, V a, V b) { return _mm256_xor_si256(acc, _mm256_xor_si256(a, b)); }
    TESSERA_GF16_TARGET static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    TESSERA_GF16_TARGET static V Words(V low, V high)
    {
        return _mm256_blendv_epi8(low, high, _mm256_set1_epi16(static_cast<short>(0xFF00)));
    }
    TESSERA_GF16_TARGET static V Down(V v) { return _mm256_srli_epi16(v, 8); }
    TESSERA_GF16_TARGET static V Up(V v) { return _mm256_slli_epi16(v, 8); }
};

}  // namespace
}  // namespace tessera::gf16::detail

#include "engine/kernels/Gf16AffineBody.h"

namespace tessera::gf16::detail {

const TableKernel kTablesGfniAvx2 = {sizeof(AffineMatrices<GfniAvx2>), MakeAffineFactors<GfniAvx2>,
                                     RunAffineFactors<GfniAvx2>};

void MulAddGfniAvx2(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                    std::uint8_t* const* accs, std::size_t count)
{
    MulAddAffine<GfniAvx2>(in, bytes, factors, accs, count);
}

void MulAddWordsGfniAvx2(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes)
{
    MulAddWordsAffine<GfniAvx2>(factor, in, out, bytes);
}

}  // namespace tessera::gf16::detail

#endif
