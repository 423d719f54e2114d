#include "Transfer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <thread>

#include "Progress.h"

namespace tessera {

namespace {

// The window's pace: a pause after every read and after every write.
constexpr auto kPause = std::chrono::milliseconds(100);

}  // namespace

int ProgressPosition(float fraction)
{
    if (fraction > 1.0f)
        fraction = 1.0f;
    if (!(fraction >= 0.0f))  // NaN as well
        fraction = 0.0f;
    return static_cast<int>(fraction * static_cast<float>(kProgressRange));
}

namespace detail {

Transfer::Transfer(RunReports& reports, const JobSettings& settings)
    : reports_(reports), abort_(reports.Abort()), settings_(settings), wantsBytes_(reports.Reporter().WantsBytes())
{
}

void Transfer::Start()
{
    reports_.Start();
}

const FileOpener& Transfer::Files() const
{
    return settings_.files ? *settings_.files : RealFiles();
}

std::unique_ptr<NFile> Transfer::Open(const std::string& path, NFilePSDK::Form form) const
{
    std::unique_ptr<NFile> file = Files().Open(path, form);
    // A pipe or device that gives or takes nothing more gives up when the
    // job is aborted.
    file->WatchAbort(&abort_);
    return file;
}

Admission Transfer::Admit(const std::string& path, std::unique_ptr<NFile>& file) const
{
    const Admission admission = AdmitFile(path, Files(), &file);
    if (file)
        file->WatchAbort(&abort_);
    return admission;
}

JobResult Transfer::Refused(const Admission& admission, const std::string& path, JobFault open, JobFault notRegular)
{
    JobResult result;
    result.path = path;
    result.error = admission.Errno();
    switch (admission.refusal) {
    case Admission::Refusal::None:
    case Admission::Refusal::NotFound:
    case Admission::Refusal::Open: result.fault = open; break;
    case Admission::Refusal::NotRegular:
        result.fault = notRegular;
        result.fileType = admission.type;
        break;
    case Admission::Refusal::LongerThanSize:
        result.fault = JobFault::LongerThanSize;
        result.size = admission.size;
        break;
    case Admission::Refusal::Read: result.fault = JobFault::Read; break;
    }
    return result;
}

bool Transfer::AllocateBuffer(std::int64_t total)
{
    total_ = total;
    transferred_ = 0;
    copied_ = 0;
    buffer_.reset(new (std::nothrow) char[kTransferBufferSize]);
    return buffer_ != nullptr;
}

bool Transfer::KernelCopies() const
{
    return settings_.kernelCopy && !kernelRefused_ && !wantsBytes_;
}

void Transfer::Report(JobEvent::Kind kind, const std::string& path)
{
    JobEvent event;
    event.kind = kind;
    event.path = path;
    reports_.Send(event);
}

void Transfer::ReportProgress()
{
    // 2 * total in single precision; doubling in float is exact and cannot
    // overflow as the 64-bit product could.
    const float denominator = 2.0f * static_cast<float>(total_);
    std::int64_t transferred = transferred_;
    if (hashing_)
        transferred = std::min(transferred, 2 * hashing_->Done());
    const float fraction = static_cast<float>(static_cast<double>(transferred) / denominator);
    reports_.Progress(ProgressPosition(fraction), hashing_ ? std::min(copied_, hashing_->Done()) : copied_, total_);
}

bool Transfer::AwaitHashing()
{
    if (!hashing_)
        return true;
    hashing_->Wait([this] { ReportProgress(); });
    return hashing_->Complete();
}

JobResult Transfer::FailHashing(const HashStreams& hashing, std::initializer_list<NFile*> files)
{
    const HashFault fault = hashing.FirstFault();
    const std::string path = fault.index < hashing.Ranges().size() ? hashing.Ranges()[fault.index].path : std::string();
    if (fault.mismatch)
        return Fail(JobFault::Check, path, 0, files);
    return Fail(JobFault::Read, path, fault.error, files);
}

void Transfer::Pause() const
{
    if (settings_.pace)
        std::this_thread::sleep_for(kPause);
}

Transfer::Copy Transfer::CopyPiece(NFile& reader, NFile& writer, const std::string& shown, std::int64_t offset,
                                   std::int64_t length, bool wholeReads, bool toTheEnd)
{
    const auto cacheUse = settings_.streamingCache ? NFile::CacheUse::Streaming : NFile::CacheUse::Cached;
    reader.SetCacheUse(cacheUse);
    writer.SetCacheUse(cacheUse);
    JobEvent begun;
    begun.kind = JobEvent::Kind::PieceBegun;
    begun.path = shown;
    begun.offset = offset;
    begun.size = length;
    reports_.Send(begun);
    std::int64_t done = 0;
    overread_ = false;
    while (done < length) {
        if (AbortRequested())
            return Copy::Aborted;
        if (hashing_ && hashing_->Failed())
            return Copy::HashFailed;
        const auto need = static_cast<std::uint32_t>(std::min<std::int64_t>(length - done, kTransferBufferSize));
        const Copy copy = CopyBlock(reader, writer, shown, wholeReads ? kTransferBufferSize : need, need);
        if (copy != Copy::Done)
            return copy;
        done += need;
    }
    if (toTheEnd) {
        // A file whose size is not its length (a /proc file, one that grew
        // since it was sized) would be copied short without a word.
        char extra;
        if (overread_ || reader.Read(&extra, 1) != 0)
            return Copy::Longer;
        if (reader.LastError() != 0)
            return reader.LastError() == ECANCELED ? Copy::Aborted : Copy::ReadFailed;
    }
    JobEvent ended;
    ended.kind = JobEvent::Kind::PieceEnded;
    ended.path = shown;
    if (!reports_.Send(ended))
        return Copy::CheckFailed;
    return Copy::Done;
}

Transfer::Copy Transfer::CopyBlock(NFile& reader, NFile& writer, const std::string& shown, std::uint32_t request,
                                   std::uint32_t need)
{
    Report(JobEvent::Kind::Reading, shown);
    ReportProgress();
    // What the kernel copied is already written; the buffer takes the rest.
    std::uint32_t inKernel = 0;
    if (KernelCopies()) {
        const std::int64_t n = reader.CopyTo(writer, need);
        if (n < 0)
            kernelRefused_ = true;
        else
            inKernel = static_cast<std::uint32_t>(n);
    }
    const std::uint32_t rest = need - inKernel;
    if (rest > 0) {
        const std::uint32_t got = reader.Read(buffer_.get(), request - inKernel);
        if (got < rest)
            return reader.LastError() == ECANCELED ? Copy::Aborted : Copy::ReadFailed;
        // A whole read that brought more than the piece still needed found
        // the reader longer than its size.
        overread_ = overread_ || got > rest;
    }
    Pause();
    transferred_ += need;

    Report(JobEvent::Kind::Writing, shown);
    ReportProgress();
    if (rest > 0) {
        if (wantsBytes_) {
            JobEvent bytes;
            bytes.kind = JobEvent::Kind::Bytes;
            bytes.path = shown;
            bytes.data = buffer_.get();
            bytes.count = rest;
            reports_.Send(bytes);
        }
        if (writer.Write(buffer_.get(), rest) != rest)
            return writer.LastError() == ECANCELED ? Copy::Aborted : Copy::WriteFailed;
    }
    if (settings_.flushEveryBlock && !writer.Flush())
        return Copy::WriteFailed;
    Pause();
    transferred_ += need;
    copied_ += need;
    return Copy::Done;
}

void Transfer::Release(std::initializer_list<NFile*> files)
{
    buffer_.reset();
    for (NFile* f : files) {
        if (f)
            f->Close();
    }
}

JobResult Transfer::End(JobResult result, std::initializer_list<NFile*> files)
{
    // No thread of the job outlives it.
    if (hashing_) {
        hashing_->Stop();
        hashing_->Wait();
        hashing_ = nullptr;
    }
    // Files are closed before the front end is idle again, so a job started
    // at once finds them unlocked.
    Release(files);
    return result;
}

JobResult Transfer::Finish(std::initializer_list<NFile*> files, std::string cutShort)
{
    JobResult result;
    result.end = AbortRequested() ? JobEnd::Aborted : JobEnd::Finished;
    result.path = cutShort;
    result.cutShort = std::move(cutShort);
    return End(std::move(result), files);
}

JobResult Transfer::EndAfter(Copy copy, const NFile& reader, const std::string& readerPath, const NFile& writer,
                             const std::string& writerPath, const std::string& piece, std::int64_t readerSize,
                             std::initializer_list<NFile*> files)
{
    JobResult result;
    switch (copy) {
    case Copy::Done:
    case Copy::Aborted: return Finish(files, piece);
    case Copy::ReadFailed: result = Fail(JobFault::Read, readerPath, reader.LastError(), files); break;
    case Copy::WriteFailed: result = Fail(JobFault::Write, writerPath, writer.LastError(), files); break;
    case Copy::CheckFailed: result = Fail(JobFault::Check, piece, 0, files); break;
    case Copy::HashFailed: result = FailHashing(*hashing_, files); break;
    case Copy::Longer:
        result.fault = JobFault::LongerThanSize;
        result.path = readerPath;
        result.size = readerSize;
        result = Fail(std::move(result), files);
        break;
    }
    result.cutShort = piece;
    return result;
}

JobResult Transfer::Fail(JobResult result, std::initializer_list<NFile*> files)
{
    result.end = JobEnd::Failed;
    return End(std::move(result), files);
}

JobResult Transfer::Fail(JobFault fault, const std::string& path, int error, std::initializer_list<NFile*> files)
{
    JobResult result;
    result.fault = fault;
    result.path = path;
    result.error = error;
    return Fail(std::move(result), files);
}

}  // namespace detail
}  // namespace tessera
