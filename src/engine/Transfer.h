#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "DialogPort.h"
#include "fileio/NFile.h"

namespace tessera::detail {

// a + b for counts >= 0, held at the largest value instead of overflowing.
inline std::int64_t SaturatedAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? INT64_MAX : sum;
}

// What the split and join workers share: the reports to the dialog, the
// transfer buffer and the block cycle. One object per job.
class Job {
public:
    Job(DialogPort& port, std::atomic<bool>& abort) : port_(port), abort_(abort) {}

    bool AbortRequested() const { return abort_.load(); }
    void ClearAbort() { abort_.store(false); }
    void SwitchControls(bool idle);

    // Allocates the transfer buffer once the job total is known.
    bool AllocateBuffer(std::int64_t total);

    enum class Cycle { Copied, ReadFailed, WriteFailed };
    // One block: reads up to `request` bytes, of which `need` (<= request)
    // must arrive; writes and flushes those `need` bytes. Bytes read beyond
    // `need` are not written. A short read returns before anything is
    // written; a short write or failed flush returns at once.
    Cycle RunCycle(NFile& reader, NFile& writer, const std::string& shown, std::uint32_t request, std::uint32_t need);

    // "終了", a full bar, the files closed and the buffer released, then
    // the controls idle. Returns 0.
    int Finish(std::initializer_list<NFile*> files);
    // The failure text, the files closed and the buffer released, then the
    // controls idle; the bar stays. Returns -1.
    int Fail(const std::string& text, std::initializer_list<NFile*> files);

private:
    void Report(const char* format, const std::string& path);
    void ReportProgress();
    void Release(std::initializer_list<NFile*> files);

    DialogPort& port_;
    std::atomic<bool>& abort_;
    std::unique_ptr<char[]> buffer_;
    std::int64_t total_ = 0;
    std::int64_t transferred_ = 0;
};

}  // namespace tessera::detail
