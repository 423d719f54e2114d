#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/kernels/Gf16.h"

// gf16::MulAddManyInputs on every core: each call's columns are split
// between the threads (each a whole number of blocks), so that each thread
// keeps its own columns of the accumulators and no two write the same bytes.
// Each thread goes through its columns a range at a time, narrow enough that
// that range of every accumulator stays in the core's cache while all the
// inputs are added into it. A call runs while its caller goes on (reading
// the next inputs, making their factors) until it waits for it.
namespace tessera::gf16 {

class ColumnThreads {
public:
    // threads: how many (0: one per core this process may run on); the
    // caller's own thread only starts and waits.
    explicit ColumnThreads(unsigned threads = 0);
    ~ColumnThreads();
    ColumnThreads(const ColumnThreads&) = delete;
    ColumnThreads& operator=(const ColumnThreads&) = delete;

    [[nodiscard]] unsigned Threads() const { return static_cast<unsigned>(workers_.size()); }

    // Starts MulAddManyInputs(ins, bytes, factors, accs) (see Gf16.h), its
    // columns split between the threads, and returns at once: the arrays,
    // the factors and what they point to stay as they are until Wait. One
    // call at a time: Start waits for the one before.
    void Start(const std::uint8_t* const* ins, std::size_t bytes, const Factors& factors, std::uint8_t* const* accs);
    // Waits until the call started is done.
    void Wait();

private:
    struct Call {
        const std::uint8_t* const* ins = nullptr;
        std::size_t bytes = 0;
        const Factors* factors = nullptr;
        std::uint8_t* const* accs = nullptr;
    };
    // Thread t's share of the call: its columns, with pointers of its own.
    void RunShare(unsigned t, const Call& call);
    void Work(unsigned t);
    void WaitLocked(std::unique_lock<std::mutex>& lock);

    std::vector<std::thread> workers_;
    // Each thread's pointers into its columns, inputs then accumulators.
    std::vector<std::vector<const std::uint8_t*>> ins_;
    std::vector<std::vector<std::uint8_t*>> accs_;
    std::mutex mutex_;
    std::condition_variable started_, finished_;
    Call call_;
    std::uint64_t generation_ = 0;  // of the call started last
    unsigned pending_ = 0;          // threads still on it
    bool quitting_ = false;
};

}  // namespace tessera::gf16
