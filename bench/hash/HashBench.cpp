// Speed of the recovery sets' hashes over a buffer in memory (64 MiB by
// default), in GB/s (10^9 bytes a second) of the thread's CPU time, the best
// of five runs (CPU time, as the machines these run on are often shared):
//   - Md5: one stream;
//   - Md5Pair: both digests of the same bytes, counted once;
//   - Md5LanesBlocks: sixteen streams of their own bytes, counted once each;
//   - Sha256 (libcrypto) and Sha256Pair: both digests of the same bytes,
//     counted once;
//   - Crc32 with each kernel this processor runs.
//
// Usage: hash_bench [SIZE_MIB]

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "engine/kernels/Cpu.h"
#include "engine/kernels/Crc32.h"
#include "engine/kernels/Md5.h"
#include "engine/kernels/Md5Lanes.h"
#include "engine/kernels/Sha256.h"
#include "engine/kernels/Sha256Pair.h"

namespace {

using namespace tessera;
double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double BestSeconds(const std::function<void()>& run)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double start = CpuSeconds();
        run();
        best = std::min(best, CpuSeconds() - start);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    std::vector<unsigned char> data(mib << 20);
    std::mt19937_64 random(1);
    for (auto& byte : data)
        byte = static_cast<unsigned char>(random());
    const double bytes = double(data.size());
    unsigned sink = 0;  // keeps the results alive

    const double md5 = BestSeconds([&] {
        Md5 digest;
        digest.Update(data.data(), data.size());
        sink += digest.Finish()[0];
    });
    std::printf("%-22s %6.2f GB/s\n", "Md5", bytes / md5 / 1e9);
    const double pair = BestSeconds([&] {
        Md5Pair digests;
        digests.Update(data.data(), data.size());
        sink += digests.FinishFirst()[0] + digests.FinishSecond()[0];
    });
    std::printf("%-22s %6.2f GB/s (both digests; %.2f s per GiB)\n", "Md5Pair", bytes / pair / 1e9,
                pair * 1024.0 / double(mib));
    if (Md5LanesAvailable()) {
        // Each lane its sixteenth of the buffer.
        const std::size_t share = data.size() / kMd5Lanes / 64 * 64;
        const double lanes = BestSeconds([&] {
            detail::Md5Lane md5[kMd5Lanes];
            detail::Md5Lane* pointers[kMd5Lanes];
            const std::uint8_t* starts[kMd5Lanes];
            for (int k = 0; k < kMd5Lanes; ++k) {
                pointers[k] = &md5[k];
                starts[k] = data.data() + k * share;
            }
            Md5LanesBlocks(pointers, starts, share / 64, 0xFFFF);
            for (auto& lane : md5)
                sink += lane.Finish()[0];
        });
        std::printf("%-22s %6.2f GB/s (sixteen streams)\n", "Md5LanesBlocks", double(share * kMd5Lanes) / lanes / 1e9);
    }
    if (Sha256::Load().empty()) {
        const double one = BestSeconds([&] {
            Sha256 digest;
            digest.Update(data.data(), data.size());
            sink += static_cast<unsigned>(digest.Finish()[0]);
        });
        std::printf("%-22s %6.2f GB/s\n", "Sha256 (libcrypto)", bytes / one / 1e9);
    }
    if (Sha256Pair::Available()) {
        const double pairs = BestSeconds([&] {
            Sha256Pair digests;
            digests.Update(data.data(), data.size());
            sink += static_cast<unsigned>(digests.FinishFirst()[0] + digests.FinishSecond()[0]);
        });
        std::printf("%-22s %6.2f GB/s (both digests)\n", "Sha256Pair", bytes / pairs / 1e9);
    }
    for (const cpu::Path& path : Crc32Paths()) {
        if ((path.needs & ~cpu::Present()) != 0)
            continue;
        const cpu::Ceiling ceiling(path.needs);
        const double crc = BestSeconds([&] { sink += Crc32(0, data.data(), data.size()); });
        std::printf("Crc32 %-16s %6.2f GB/s\n", Crc32KernelName(), bytes / crc / 1e9);
    }
    {
        const double crc = BestSeconds([&] { sink += Crc32Bytewise(0, data.data(), data.size()); });
        std::printf("Crc32 %-16s %6.2f GB/s\n", "bytewise", bytes / crc / 1e9);
    }
    return sink == 0xdeadbeef ? 1 : 0;
}
