#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "Checksums.h"
#include "JobPort.h"
#include "JobRun.h"
#include "fileio/Admission.h"
#include "fileio/FileOpener.h"

namespace tessera {

// Every block of a job passes through one buffer of this size.
inline constexpr std::uint32_t kTransferBufferSize = 16 * 1024 * 1024;

}  // namespace tessera

namespace tessera::detail {

// a + b for counts >= 0, held at the largest value instead of overflowing.
inline std::int64_t SaturatedAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? INT64_MAX : sum;
}

// What the split and join jobs share: the abort flag, the reports to the
// front end, the files, the transfer buffer and the one copy loop. One object
// per job.
class Transfer {
public:
    Transfer(RunReports& reports, const JobSettings& settings);

    [[nodiscard]] bool AbortRequested() const { return abort_.load(); }
    void ClearAbort() { abort_.store(false); }
    // The front end's running state; the run's end (RunReports::End) sends
    // the Ended event and the idle switch once it has committed.
    void Start();
    [[nodiscard]] const JobSettings& Settings() const { return settings_; }

    // Opens a file of the job through the settings' opener, watching the
    // abort flag.
    [[nodiscard]] std::unique_ptr<NFile> Open(const std::string& path, NFilePSDK::Form form) const;
    [[nodiscard]] const FileOpener& Files() const;
    // Admits a file the job reads by its size (AdmitFile) through the
    // settings' file system; file holds it, open and watching the abort
    // flag, once admitted.
    [[nodiscard]] Admission Admit(const std::string& path, std::unique_ptr<NFile>& file) const;
    // The failure a refused admission makes: `open` for a file that cannot
    // be looked up or opened, `notRegular` for one that is no regular file.
    [[nodiscard]] static JobResult Refused(const Admission& admission, const std::string& path, JobFault open,
                                           JobFault notRegular);

    // Allocates the transfer buffer once the job total is known.
    [[nodiscard]] bool AllocateBuffer(std::int64_t total);

    // The threads hashing beside the copy: a failure there stops the copy
    // before its next block (Copy::HashFailed), the progress shown is the
    // slower of the two, and the job's end stops and waits for them.
    void AttachHashing(HashStreams* hashing) { hashing_ = hashing; }
    // Waits for the hashing to end, the progress shown meanwhile. True when
    // every stream ran to its end.
    bool AwaitHashing();
    // The job failed as the hashing's first fault says: a range that could
    // not be read names its file, a digest that differs its piece.
    JobResult FailHashing(const HashStreams& hashing, std::initializer_list<NFile*> files);

    enum class Copy { Done, Aborted, ReadFailed, WriteFailed, CheckFailed, Longer, HashFailed };
    // Copies `length` bytes from reader's position to writer's position in
    // blocks, polling abort before each; `shown` names the piece in the
    // reports. With `wholeReads` every read asks for a whole buffer (a join
    // input is read to its end), else for what the block still needs. Of
    // what a read returns, only what the piece still needs is written. A read
    // that stops short fails before anything of its block is written. With
    // `toTheEnd` the reader must end with the piece: a read of one more byte
    // must find its end (Copy::Longer otherwise). The front end sees the
    // piece begin, its blocks, its bytes if it wants them, and its end.
    // `offset` is where the reader stands, as reported.
    [[nodiscard]] Copy CopyPiece(NFile& reader, NFile& writer, const std::string& shown, std::int64_t offset,
                                 std::int64_t length, bool wholeReads, bool toTheEnd = false);

    // How a job ends after a piece that did not complete: an abort as an
    // aborted job ends, with `piece` cut short; a failed read names the
    // reader, a failed write the writer, a refused check the piece.
    JobResult EndAfter(Copy copy, const NFile& reader, const std::string& readerPath, const NFile& writer,
                       const std::string& writerPath, const std::string& piece, std::int64_t readerSize,
                       std::initializer_list<NFile*> files);

    // Bytes copied so far and the job total, for the run's Ended event.
    [[nodiscard]] std::int64_t Copied() const { return copied_; }
    [[nodiscard]] std::int64_t Total() const { return total_; }

    // A finished or aborted job's result, the hashing stopped, the files
    // closed and the buffer released; the run reports it.
    JobResult Finish(std::initializer_list<NFile*> files, std::string cutShort = {});
    // The same for a failure.
    JobResult Fail(JobResult result, std::initializer_list<NFile*> files);
    JobResult Fail(JobFault fault, const std::string& path, int error, std::initializer_list<NFile*> files);

private:
    Copy CopyBlock(NFile& reader, NFile& writer, const std::string& shown, std::uint32_t request,
                   std::uint32_t need);
    [[nodiscard]] bool KernelCopies() const;
    void Report(JobEvent::Kind kind, const std::string& path);
    void ReportProgress();
    void Pause() const;
    void Release(std::initializer_list<NFile*> files);
    JobResult End(JobResult result, std::initializer_list<NFile*> files);

    RunReports& reports_;
    std::atomic<bool>& abort_;
    const JobSettings& settings_;
    bool wantsBytes_;
    std::unique_ptr<char[]> buffer_;
    std::int64_t total_ = 0;
    // Each block counts twice: once read, once written.
    std::int64_t transferred_ = 0;
    std::int64_t copied_ = 0;
    bool kernelRefused_ = false;
    // The current piece's reader gave more than the piece.
    bool overread_ = false;
    HashStreams* hashing_ = nullptr;
};

}  // namespace tessera::detail
