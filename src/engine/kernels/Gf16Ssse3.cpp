// The 128-bit lookup kernel: each block as two halves of 16 words, each
// half's 16 low bytes and 16 high bytes in two registers. Also the preparing
// of slices (bytes of words apart and back) on the same instructions.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_X86

#include <immintrin.h>

#define TESSERA_GF16_TARGET __attribute__((target("ssse3")))

namespace tessera::gf16::detail {
namespace {

struct Ssse3 {
    using V = __m128i;
    static constexpr std::size_t kWidth = 16;
    TESSERA_GF16_TARGET static V Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    TESSERA_GF16_TARGET static void Store(std::uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    TESSERA_GF16_TARGET static V Low(V v) { return _mm_and_si128(v, _mm_set1_epi8(0x0F)); }
    TESSERA_GF16_TARGET static V High(V v) { return _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0F)); }
    TESSERA_GF16_TARGET static V Lookup(V table, V nibbles) { return _mm_shuffle_epi8(table, nibbles); }
    TESSERA_GF16_TARGET static V Sum(V acc, V a, V b, V c, V d)
    {
        return _mm_xor_si128(acc, _mm_xor_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d)));
    }
};

}  // namespace
}  // namespace tessera::gf16::detail

#include "engine/kernels/Gf16LookupBody.h"

namespace tessera::gf16::detail {

const TableKernel kTablesSsse3 = {sizeof(LookupTables<Ssse3>), MakeLookupFactors<Ssse3>, RunLookupFactors<Ssse3>};

void MulAddSsse3(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                 std::uint8_t* const* accs, std::size_t count)
{
    MulAddLookup<Ssse3>(in, bytes, factors, accs, count);
}

// Each 16 bytes (8 words) sorted into their low bytes then their high bytes;
// two such halves make 16 low and 16 high bytes.
TESSERA_GF16_TARGET void PrepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    const __m128i apart = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        std::uint8_t* to = out + b * kBlock;
        for (int half = 0; half < 2; ++half) {
            const __m128i first =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32 * half)), apart);
            const __m128i second =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32 * half + 16)), apart);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * half), _mm_unpacklo_epi64(first, second));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32 + 16 * half), _mm_unpackhi_epi64(first, second));
        }
    }
}

TESSERA_GF16_TARGET void UnprepareSsse3(const std::uint8_t* in, std::size_t blocks, std::uint8_t* out)
{
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        std::uint8_t* to = out + b * kBlock;
        for (int half = 0; half < 2; ++half) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16 * half));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32 + 16 * half));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32 * half), _mm_unpacklo_epi8(lo, hi));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32 * half + 16), _mm_unpackhi_epi8(lo, hi));
        }
    }
}

}  // namespace tessera::gf16::detail

#endif
