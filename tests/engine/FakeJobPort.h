#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/JobPort.h"

namespace tessera::test {

// A front end without widgets: serves the job's paths and lines, records
// what the job reports. Safe to read from the test's thread while a job runs.
class FakeJobPort : public JobPort {
public:
    std::string source;
    std::vector<std::string> plan;
    std::string destination;
    std::vector<std::string> inputs;
    // Called on the job's thread after each status text is recorded.
    std::function<void(const std::string&)> onStatus;
    // Called on the job's thread before each batch of lines is served.
    std::function<void(std::size_t first)> onBatch;

    std::string SourcePath() override { return source; }
    std::size_t PlanLineCount() override { return plan.size(); }
    std::vector<std::string> PlanLines(std::size_t first, std::size_t count) override
    {
        return Batch(plan, first, count);
    }
    std::string DestinationPath() override { return destination; }
    std::size_t InputCount() override { return inputs.size(); }
    std::vector<std::string> Inputs(std::size_t first, std::size_t count) override
    {
        return Batch(inputs, first, count);
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
    std::vector<std::string> Batch(const std::vector<std::string>& lines, std::size_t first, std::size_t count)
    {
        {
            std::lock_guard lock(mutex_);
            ++batches_;
        }
        if (onBatch)
            onBatch(first);
        if (first >= lines.size())
            return {};
        const std::size_t last = std::min(lines.size(), first + count);
        return {lines.begin() + static_cast<std::ptrdiff_t>(first), lines.begin() + static_cast<std::ptrdiff_t>(last)};
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
