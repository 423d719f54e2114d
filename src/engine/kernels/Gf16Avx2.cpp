// The 256-bit lookup kernel: a whole block's 32 low bytes and 32 high bytes
// in two registers. Also the preparing of slices (bytes of words apart and
// back), which the wider kernels use too.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_X86

#include <immintrin.h>

#define TESSERA_GF16_TARGET __attribute__((target("avx2")))

namespace tessera::gf16::detail {
namespace {

struct Avx2 {
    using V = __m256i;
    static constexpr std::size_t kWidth = 32;
    TESSERA_GF16_TARGET static V Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    TESSERA_GF16_TARGET static void Store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    TESSERA_GF16_TARGET static V Low(V v) { return _mm256_and_si256(v, _mm256_set1_epi8(0x0F)); }
    TESSERA_GF16_TARGET static V High(V v) { return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F)); }
    TESSERA_GF16_TARGET static V Lookup(V table, V nibbles) { return _mm256_shuffle_epi8(table, nibbles); }
    TESSERA_GF16_TARGET static V Sum(V acc, V a, V b, V c, V d)
    {
        return _mm256_xor_si256(acc, _mm256_xor_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d)));
    }
};

}  // namespace
}  // namespace tessera::gf16::detail

#include "engine/kernels/Gf16LookupBody.h"

namespace tessera::gf16::detail {

const TableKernel kTablesAvx2 = {sizeof(LookupTables<Avx2>), MakeLookupFactors<Avx2>, RunLookupFactors<Avx2>};

void MulAddAvx2(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                std::uint8_t* const* accs, std::size_t count)
{
    MulAddLookup<Avx2>(in, bytes, factors, accs, count);
}

// Each 128-bit lane of a block's 64 bytes is first sorted into its 8 low
// bytes then its 8 high bytes; the quarters are then gathered across lanes.
TESSERA_GF16_TARGET void PrepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    const __m256i apart = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15,  //
                                           0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        const __m256i first = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)), apart);
        const __m256i second =
            _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32)), apart);
        // Words 0..15: low bytes in the lower half, high bytes in the upper.
        const __m256i a = _mm256_permute4x64_epi64(first, 0xD8);
        const __m256i c = _mm256_permute4x64_epi64(second, 0xD8);
        std::uint8_t* to = out + b * kBlock;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute2x128_si256(a, c, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), _mm256_permute2x128_si256(a, c, 0x31));
    }
}

TESSERA_GF16_TARGET void UnprepareAvx2(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32));
        // Words 0..7 and 16..23, then 8..15 and 24..31.
        const __m256i a = _mm256_unpacklo_epi8(lo, hi);
        const __m256i c = _mm256_unpackhi_epi8(lo, hi);
        std::uint8_t* to = out + b * kBlock;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permute2x128_si256(a, c, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), _mm256_permute2x128_si256(a, c, 0x31));
    }
}

}  // namespace tessera::gf16::detail

#endif
