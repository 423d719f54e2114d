#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/JoinRun.h"
#include "engine/ListedJobPort.h"
#include "engine/SplitRun.h"
#include "ui/StatusTexts.h"

namespace tessera::test {

// A front end without widgets: serves the job's paths and lines, records
// what the job reports as the window's status line and bar would show it, and
// every event. Safe to read from the test's thread while a job runs.
class FakeJobPort : public ListedJobPort {
public:
    // Called on the job's thread after each status text is recorded.
    std::function<void(const std::string&)> onStatus;
    // Called on the job's thread for every event; its result is the port's
    // answer (a refused PieceEnded fails the job).
    std::function<bool(const JobEvent&)> onEvent;
    bool wantsBytes = false;
    // Called on the job's thread when it switches to running (true) and back.
    std::function<void(bool running)> onRunning;

    [[nodiscard]] bool WantsBytes() const override { return wantsBytes; }
    bool Report(const JobEvent& event) override
    {
        using Kind = JobEvent::Kind;
        switch (event.kind) {
        case Kind::Reading:
        case Kind::Writing: SetStatus(BlockStatusText(event.kind, event.path)); break;
        case Kind::Progress: SetProgress(event.position); break;
        case Kind::Ended:
            {
                std::lock_guard lock(mutex_);
                result_ = *event.result;
            }
            SetStatus(EndStatusText(*event.result));
            if (event.result->end != JobEnd::Failed)
                SetProgress(event.position);
            break;
        default: break;
        }
        {
            std::lock_guard lock(mutex_);
            kinds_.push_back(event.kind);
        }
        return onEvent ? onEvent(event) : true;
    }
    void SetStatus(const std::string& text)
    {
        {
            std::lock_guard lock(mutex_);
            statuses_.push_back(text);
        }
        if (onStatus)
            onStatus(text);
    }
    void SetProgress(int position)
    {
        std::lock_guard lock(mutex_);
        progress_.push_back(position);
    }
    // The result the Ended event carried.
    JobResult Ended() const
    {
        std::lock_guard lock(mutex_);
        return result_;
    }
    std::vector<JobEvent::Kind> Kinds() const
    {
        std::lock_guard lock(mutex_);
        return kinds_;
    }
    void SetRunning(bool running) override
    {
        {
            std::lock_guard lock(mutex_);
            switches_.push_back(!running);
        }
        if (onRunning)
            onRunning(running);
    }

    std::vector<std::string> Statuses() const
    {
        std::lock_guard lock(mutex_);
        return statuses_;
    }
    std::string LastStatus() const
    {
        std::lock_guard lock(mutex_);
        return statuses_.empty() ? std::string() : statuses_.back();
    }
    std::vector<int> Progress() const
    {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    // Every switch made so far, as running (false) / idle (true).
    std::vector<bool> Switches() const
    {
        std::lock_guard lock(mutex_);
        return switches_;
    }
    int Count(const std::string& status) const
    {
        int n = 0;
        for (const auto& s : Statuses())
            n += s == status;
        return n;
    }
private:
    mutable std::mutex mutex_;
    std::vector<std::string> statuses_;
    std::vector<JobEvent::Kind> kinds_;
    JobResult result_;
    std::vector<int> progress_;
    std::vector<bool> switches_;
};

// The split or join the port's fields describe, run on this thread.
inline JobResult RunSplitOf(FakeJobPort& port, std::atomic<bool>& abort, SplitRequest rest = {})
{
    return RunSplit(SplitRequestFrom(port, std::move(rest)), port, abort);
}
inline JobResult RunJoinOf(FakeJobPort& port, std::atomic<bool>& abort, JoinRequest rest = {})
{
    return RunJoin(JoinRequestFrom(port, std::move(rest)), port, abort);
}

inline std::string Reading(const std::string& path) { return std::string("読込中 ") + path; }
inline std::string Writing(const std::string& path) { return std::string("書込中 ") + path; }

}  // namespace tessera::test
