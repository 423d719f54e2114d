#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "JobPort.h"
#include "fileio/NFilePSDK.h"

namespace tessera::detail {

// a + b for counts >= 0, held at the largest value instead of overflowing.
inline std::int64_t SaturatedAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? INT64_MAX : sum;
}

// What the split and join jobs share: the abort flag, the reports to the
// front end, the transfer buffer and the one copy loop. One object per job.
class Transfer {
public:
    Transfer(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings);

    [[nodiscard]] bool AbortRequested() const { return abort_.load(); }
    void ClearAbort() { abort_.store(false); }
    // The front end's running state; the idle switch at the end comes from
    // Finish and Fail.
    void Start();
    [[nodiscard]] JobPort& Port() { return port_; }
    [[nodiscard]] const JobSettings& Settings() const { return settings_; }

    // Allocates the transfer buffer once the job total is known.
    [[nodiscard]] bool AllocateBuffer(std::int64_t total);

    enum class Copy { Done, Aborted, ReadFailed, WriteFailed, CheckFailed };
    // Copies `length` bytes from reader's position to writer's position in
    // blocks, polling abort before each; `shown` names the piece in the
    // status texts. With `wholeReads` every read asks for a whole buffer (a
    // join input is read to its end), else for what the block still needs.
    // Of what a read returns, only what the piece still needs is written. A
    // read that stops short fails before anything of its block is written.
    // The observer sees the piece begin, its bytes and its end.
    [[nodiscard]] Copy CopyPiece(NFilePSDK& reader, NFilePSDK& writer, const std::string& shown, std::int64_t length,
                                 bool wholeReads);

    // How a job ends after a piece that did not complete: an abort as an
    // aborted job ends, with `piece` cut short; a failed read names the
    // reader, a failed write the writer, a refused check the piece.
    JobResult EndAfter(Copy copy, const NFilePSDK& reader, const std::string& readerPath, const NFilePSDK& writer,
                       const std::string& writerPath, const std::string& piece, std::initializer_list<NFile*> files);

    // "終了", a full bar, the files closed and the buffer released, then the
    // front end idle.
    JobResult Finish(std::initializer_list<NFile*> files, std::string cutShort = {});
    // The failure text, the files closed and the buffer released, then the
    // front end idle; the progress stays where it was.
    JobResult Fail(JobFault fault, const std::string& text, const std::string& path, int error,
                   std::initializer_list<NFile*> files);

private:
    Copy CopyBlock(NFilePSDK& reader, NFilePSDK& writer, const std::string& shown, std::uint32_t request,
                   std::uint32_t need);
    [[nodiscard]] bool KernelCopies() const;
    void Report(const char* format, const std::string& path);
    void ReportProgress();
    void Pause() const;
    void Release(std::initializer_list<NFile*> files);

    JobPort& port_;
    std::atomic<bool>& abort_;
    const JobSettings& settings_;
    std::unique_ptr<char[]> buffer_;
    std::int64_t total_ = 0;
    // Each block counts twice: once read, once written.
    std::int64_t transferred_ = 0;
    std::int64_t copied_ = 0;
    bool kernelRefused_ = false;
};

}  // namespace tessera::detail
