// The recovery slices' multiplication alone (ComputeRecoveryColumns), over a
// file cut into parts: wall and CPU seconds, and GB/s of input times
// recovery slices. The recovery slices are computed and thrown away.
// Usage: columns_bench FILE [INPUT_SLICES (2000)] [PERCENT (10)] [PART_MIB (64)]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/kernels/Gf16.h"
#include "engine/recovery/Par2Columns.h"
#include "fileio/NFilePSDK.h"

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace tessera;
    if (argc < 2) {
        std::fprintf(stderr, "usage: columns_bench FILE [INPUT_SLICES] [PERCENT] [PART_MIB]\n");
        return 2;
    }
    const std::uint64_t wanted = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2000;
    const std::uint64_t percent = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 10;
    const std::int64_t partSize = (argc > 4 ? std::strtoll(argv[4], nullptr, 10) : 64) << 20;
    NFilePSDK source(argv[1], NFilePSDK::Form::Reading);
    if (!source.IsOpen()) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    source.SetCacheUse(NFile::CacheUse::Cached);
    const std::int64_t size = source.GetSize();
    Par2Layout layout;
    layout.sliceSize = (static_cast<std::uint64_t>(size) / wanted + 63) / 64 * 64;
    std::vector<Par2Part> parts;
    for (std::int64_t offset = 0; offset < size; offset += partSize) {
        Par2Part part;
        part.piece = {"", offset, std::min(partSize, size - offset)};
        part.firstSlice = layout.inputSlices;
        part.slices = (static_cast<std::uint64_t>(part.piece.length) + layout.sliceSize - 1) / layout.sliceSize;
        layout.inputSlices += part.slices;
        parts.push_back(part);
    }
    layout.recoverySlices = static_cast<std::uint32_t>((layout.inputSlices * percent + 99) / 100);
    std::printf("%lld bytes, %zu parts, %llu input slices of %llu bytes, %u recovery slices, kernel %s\n",
                static_cast<long long>(size), parts.size(), static_cast<unsigned long long>(layout.inputSlices),
                static_cast<unsigned long long>(layout.sliceSize), layout.recoverySlices, gf16::KernelName());
    std::uint64_t written = 0;
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const Par2StageEnd end = ComputeRecoveryColumns(
        parts, layout, source, [] { return false; },
        [&](std::uint32_t, std::uint64_t, const std::uint8_t*, std::size_t bytes) {
            written += bytes;
            return 0;
        });
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (end.how != Par2StageEnd::How::Done || written != layout.sliceSize * layout.recoverySlices) {
        std::fprintf(stderr, "the columns did not come out whole\n");
        return 1;
    }
    std::printf("%.3f s wall, %.3f s CPU, %.1f GB/s of input x recovery slices\n", wall, CpuSeconds() - cpu,
                double(size) * layout.recoverySlices / wall / 1e9);
    return 0;
}
