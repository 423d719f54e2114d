#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/ListedJobPort.h"

namespace tessera::test {

// A front end without widgets: serves the job's paths and lines, records
// what the job reports. Safe to read from the test's thread while a job runs.
class FakeJobPort : public ListedJobPort {
public:
    // Called on the job's thread after each status text is recorded.
    std::function<void(const std::string&)> onStatus;
    // Called on the job's thread before each batch of lines is served.
    std::function<void(std::size_t first)> onBatch;

    std::vector<std::string> PlanLines(std::size_t first, std::size_t count) override
    {
        Served(first);
        return ListedJobPort::PlanLines(first, count);
    }
    std::vector<std::string> Inputs(std::size_t first, std::size_t count) override
    {
        Served(first);
        return ListedJobPort::Inputs(first, count);
    }
    void SetStatus(const std::string& text) override
    {
        {
            std::lock_guard lock(mutex_);
            statuses_.push_back(text);
        }
        if (onStatus)
            onStatus(text);
    }
    void SetProgress(int position) override
    {
        std::lock_guard lock(mutex_);
        progress_.push_back(position);
    }
    void SetRunning(bool running) override
    {
        std::lock_guard lock(mutex_);
        switches_.push_back(!running);
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
    // How many batches of lines the job asked for.
    int Batches() const
    {
        std::lock_guard lock(mutex_);
        return batches_;
    }

private:
    void Served(std::size_t first)
    {
        {
            std::lock_guard lock(mutex_);
            ++batches_;
        }
        if (onBatch)
            onBatch(first);
    }

    mutable std::mutex mutex_;
    int batches_ = 0;
    std::vector<std::string> statuses_;
    std::vector<int> progress_;
    std::vector<bool> switches_;
};

inline std::string Reading(const std::string& path) { return std::string("読込中 ") + path; }
inline std::string Writing(const std::string& path) { return std::string("書込中 ") + path; }

}  // namespace tessera::test
