#include "Job.h"

#include <chrono>
#include <new>
#include <thread>

#include <boost/format.hpp>

#include "Transfer.h"

namespace tessera {

namespace {

// An edit is enabled when its entry is 1 and the dialog is idle.
constexpr bool kEditTable[kEditCount] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
// A button is enabled when its entry differs from the idle bit: only Abort
// runs against the rest.
constexpr bool kButtonTable[kButtonCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};

// The program's pace: a pause after every read and after every write.
constexpr auto kPause = std::chrono::milliseconds(100);

}  // namespace

ControlStates ControlStatesFor(bool idle)
{
    ControlStates states;
    for (int i = 0; i < kButtonCount; ++i)
        states.buttons[i] = kButtonTable[i] != idle;
    for (int i = 0; i < kEditCount; ++i)
        states.edits[i] = kEditTable[i] && idle;
    for (int i = 0; i < kListCount; ++i)
        states.lists[i] = idle;
    return states;
}

int ProgressPosition(float fraction)
{
    if (fraction > 1.0f)
        fraction = 1.0f;
    if (!(fraction >= 0.0f))  // NaN as well
        fraction = 0.0f;
    return static_cast<int>(fraction * 65536.0f);
}

namespace detail {

void Job::SwitchControls(bool idle)
{
    port_.ApplyControlStates(ControlStatesFor(idle));
}

bool Job::AllocateBuffer(std::int64_t total)
{
    total_ = total;
    transferred_ = 0;
    buffer_.reset(new (std::nothrow) char[kTransferBufferSize]);
    return buffer_ != nullptr;
}

void Job::Report(const char* format, const std::string& path)
{
    port_.SetStatus((boost::format(format) % path).str());
}

void Job::ReportProgress()
{
    // 2 * total in single precision; doubling in float is exact and cannot
    // overflow as the 64-bit product could.
    const float denominator = 2.0f * static_cast<float>(total_);
    const float fraction = static_cast<float>(static_cast<double>(transferred_) / denominator);
    port_.SetProgress(ProgressPosition(fraction));
}

Job::Cycle Job::RunCycle(NFile& reader, NFile& writer, const std::string& shown, std::uint32_t request,
                         std::uint32_t need)
{
    Report(kStatusReading, shown);
    ReportProgress();
    const std::uint32_t got = reader.Read(buffer_.get(), request);
    if (got < need)
        return Cycle::ReadFailed;
    std::this_thread::sleep_for(kPause);
    transferred_ += need;

    Report(kStatusWriting, shown);
    ReportProgress();
    if (writer.Write(buffer_.get(), need) != need || !writer.Flush())
        return Cycle::WriteFailed;
    std::this_thread::sleep_for(kPause);
    transferred_ += need;
    return Cycle::Copied;
}

void Job::Release(std::initializer_list<NFile*> files)
{
    buffer_.reset();
    for (NFile* f : files) {
        if (f)
            f->Close();
    }
}

int Job::Finish(std::initializer_list<NFile*> files)
{
    port_.SetStatus(kStatusFinished);
    port_.SetProgress(ProgressPosition(1.0f));
    // Files are closed before the controls come back, so a job started at
    // once finds them unlocked.
    Release(files);
    SwitchControls(true);
    return 0;
}

int Job::Fail(const std::string& text, std::initializer_list<NFile*> files)
{
    port_.SetStatus(text);
    Release(files);
    SwitchControls(true);
    return -1;
}

}  // namespace detail
}  // namespace tessera
