// Times a split and a join of a generated file through the real workers and
// compares each with its floor: 200 ms of pauses per block plus what reading
// and writing the same bytes in 16 MiB blocks, flushing after each, costs on
// this disk without pauses. Also records the resident size while a job runs.
//
//   transfer_bench <folder> [size in MiB, default 1024]
//
// Each job runs twice: with its input read from the disk (cold: dropped from
// the page cache first) and with its input already in the page cache (warm).
// Its floor is measured just before it, in the same state.

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/JoinRun.h"
#include "engine/SplitRun.h"
#include "engine/Transfer.h"
#include "engine/ListedJobPort.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBlock = tessera::kTransferBufferSize;

[[noreturn]] void Die(const char* what)
{
    std::perror(what);
    std::exit(1);
}

long StatusKiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, n, field) == 0 && line[n] == ':')
            return std::atol(line.c_str() + n + 1);
    }
    return -1;
}

// Restarts the kernel's record of the peak resident size.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Writes the file back and drops it from the page cache, so that a run
// starts from the disk.
void Evict(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Reads the whole file into the page cache.
void Warm(const std::string& path)
{
    std::vector<char> buffer(1 << 20);
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        Die("warm");
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

void Prepare(const std::string& path, bool warm)
{
    ::sync();
    if (warm)
        Warm(path);
    else
        Evict(path);
}

void Generate(const std::string& path, std::size_t bytes)
{
    std::vector<std::uint64_t> block((1 << 20) / 8);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        Die("generate");
    for (std::size_t done = 0; done < bytes; done += block.size() * 8) {
        for (auto& w : block) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            w = x;
        }
        const std::size_t n = std::min(block.size() * 8, bytes - done);
        if (::write(fd, block.data(), n) != static_cast<ssize_t>(n))
            Die("generate");
    }
    ::close(fd);
    Evict(path);
}

// The same bytes moved the same way, without pauses: read a block, write it,
// flush. The result is its wall time in seconds.
double UnpacedCopy(const std::string& from, const std::string& to, bool warm)
{
    Prepare(from, warm);
    std::unique_ptr<char[]> buffer(new char[kBlock]);
    const auto t0 = Clock::now();
    int in = ::open(from.c_str(), O_RDONLY);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0)
        Die("unpaced copy");
    for (;;) {
        std::size_t got = 0;
        while (got < kBlock) {
            ssize_t n = ::read(in, buffer.get() + got, kBlock - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got == 0)
            break;
        if (::write(out, buffer.get(), got) != static_cast<ssize_t>(got) || ::fdatasync(out) != 0)
            Die("unpaced copy");
    }
    ::close(in);
    ::close(out);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    ::unlink(to.c_str());
    return seconds;
}

// The floor is the best of a few unpaced copies: the disk's own speed, not
// its bad moments.
double BestUnpacedCopy(const std::string& from, const std::string& to, bool warm)
{
    double best = UnpacedCopy(from, to, warm);
    for (int i = 1; i < 3; ++i)
        best = std::min(best, UnpacedCopy(from, to, warm));
    return best;
}

struct JobRun {
    double seconds = 0;
    long idleKiB = 0;
    long peakKiB = 0;
    int result = 0;
};

template <typename Job>
JobRun Timed(Job job)
{
    JobRun run;
    ResetPeak();
    run.idleKiB = StatusKiB("VmRSS");
    const auto t0 = Clock::now();
    run.result = job();
    run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    run.peakKiB = StatusKiB("VmHWM");
    return run;
}

bool SameContents(const std::string& a, const std::string& b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), ba.size());
        fb.read(bb.data(), bb.size());
        if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), fa.gcount()) != 0)
            return false;
        if (fa.gcount() == 0)
            return true;
    }
}

void Report(const std::string& name, std::size_t blocks, double unpaced, const JobRun& run)
{
    const double floor = blocks * 0.2 + unpaced;
    std::printf("%-10s blocks %zu  job %.3f s  floor %.3f s (pauses %.1f s + unpaced copy %.3f s)  ratio %.4f\n",
                name.c_str(), blocks, run.seconds, floor, blocks * 0.2, unpaced, run.seconds / floor);
    std::printf("%-10s resident: idle %.1f MiB, peak during the job %.1f MiB, growth %.1f MiB\n", name.c_str(),
                run.idleKiB / 1024.0, run.peakKiB / 1024.0, (run.peakKiB - run.idleKiB) / 1024.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [size in MiB]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const std::size_t bytes = mib << 20;
    const std::size_t blocks = (bytes + kBlock - 1) / kBlock;
    const std::string source = folder + "/source.bin";
    const std::string part = source + ".000";
    const std::string joined = folder + "/joined.bin";
    const std::string scratch = folder + "/unpaced.bin";
    std::atomic<bool> abort{false};

    // Buffers this large go straight to and from the system, so the size
    // before a job is the true idle size and not a heap that kept the
    // previous job's buffer.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);

    std::printf("file %zu MiB in %s\n", mib, folder.c_str());
    Generate(source, bytes);

    bool exact = true;
    for (bool warm : {false, true}) {
        const std::string state = warm ? "warm" : "cold";
        ::unlink(part.c_str());
        const double splitFloor = BestUnpacedCopy(source, scratch, warm);
        Prepare(source, warm);
        tessera::ListedJobPort split;
        split.source = source;
        split.plan = {{0, static_cast<std::int64_t>(bytes)}};
        const JobRun splitRun = Timed([&] { return tessera::RunSplit(tessera::SplitRequestFrom(split), split, abort).Code(); });

        const double joinFloor = BestUnpacedCopy(part, scratch, warm);
        Prepare(part, warm);
        tessera::ListedJobPort join;
        join.destination = joined;
        join.inputs = {part};
        const JobRun joinRun = Timed([&] { return tessera::RunJoin(tessera::JoinRequestFrom(join), join, abort).Code(); });

        Report("split " + state, blocks, splitFloor, splitRun);
        Report("join " + state, blocks, joinFloor, joinRun);
        exact = exact && splitRun.result == 0 && joinRun.result == 0 && SameContents(source, joined);
        std::fflush(stdout);
    }
    std::printf("joined file %s the source\n", exact ? "equals" : "DIFFERS FROM");

    ::unlink(part.c_str());
    ::unlink(joined.c_str());
    ::unlink(source.c_str());
    return exact ? 0 : 1;
}
