// GB/s of gf16::MulAddMany (bytes of input times factors per CPU second) for
// every kernel, for the block sizes and factor counts recovery data uses;
// Prepare, Unprepare and the one-factor MulAddWords of repair beside them.
// Usage: gf16_bench [SECONDS_PER_FIGURE]
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/kernels/Cpu.h"
#include "engine/kernels/Gf16.h"

namespace {

// The thread's CPU time: the machines this runs on are often shared, and
// time spent waiting for a core is not the kernel's.
double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Repeats `run` (which handles `bytes` bytes) for about `seconds` in five
// stretches; GB/s of the fastest stretch.
template <typename Run>
double Rate(double seconds, double bytes, Run run)
{
    run();  // warm the caches and the tables
    double best = 0;
    for (int stretch = 0; stretch < 5; ++stretch) {
        std::size_t rounds = 0;
        const double start = CpuSeconds();
        double elapsed = 0;
        do {
            for (int i = 0; i < 16; ++i)
                run();
            rounds += 16;
            elapsed = CpuSeconds() - start;
        } while (elapsed < seconds / 5);
        best = std::max(best, bytes * static_cast<double>(rounds) / elapsed / 1e9);
    }
    return best;
}

// Every kernel this processor runs, slowest first.
std::vector<tessera::cpu::Path> Runnable()
{
    std::vector<tessera::cpu::Path> paths;
    for (const tessera::cpu::Path& path : tessera::gf16::Paths())
        if ((path.needs & ~tessera::cpu::Present()) == 0)
            paths.push_back(path);
    return paths;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace tessera;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.2;
    std::mt19937 random(1);
    const std::size_t sizes[] = {16 << 10, 64 << 10, 256 << 10};
    const std::size_t counts[] = {1, 4, 8, 16, 32};
    constexpr std::size_t kMaxCount = 32, kMaxSize = 256 << 10;

    // Accumulators one after the other in one 64-byte aligned arena, as a
    // caller would lay them out; STAGGER=N bytes (a multiple of 64) between
    // them moves them apart in the cache sets.
    const char* staggerText = std::getenv("STAGGER");
    const std::size_t stagger = staggerText ? std::strtoul(staggerText, nullptr, 10) / 64 * 64 : 0;
    const std::size_t stride = kMaxSize + stagger;
    std::vector<std::uint8_t> words(kMaxSize);
    for (auto& b : words)
        b = static_cast<std::uint8_t>(random());
    auto* arena = static_cast<std::uint8_t*>(std::aligned_alloc(64, (kMaxCount + 1) * stride));
    std::memset(arena, 0, (kMaxCount + 1) * stride);
    std::uint8_t* input = arena + kMaxCount * stride;
    gf16::Prepare(words.data(), kMaxSize, input);
    std::vector<std::uint8_t*> outs;
    for (std::size_t j = 0; j < kMaxCount; ++j)
        outs.push_back(arena + j * stride);
    std::vector<std::uint16_t> factors(kMaxCount);
    for (auto& f : factors)
        f = static_cast<std::uint16_t>(random() | 2);

    const std::string fastest = gf16::KernelName();
    std::printf("default kernel: %s; accumulators %zu bytes apart\n", fastest.c_str(), stride);
    std::printf("MulAddMany, GB/s of input x factors\n%-10s %8s", "kernel", "KiB");
    for (std::size_t count : counts)
        std::printf(" %7zux", count);
    std::printf("\n");
    for (const cpu::Path& path : Runnable()) {
        const cpu::Ceiling ceiling(path.needs);
        const std::string kernel = gf16::KernelName();
        for (std::size_t size : sizes) {
            std::printf("%-10s %8zu", kernel.c_str(), size >> 10);
            for (std::size_t count : counts) {
                const double rate = Rate(seconds, static_cast<double>(size * count), [&] {
                    gf16::MulAddMany(input, size, factors.data(), outs.data(), count);
                });
                std::printf(" %8.2f", rate);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }

    // Four inputs at once, each accumulator read and written once for them.
    constexpr std::size_t kInputs = 4;
    std::vector<const std::uint8_t*> ins;
    for (std::size_t i = 0; i < kInputs; ++i)
        ins.push_back(input + i * (kMaxSize / kInputs));
    std::vector<std::uint16_t> matrix(kInputs * kMaxCount);
    for (auto& f : matrix)
        f = static_cast<std::uint16_t>(random() | 2);
    std::printf("\nMulAddManyInputs, %zu inputs of 64 KiB, GB/s of inputs x factors\n%-10s %8s", kInputs, "kernel", "KiB");
    for (std::size_t count : counts)
        std::printf(" %7zux", count);
    std::printf("\n");
    for (const cpu::Path& path : Runnable()) {
        const cpu::Ceiling ceiling(path.needs);
        const std::string kernel = gf16::KernelName();
        const std::size_t size = kMaxSize / kInputs;
        std::printf("%-10s %8zu", kernel.c_str(), size >> 10);
        for (std::size_t count : counts) {
            const double rate = Rate(seconds, static_cast<double>(size * count * kInputs), [&] {
                gf16::MulAddManyInputs(ins.data(), kInputs, size, matrix.data(), outs.data(), count);
            });
            std::printf(" %8.2f", rate);
        }
        std::printf("\n");
        std::fflush(stdout);
    }

    std::printf("\nPrepare, Unprepare and MulAddWords (one factor, unprepared words) of 64 KiB, GB/s\n");
    for (const cpu::Path& path : Runnable()) {
        const cpu::Ceiling ceiling(path.needs);
        const std::string kernel = gf16::KernelName();
        const std::size_t size = 64 << 10;
        const double in = Rate(seconds, size, [&] { gf16::Prepare(words.data(), size, input); });
        const double out = Rate(seconds, size, [&] { gf16::Unprepare(input, size, outs[0]); });
        const double unprepared = Rate(seconds, size, [&] { gf16::MulAddWords(factors[0], words.data(), outs[1], size); });
        std::printf("%-10s prepare %6.2f  unprepare %6.2f  MulAddWords %6.2f\n", kernel.c_str(), in, out, unprepared);
    }
    std::free(arena);
    return 0;
}
