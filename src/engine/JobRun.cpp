#include "JobRun.h"

#include "Progress.h"

namespace tessera {

RunReports::~RunReports()
{
    if (started_ && !ended_)
        reporter_.SetRunning(false);
}

void RunReports::Start()
{
    if (started_)
        return;
    started_ = true;
    reporter_.SetRunning(true);
}

void RunReports::Progress(int position, std::int64_t done, std::int64_t total)
{
    JobEvent event;
    event.kind = JobEvent::Kind::Progress;
    event.position = position;
    event.done = done;
    event.total = total;
    reporter_.Report(event);
}

void RunReports::Progress(std::int64_t done, std::int64_t total)
{
    const float fraction =
        total > 0 ? static_cast<float>(static_cast<double>(done) / static_cast<double>(total)) : 1.0f;
    Progress(ProgressPosition(fraction), done, total);
}

void RunReports::Verdict(FileVerdict verdict, std::string_view path, std::size_t count, std::string_view other,
                         int error)
{
    JobEvent event;
    event.kind = JobEvent::Kind::Verdict;
    event.verdict = verdict;
    event.path = path;
    event.count = count;
    event.other = other;
    event.error = error;
    reporter_.Report(event);
}

void RunReports::Note(JobNote note, std::string_view path)
{
    JobEvent event;
    event.kind = JobEvent::Kind::Note;
    event.note = note;
    event.path = path;
    reporter_.Report(event);
}

bool RunReports::Send(const JobEvent& event)
{
    return reporter_.Report(event);
}

JobResult RunReports::End(JobResult result, std::int64_t done, std::int64_t total)
{
    if (result.end == JobEnd::NotStarted || ended_)
        return result;
    ended_ = true;
    JobEvent event;
    event.kind = JobEvent::Kind::Ended;
    event.result = &result;
    event.position = result.end == JobEnd::Failed ? -1 : ProgressPosition(1.0f);
    event.done = done;
    event.total = total;
    reporter_.Report(event);
    if (started_)
        reporter_.SetRunning(false);
    return result;
}

}  // namespace tessera
