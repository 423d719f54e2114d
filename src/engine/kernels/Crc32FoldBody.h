// The folding kernels of CRC-32, written once for every register width:
// four registers of W bytes fold 4W bytes a round, are folded into one,
// which takes the remaining whole registers, and its 128-bit lanes are
// folded into one piece for the end (Crc32Kernels.h tells how folding works).
//
// Included by a file for one instruction set, which first defines
//   - TESSERA_CRC_TARGET, the target attribute of its instructions, and
//   - in tessera::detail's unnamed namespace, a struct with
//       using V;                              the register
//       static constexpr std::size_t kWidth;  its bytes
//       V Load(const std::uint8_t*)           unaligned
//       V LoadWithCrc(const std::uint8_t*, std::uint32_t reg)  reg added to the first 32 bits
//       V Constants(FoldConstants)            in every 128-bit lane
//       V Fold(V a, V constants, V b)         a folded onto b, lane by lane
//       void Lanes(V, __m128i lanes[kWidth / 16])
//       std::uint32_t Shorter(std::uint32_t crc, const std::uint8_t*, std::size_t)
//                                             for fewer than 4 kWidth bytes
// then calls FoldCrc<ThatStruct>.
#ifndef TESSERA_CRC_TARGET
#error "define TESSERA_CRC_TARGET before including the kernel body"
#endif

#include <immintrin.h>

#include "engine/kernels/Crc32Kernels.h"

#define TESSERA_CRC_TARGET_128 __attribute__((target("pclmul,sse4.1")))

namespace tessera::detail {

namespace {

TESSERA_CRC_TARGET_128 inline __m128i Constants128(FoldConstants k)
{
    return _mm_set_epi64x(static_cast<long long>(k.low), static_cast<long long>(k.high));
}

TESSERA_CRC_TARGET_128 inline __m128i Fold128(__m128i a, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

// The register after the folded piece and the `size` (< 16) bytes at p,
// inverted.
TESSERA_CRC_TARGET_128 std::uint32_t FinishFolded(__m128i folded, const std::uint8_t* p, std::size_t size)
{
    alignas(16) std::uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), folded);
    return ~RawSliceBy8(RawSliceBy8(0, bytes, 16), p, size);
}

template <typename Isa>
TESSERA_CRC_TARGET std::uint32_t FoldCrc(std::uint32_t crc, const void* data, std::size_t size)
{
    using V = typename Isa::V;
    constexpr std::size_t W = Isa::kWidth;
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (size < 4 * W)
        return Isa::Shorter(crc, p, size);
    V x0 = Isa::LoadWithCrc(p, ~crc), x1 = Isa::Load(p + W), x2 = Isa::Load(p + 2 * W), x3 = Isa::Load(p + 3 * W);
    p += 4 * W;
    size -= 4 * W;
    const V byFour = Isa::Constants(FoldBy(4 * W * 8));
    for (; size >= 4 * W; p += 4 * W, size -= 4 * W) {
        x0 = Isa::Fold(x0, byFour, Isa::Load(p));
        x1 = Isa::Fold(x1, byFour, Isa::Load(p + W));
        x2 = Isa::Fold(x2, byFour, Isa::Load(p + 2 * W));
        x3 = Isa::Fold(x3, byFour, Isa::Load(p + 3 * W));
    }
    const V byOne = Isa::Constants(FoldBy(W * 8));
    x1 = Isa::Fold(x0, byOne, x1);
    x2 = Isa::Fold(x1, byOne, x2);
    x3 = Isa::Fold(x2, byOne, x3);
    for (; size >= W; p += W, size -= W)
        x3 = Isa::Fold(x3, byOne, Isa::Load(p));
    __m128i lanes[W / 16];
    Isa::Lanes(x3, lanes);
    __m128i x = lanes[0];
    for (std::size_t i = 1; i < W / 16; ++i)
        x = _mm_xor_si128(Fold128(x, Constants128(FoldBy(128))), lanes[i]);
    for (; size >= 16; p += 16, size -= 16)
        x = _mm_xor_si128(Fold128(x, Constants128(FoldBy(128))), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    return FinishFolded(x, p, size);
}

}  // namespace

}  // namespace tessera::detail
