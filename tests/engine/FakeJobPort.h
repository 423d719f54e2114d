#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/DialogPort.h"
#include "engine/Job.h"

namespace tessera::test {

// A dialog without widgets: serves field texts and list lines, records what a
// worker reports. Safe to read from the test's thread while a job runs.
class FakeDialogPort : public DialogPort {
public:
    std::array<std::string, kEditCount> fields;
    std::array<std::vector<std::string>, kListCount> lists;
    // Called on the worker's thread after each status text is recorded.
    std::function<void(const std::string&)> onStatus;

    std::string FieldText(int edit) override
    {
        std::lock_guard lock(mutex_);
        ++fieldReads_;
        return fields[edit];
    }
    int ListCount(int list) override { return static_cast<int>(lists[list].size()); }
    std::string ListLine(int list, int index) override { return lists[list][index]; }
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
    void ApplyControlStates(const ControlStates& states) override
    {
        std::lock_guard lock(mutex_);
        states_.push_back(states);
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
    std::vector<ControlStates> States() const
    {
        std::lock_guard lock(mutex_);
        return states_;
    }
    // Every switch made so far, as running (false) / idle (true).
    std::vector<bool> Switches() const
    {
        std::vector<bool> out;
        for (const auto& s : States())
            out.push_back(s == ControlStatesFor(true));
        return out;
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
    int fieldReads_ = 0;
    std::vector<std::string> statuses_;
    std::vector<int> progress_;
    std::vector<ControlStates> states_;
};

inline std::string Reading(const std::string& path) { return std::string("読込中 ") + path; }
inline std::string Writing(const std::string& path) { return std::string("書込中 ") + path; }

}  // namespace tessera::test
