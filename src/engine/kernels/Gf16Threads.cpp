#include "engine/kernels/Gf16Threads.h"

#include <sched.h>

#include <algorithm>
#include <stdexcept>

#include "engine/kernels/Gf16.h"

namespace tessera::gf16 {

namespace {

// The accumulators' bytes a thread works on at once: about half of a core's
// second-level cache, which also holds the inputs' and the tables.
constexpr std::size_t kCached = 256 << 10;
// But never fewer blocks than a kernel takes in one go.
constexpr std::size_t kLeastRange = 32;

unsigned Cores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

ColumnThreads::ColumnThreads(unsigned threads)
{
    const unsigned count = threads != 0 ? threads : Cores();
    ins_.resize(count);
    accs_.resize(count);
    for (unsigned t = 0; t < count; ++t)
        workers_.emplace_back(&ColumnThreads::Work, this, t);
}

ColumnThreads::~ColumnThreads()
{
    {
        std::unique_lock lock(mutex_);
        WaitLocked(lock);
        quitting_ = true;
    }
    started_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void ColumnThreads::Start(const std::uint8_t* const* ins, std::size_t bytes, const Factors& factors,
                          std::uint8_t* const* accs)
{
    const std::size_t inputs = factors.Inputs(), count = factors.Count();
    if (bytes % kBlock != 0)
        throw std::invalid_argument("gf16: prepared sizes are whole blocks of 64 bytes");
    {
        std::unique_lock lock(mutex_);
        WaitLocked(lock);
        // Room for each thread's pointers, made here so that no thread
        // allocates.
        for (unsigned t = 0; t < Threads(); ++t) {
            ins_[t].resize(inputs);
            accs_[t].resize(count);
        }
        call_ = {ins, bytes, &factors, accs};
        pending_ = Threads();
        ++generation_;
    }
    started_.notify_all();
}

void ColumnThreads::Wait()
{
    std::unique_lock lock(mutex_);
    WaitLocked(lock);
}

void ColumnThreads::WaitLocked(std::unique_lock<std::mutex>& lock)
{
    finished_.wait(lock, [this] { return pending_ == 0; });
}

void ColumnThreads::Work(unsigned t)
{
    std::uint64_t done = 0;
    for (;;) {
        Call call;
        {
            std::unique_lock lock(mutex_);
            started_.wait(lock, [&] { return quitting_ || generation_ != done; });
            if (quitting_)
                return;
            done = generation_;
            call = call_;
        }
        RunShare(t, call);
        bool last = false;
        {
            const std::lock_guard lock(mutex_);
            last = --pending_ == 0;
        }
        if (last)
            finished_.notify_all();
    }
}

void ColumnThreads::RunShare(unsigned t, const Call& call)
{
    // The blocks as evenly as they go, the first threads taking one more.
    const std::size_t inputs = call.factors->Inputs(), count = call.factors->Count();
    const std::size_t blocks = call.bytes / kBlock, threads = Threads();
    const std::size_t first = blocks / threads * t + std::min<std::size_t>(t, blocks % threads);
    const std::size_t own = blocks / threads + (t < blocks % threads ? 1 : 0);
    if (own == 0 || inputs == 0 || count == 0)
        return;
    // Blocks a range: those of every accumulator within kCached bytes.
    const std::size_t range = std::max<std::size_t>(kLeastRange, kCached / count / kBlock);
    std::vector<const std::uint8_t*>& ins = ins_[t];
    std::vector<std::uint8_t*>& accs = accs_[t];
    for (std::size_t done = 0; done < own; done += range) {
        const std::size_t at = (first + done) * kBlock;
        for (std::size_t i = 0; i < inputs; ++i)
            ins[i] = call.ins[i] + at;
        for (std::size_t j = 0; j < count; ++j)
            accs[j] = call.accs[j] + at;
        MulAddManyInputs(ins.data(), std::min(range, own - done) * kBlock, *call.factors, accs.data());
    }
}

}  // namespace tessera::gf16
