// The 512-bit lookup kernel: a whole block (32 low bytes, then 32 high
// bytes) in one register. Looking the block up as it stands and with its
// halves swapped, in tables that give the lower half the product's low bytes
// and the upper half its high bytes, makes both in place: four PSHUFB per
// block and factor.
#include "engine/kernels/Gf16Kernels.h"

#ifdef TESSERA_X86

#include <immintrin.h>

#define TESSERA_GF16_TARGET __attribute__((target("avx512f,avx512bw")))

namespace tessera::gf16::detail {
namespace {

struct Avx512 {
    using V = __m512i;
    static constexpr std::size_t kWidth = 64;
    TESSERA_GF16_TARGET static V Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    TESSERA_GF16_TARGET static void Store(std::uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
    TESSERA_GF16_TARGET static V Swap(V v) { return _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0x4E); }
    TESSERA_GF16_TARGET static V Low(V v) { return _mm512_and_si512(v, _mm512_set1_epi8(0x0F)); }
    TESSERA_GF16_TARGET static V High(V v) { return _mm512_and_si512(_mm512_srli_epi16(v, 4), _mm512_set1_epi8(0x0F)); }
    TESSERA_GF16_TARGET static V Lookup(V table, V nibbles) { return _mm512_shuffle_epi8(table, nibbles); }
    TESSERA_GF16_TARGET static V Sum(V acc, V a, V b, V c, V d)
    {
        return _mm512_ternarylogic_epi32(_mm512_ternarylogic_epi32(acc, a, b, 0x96), c, d, 0x96);
    }
};

}  // namespace
}  // namespace tessera::gf16::detail

#include "engine/kernels/Gf16LookupBody.h"

namespace tessera::gf16::detail {

const TableKernel kTablesAvx512 = {sizeof(LookupTables<Avx512>), MakeLookupFactors<Avx512>, RunLookupFactors<Avx512>};

void MulAddAvx512(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                  std::uint8_t* const* accs, std::size_t count)
{
    MulAddLookup<Avx512>(in, bytes, factors, accs, count);
}

}  // namespace tessera::gf16::detail

#endif
