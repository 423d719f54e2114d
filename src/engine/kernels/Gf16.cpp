#include "engine/kernels/Gf16.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/kernels/Gf16Kernels.h"

namespace tessera::gf16 {

namespace detail {

void Basis(std::uint16_t factor, std::uint16_t basis[16])
{
    std::uint32_t x = factor;
    for (int i = 0; i < 16; ++i) {
        basis[i] = static_cast<std::uint16_t>(x);
        x <<= 1;
        if (x & 0x10000)
            x ^= 0x1100B;
    }
}

// Each table by doubling: the entries with bit b set are those without it,
// each plus the image of bit b.
void MakeNibbleTables(std::uint16_t factor, NibbleTables& tables)
{
    std::uint16_t basis[16];
    Basis(factor, basis);
    for (int k = 0; k < 4; ++k) {
        std::uint16_t products[16];
        products[0] = 0;
        for (int bit = 0; bit < 4; ++bit)
            for (int x = 0; x < (1 << bit); ++x)
                products[(1 << bit) | x] = products[x] ^ basis[4 * k + bit];
        for (int x = 0; x < 16; ++x) {
            tables.low[k][x] = static_cast<std::uint8_t>(products[x]);
            tables.high[k][x] = static_cast<std::uint8_t>(products[x] >> 8);
        }
    }
}

void SplitTables(std::uint16_t factor, std::uint16_t low[256], std::uint16_t high[256])
{
    std::uint16_t basis[16];
    Basis(factor, basis);
    low[0] = high[0] = 0;
    for (int bit = 0; bit < 8; ++bit) {
        for (int x = 0; x < (1 << bit); ++x) {
            low[(1 << bit) | x] = low[x] ^ basis[bit];
            high[(1 << bit) | x] = high[x] ^ basis[8 + bit];
        }
    }
}

namespace {

// The 8 x 8 block of the product's matrix taking bits [from, from + 8) of a
// word to bits [to, to + 8), from the images of the word's bits (basis).
constexpr std::uint64_t AffineMatrix(const std::uint16_t basis[16], int from, int to)
{
    // Byte j: the image of source bit j, bit i of which is the weight of
    // source bit j in result bit i (a column).
    std::uint64_t columns = 0;
    for (int j = 0; j < 8; ++j)
        columns |= static_cast<std::uint64_t>((basis[from + j] >> to) & 0xFF) << (8 * j);
    // Transposed (byte i, bit j = byte j, bit i of before) into rows, and the
    // rows in the order the instruction reads them: byte 7 - i holds the row
    // of result bit i, bit j of the row the weight of source bit j.
    std::uint64_t t = (columns ^ (columns >> 7)) & 0x00AA00AA00AA00AAull;
    columns ^= t ^ (t << 7);
    t = (columns ^ (columns >> 14)) & 0x0000CCCC0000CCCCull;
    columns ^= t ^ (t << 14);
    t = (columns ^ (columns >> 28)) & 0x00000000F0F0F0F0ull;
    columns ^= t ^ (t << 28);
    return __builtin_bswap64(columns);
}

// entry[k][x]: the four blocks of the constant x << 4k.
struct AffineByNibble {
    std::uint64_t entry[4][16][2][2];
    constexpr AffineByNibble() : entry()
    {
        for (int k = 0; k < 4; ++k)
            for (int x = 0; x < 16; ++x) {
                std::uint16_t basis[16] = {};
                std::uint32_t word = static_cast<std::uint32_t>(x) << (4 * k);
                for (int i = 0; i < 16; ++i) {
                    basis[i] = static_cast<std::uint16_t>(word);
                    word <<= 1;
                    if (word & 0x10000)
                        word ^= 0x1100B;
                }
                for (int from = 0; from < 2; ++from)
                    for (int to = 0; to < 2; ++to)
                        entry[k][x][from][to] = AffineMatrix(basis, 8 * from, 8 * to);
            }
    }
};
constexpr AffineByNibble kAffineByNibble;

}  // namespace

void AffineBlocks(std::uint16_t factor, std::uint64_t blocks[2][2])
{
    const auto& n0 = kAffineByNibble.entry[0][factor & 15];
    const auto& n1 = kAffineByNibble.entry[1][(factor >> 4) & 15];
    const auto& n2 = kAffineByNibble.entry[2][(factor >> 8) & 15];
    const auto& n3 = kAffineByNibble.entry[3][factor >> 12];
    for (int from = 0; from < 2; ++from)
        for (int to = 0; to < 2; ++to)
            blocks[from][to] = n0[from][to] ^ n1[from][to] ^ n2[from][to] ^ n3[from][to];
}

// Split tables: the product of the factor with each value of a word's low
// byte and of its high byte. One factor at a time over the whole input, so
// that only one pair of tables is in the cache.
void MulAddScalar(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                  std::uint8_t* const* accs, std::size_t count)
{
    std::uint16_t low[256], high[256];
    for (std::size_t j = 0; j < count; ++j) {
        if (factors[j] == 0)
            continue;
        SplitTables(factors[j], low, high);
        std::uint8_t* acc = accs[j];
        for (std::size_t at = 0; at < bytes; at += kBlock) {
            const std::uint8_t* block = in + at;
            std::uint8_t* out = acc + at;
            for (std::size_t i = 0; i < kBlock / 2; ++i) {
                const std::uint16_t product = low[block[i]] ^ high[block[kBlock / 2 + i]];
                out[i] ^= static_cast<std::uint8_t>(product);
                out[kBlock / 2 + i] ^= static_cast<std::uint8_t>(product >> 8);
            }
        }
    }
}

}  // namespace detail

namespace {

using detail::Kernel;

struct Entry {
    const char* name;
    cpu::Features needs;
    Kernel kernel;
    detail::InputsKernel inputs;        // or null: one input at a time
    detail::WordsKernel words;          // or null: see roundTrip
    detail::Blocks prepare, unprepare;  // of whole blocks, or null: by byte
    bool roundTrip;                     // MulAddWords gains by preparing
    const detail::TableKernel* tables;  // or null: the plain factors
};

// From the slowest to the fastest: the last the processor may use is used.
const Entry kEntries[] = {
    {"scalar", 0, detail::MulAddScalar, nullptr, nullptr, nullptr, nullptr, false, nullptr},
#ifdef TESSERA_X86
    {"ssse3", cpu::kSsse3, detail::MulAddSsse3, nullptr, nullptr, detail::PrepareSsse3, detail::UnprepareSsse3, true,
     &detail::kTablesSsse3},
    {"avx2", cpu::kAvx2, detail::MulAddAvx2, nullptr, nullptr, detail::PrepareAvx2, detail::UnprepareAvx2, true,
     &detail::kTablesAvx2},
    {"avx512bw", cpu::kAvx2 | cpu::kAvx512, detail::MulAddAvx512, nullptr, nullptr, detail::PrepareAvx2,
     detail::UnprepareAvx2, true, &detail::kTablesAvx512},
    {"gfni-avx2", cpu::kAvx2 | cpu::kGfni, detail::MulAddGfniAvx2, nullptr, detail::MulAddWordsGfniAvx2,
     detail::PrepareAvx2, detail::UnprepareAvx2, true, &detail::kTablesGfniAvx2},
    {"gfni", cpu::kAvx2 | cpu::kAvx512 | cpu::kGfni, detail::MulAddGfni, detail::MulAddInputsGfni,
     detail::MulAddWordsGfni, detail::PrepareAvx2, detail::UnprepareAvx2, true, &detail::kTablesGfni},
#endif
};

const Entry& Current()
{
    return kEntries[cpu::Fastest(kEntries)];
}

// The kernels go by whole blocks: a part of one would be read and written
// past its end by some and left out by others.
void CheckWholeBlocks(std::size_t bytes)
{
    if (bytes % kBlock != 0)
        throw std::invalid_argument("gf16: prepared sizes are whole blocks of 64 bytes");
}

}  // namespace

std::size_t PreparedSize(std::size_t bytes)
{
    return (bytes + kBlock - 1) / kBlock * kBlock;
}

void Prepare(const std::uint8_t* in, std::size_t bytes, std::uint8_t* out)
{
    const std::size_t whole = bytes / kBlock;
    std::size_t done = 0;
    if (const detail::Blocks vector = Current().prepare) {
        vector(in, whole, out);
        done = whole;
    }
    for (std::size_t b = done; b < whole; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        std::uint8_t* to = out + b * kBlock;
        for (std::size_t i = 0; i < kBlock / 2; ++i) {
            to[i] = from[2 * i];
            to[kBlock / 2 + i] = from[2 * i + 1];
        }
    }
    const std::size_t rest = bytes - whole * kBlock;
    if (rest) {
        const std::uint8_t* from = in + whole * kBlock;
        std::uint8_t* to = out + whole * kBlock;
        std::memset(to, 0, kBlock);
        for (std::size_t p = 0; p < rest; ++p)
            to[(p & 1) * (kBlock / 2) + p / 2] = from[p];
    }
}

void Unprepare(const std::uint8_t* in, std::size_t bytes, std::uint8_t* out)
{
    const std::size_t whole = bytes / kBlock;
    std::size_t done = 0;
    if (const detail::Blocks vector = Current().unprepare) {
        vector(in, whole, out);
        done = whole;
    }
    for (std::size_t b = done; b < whole; ++b) {
        const std::uint8_t* from = in + b * kBlock;
        std::uint8_t* to = out + b * kBlock;
        for (std::size_t i = 0; i < kBlock / 2; ++i) {
            to[2 * i] = from[i];
            to[2 * i + 1] = from[kBlock / 2 + i];
        }
    }
    const std::size_t rest = bytes - whole * kBlock;
    const std::uint8_t* from = in + whole * kBlock;
    std::uint8_t* to = out + whole * kBlock;
    for (std::size_t p = 0; p < rest; ++p)
        to[p] = from[(p & 1) * (kBlock / 2) + p / 2];
}

void MulAddMany(const std::uint8_t* in, std::size_t bytes, const std::uint16_t* factors,
                std::uint8_t* const* accs, std::size_t count)
{
    CheckWholeBlocks(bytes);
    if (bytes == 0 || count == 0)
        return;
    Current().kernel(in, bytes, factors, accs, count);
}

void MulAddManyInputs(const std::uint8_t* const* ins, std::size_t inputs, std::size_t bytes,
                      const std::uint16_t* factors, std::uint8_t* const* accs, std::size_t count)
{
    CheckWholeBlocks(bytes);
    if (bytes == 0 || count == 0 || inputs == 0)
        return;
    const Entry& entry = Current();
    if (entry.inputs) {
        entry.inputs(ins, inputs, bytes, factors, accs, count);
        return;
    }
    for (std::size_t i = 0; i < inputs; ++i)
        entry.kernel(ins[i], bytes, factors + i * count, accs, count);
}

void Factors::Make(const std::uint16_t* factors, std::size_t inputs, std::size_t count)
{
    const Entry& entry = Current();
    kernel_ = &entry;
    inputs_ = inputs;
    count_ = count;
    if (entry.tables) {
        plain_.clear();
        tables_.resize((inputs * count * entry.tables->bytes + sizeof(Line) - 1) / sizeof(Line));
        entry.tables->make(factors, inputs, count, tables_.data()->bytes);
    } else {
        tables_.clear();
        plain_.assign(factors, factors + inputs * count);
    }
}

void MulAddManyInputs(const std::uint8_t* const* ins, std::size_t bytes, const Factors& factors,
                      std::uint8_t* const* accs)
{
    CheckWholeBlocks(bytes);
    if (bytes == 0 || factors.inputs_ == 0 || factors.count_ == 0)
        return;
    const Entry& entry = *static_cast<const Entry*>(factors.kernel_);
    if (entry.tables) {
        entry.tables->run(factors.tables_.data()->bytes, ins, factors.inputs_, bytes, accs, factors.count_);
        return;
    }
    for (std::size_t i = 0; i < factors.inputs_; ++i)
        entry.kernel(ins[i], bytes, factors.plain_.data() + i * factors.count_, accs, factors.count_);
}

void MulAddWords(std::uint16_t factor, const std::uint8_t* in, std::uint8_t* out, std::size_t bytes)
{
    if (factor == 0 || bytes == 0)
        return;
    const Entry& entry = Current();
    if (const detail::WordsKernel direct = entry.words) {
        direct(factor, in, out, bytes);
        return;
    }
    if (entry.roundTrip) {
        // Preparing and unpreparing by vector cost less than the vector
        // kernels gain over the interleaved split tables.
        constexpr std::size_t kPiece = 8192;
        alignas(64) std::uint8_t preparedIn[kPiece], preparedOut[kPiece];
        std::uint8_t* const acc = preparedOut;
        for (std::size_t at = 0; at < bytes; at += kPiece) {
            const std::size_t size = std::min(kPiece, bytes - at);
            Prepare(in + at, size, preparedIn);
            Prepare(out + at, size, preparedOut);
            entry.kernel(preparedIn, PreparedSize(size), &factor, &acc, 1);
            Unprepare(preparedOut, size, out + at);
        }
        return;
    }
    std::uint16_t low[256], high[256];
    detail::SplitTables(factor, low, high);
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t product = low[in[i]] ^ high[in[i + 1]];
        out[i] ^= static_cast<std::uint8_t>(product);
        out[i + 1] ^= static_cast<std::uint8_t>(product >> 8);
    }
    if (bytes % 2)
        out[bytes - 1] ^= static_cast<std::uint8_t>(low[in[bytes - 1]]);
}

const char* KernelName()
{
    return Current().name;
}

std::vector<cpu::Path> Paths()
{
    std::vector<cpu::Path> paths;
    for (const Entry& entry : kEntries)
        paths.push_back({entry.name, entry.needs});
    return paths;
}

}  // namespace tessera::gf16
