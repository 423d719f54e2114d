#include "engine/kernels/Cpu.h"

#include <atomic>

#ifdef TESSERA_X86
#include <cpuid.h>
#endif

namespace tessera::cpu {

namespace {

#ifdef TESSERA_X86
// Bit `bit` of a register.
constexpr bool Bit(unsigned reg, int bit)
{
    return (reg >> bit) & 1u;
}
#endif

// The processor's own account (CPUID), and for the features with wider
// registers whether the system saves those registers (XCR0): a processor
// may have AVX-512 under a system that does not keep its state.
Features Probe()
{
    Features features = 0;
#ifdef TESSERA_X86
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return 0;
    const unsigned leaf1 = ecx;
    unsigned leaf7b = 0, leaf7c = 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        leaf7b = ebx;
        leaf7c = ecx;
    }
    unsigned xcr0 = 0;
    if (Bit(leaf1, 27)) {  // OSXSAVE: XGETBV may be asked
        unsigned high = 0;
        __asm__("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));
    }
    const bool avxState = (xcr0 & 0x06) == 0x06;      // XMM and YMM
    const bool avx512State = (xcr0 & 0xE6) == 0xE6;   // and the opmasks and ZMM
    const auto add = [&](bool present, Features feature) {
        if (present)
            features |= feature;
    };
    add(Bit(leaf1, 9), kSsse3);
    add(Bit(leaf1, 19), kSse41);
    add(Bit(leaf1, 1), kPclmul);
    add(Bit(leaf7b, 29), kSha);
    add(Bit(leaf7b, 5) && avxState, kAvx2);
    add(Bit(leaf7b, 16) && Bit(leaf7b, 30) && avx512State, kAvx512);  // F and BW
    add(Bit(leaf7c, 8), kGfni);
    add(Bit(leaf7c, 10) && avxState, kVpclmul);
#endif
    return features;
}

std::atomic<Features> ceiling{kAll};

}  // namespace

Features Present()
{
    static const Features present = Probe();
    return present;
}

Features Usable()
{
    return Present() & ceiling.load(std::memory_order_relaxed);
}

Features SetCeiling(Features to)
{
    return ceiling.exchange(to, std::memory_order_relaxed);
}

std::string Names(Features features)
{
    static constexpr struct {
        Features feature;
        const char* name;
    } kNames[] = {{kSsse3, "ssse3"}, {kSse41, "sse4.1"}, {kPclmul, "pclmul"},  {kSha, "sha"},
                  {kAvx2, "avx2"},   {kAvx512, "avx512"}, {kGfni, "gfni"}, {kVpclmul, "vpclmul"}};
    std::string names;
    for (const auto& [feature, name] : kNames) {
        if (features & feature)
            names += names.empty() ? name : std::string(" ") + name;
    }
    return names.empty() ? "plain" : names;
}

}  // namespace tessera::cpu
