#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the processor runs, probed once for every kernel in this folder, and
// a ceiling that tests lower so that the code a machine would not choose
// runs there too. Each kernel family lists its code from the slowest to the
// fastest, each with the features it needs, and takes at each call the
// fastest whose features are within the ceiling.

// TESSERA_PORTABLE_KERNELS builds the plain code alone, as on processors
// other than x86.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(TESSERA_PORTABLE_KERNELS)
#define TESSERA_X86 1
#endif

namespace tessera::cpu {

using Features = std::uint32_t;
inline constexpr Features kSsse3 = 1u << 0;
inline constexpr Features kSse41 = 1u << 1;
inline constexpr Features kPclmul = 1u << 2;  // carry-less multiplication
inline constexpr Features kSha = 1u << 3;     // the SHA-256 instructions
inline constexpr Features kAvx2 = 1u << 4;
inline constexpr Features kAvx512 = 1u << 5;  // AVX-512 F and BW
inline constexpr Features kGfni = 1u << 6;
inline constexpr Features kVpclmul = 1u << 7;  // carry-less multiplication on 512 bits
inline constexpr Features kAll = (1u << 8) - 1;

// The features this processor and its system support (none on other
// processors).
[[nodiscard]] Features Present();

// Present() within the ceiling: what the kernels may use.
[[nodiscard]] Features Usable();

[[nodiscard]] inline bool Has(Features wanted)
{
    return (Usable() & wanted) == wanted;
}

// For tests and benchmarks: the kernels choose as if the processor had only
// the features in `ceiling` (of those it has), from their next call on.
// Returns the ceiling before. A kernel family's object (a digest under way)
// may keep the code it began with.
Features SetCeiling(Features ceiling);

// Lowers the ceiling for a scope, then puts it back.
class Ceiling {
public:
    explicit Ceiling(Features ceiling) : before_(SetCeiling(ceiling)) {}
    ~Ceiling() { SetCeiling(before_); }
    Ceiling(const Ceiling&) = delete;
    Ceiling& operator=(const Ceiling&) = delete;

private:
    Features before_;
};

// The features by name, "ssse3 avx2" ("plain" for none): for test names and
// benchmark records.
[[nodiscard]] std::string Names(Features features);

// A family's code as it lists it: a name and the features it needs.
struct Path {
    const char* name;
    Features needs;
};

// The index of the fastest of `paths` (slowest first, the first needing
// nothing) whose needs are all in `usable`.
template <typename Entry, std::size_t N>
[[nodiscard]] std::size_t Fastest(const Entry (&paths)[N], Features usable = Usable())
{
    for (std::size_t i = N; i-- > 1;)
        if ((paths[i].needs & ~usable) == 0)
            return i;
    return 0;
}

}  // namespace tessera::cpu
