#include "Transfer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <thread>

#include <boost/format.hpp>

#include "Jobs.h"
#include "Progress.h"
#include "StatusTexts.h"

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

Transfer::Transfer(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings)
    : port_(port), abort_(abort), settings_(settings)
{
}

void Transfer::Start()
{
    port_.SetRunning(true);
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
    return settings_.kernelCopy && !kernelRefused_ && !(settings_.observer && settings_.observer->WantsBytes());
}

void Transfer::Report(const char* format, const std::string& path)
{
    port_.SetStatus((boost::format(format) % path).str());
}

void Transfer::ReportProgress()
{
    // 2 * total in single precision; doubling in float is exact and cannot
    // overflow as the 64-bit product could.
    const float denominator = 2.0f * static_cast<float>(total_);
    const float fraction = static_cast<float>(static_cast<double>(transferred_) / denominator);
    port_.SetProgress(ProgressPosition(fraction));
}

void Transfer::Pause() const
{
    if (settings_.pace)
        std::this_thread::sleep_for(kPause);
}

Transfer::Copy Transfer::CopyPiece(NFilePSDK& reader, NFilePSDK& writer, const std::string& shown,
                                   std::int64_t length, bool wholeReads)
{
    const auto cacheUse = settings_.streamingCache ? NFilePSDK::CacheUse::Streaming : NFilePSDK::CacheUse::Cached;
    reader.SetCacheUse(cacheUse);
    writer.SetCacheUse(cacheUse);
    JobObserver* observer = settings_.observer;
    if (observer)
        observer->Begin(shown, length);
    std::int64_t done = 0;
    while (done < length) {
        if (AbortRequested())
            return Copy::Aborted;
        const auto need = static_cast<std::uint32_t>(std::min<std::int64_t>(length - done, kTransferBufferSize));
        const Copy copy = CopyBlock(reader, writer, shown, wholeReads ? kTransferBufferSize : need, need);
        if (copy != Copy::Done)
            return copy;
        done += need;
    }
    if (observer && !observer->End(shown))
        return Copy::CheckFailed;
    return Copy::Done;
}

Transfer::Copy Transfer::CopyBlock(NFilePSDK& reader, NFilePSDK& writer, const std::string& shown,
                                   std::uint32_t request, std::uint32_t need)
{
    Report(kStatusReading, shown);
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
    }
    Pause();
    transferred_ += need;

    Report(kStatusWriting, shown);
    ReportProgress();
    if (rest > 0) {
        if (settings_.observer)
            settings_.observer->Bytes(buffer_.get(), rest);
        if (writer.Write(buffer_.get(), rest) != rest)
            return writer.LastError() == ECANCELED ? Copy::Aborted : Copy::WriteFailed;
    }
    if (settings_.flushEveryBlock && !writer.Flush())
        return Copy::WriteFailed;
    Pause();
    transferred_ += need;
    copied_ += need;
    if (settings_.observer)
        settings_.observer->Copied(copied_, total_);
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

JobResult Transfer::Finish(std::initializer_list<NFile*> files, std::string cutShort)
{
    port_.SetStatus(kStatusFinished);
    port_.SetProgress(ProgressPosition(1.0f));
    // Files are closed before the front end is idle again, so a job started
    // at once finds them unlocked.
    Release(files);
    port_.SetRunning(false);
    JobResult result;
    result.end = AbortRequested() ? JobEnd::Aborted : JobEnd::Finished;
    result.path = std::move(cutShort);
    return result;
}

JobResult Transfer::EndAfter(Copy copy, const NFilePSDK& reader, const std::string& readerPath,
                             const NFilePSDK& writer, const std::string& writerPath, const std::string& piece,
                             std::initializer_list<NFile*> files)
{
    switch (copy) {
    case Copy::Done:
    case Copy::Aborted: break;
    case Copy::ReadFailed:
        return Fail(JobFault::Read, kStatusReadFailed + readerPath, readerPath, reader.LastError(), files);
    case Copy::WriteFailed:
        return Fail(JobFault::Write, kStatusWriteFailed + writerPath, writerPath, writer.LastError(), files);
    case Copy::CheckFailed: return Fail(JobFault::Check, kStatusCheckFailed + piece, piece, 0, files);
    }
    return Finish(files, piece);
}

JobResult Transfer::Fail(JobFault fault, const std::string& text, const std::string& path, int error,
                         std::initializer_list<NFile*> files)
{
    port_.SetStatus(text);
    Release(files);
    port_.SetRunning(false);
    JobResult result;
    result.end = JobEnd::Failed;
    result.fault = fault;
    result.path = path;
    result.error = error;
    return result;
}

}  // namespace detail
}  // namespace tessera
