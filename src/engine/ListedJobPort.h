#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "JobPort.h"

namespace tessera {

// A job given as lists held in memory: what the command line, the tests and
// the benchmarks run. It shows nothing; a front end that shows the job
// overrides Report.
class ListedJobPort : public JobPort {
public:
    std::string source;
    std::vector<SplitEntry> plan;
    std::string destination;
    std::vector<std::string> inputs;

    std::string SourcePath() override { return source; }
    std::size_t PlanEntryCount() override { return plan.size(); }
    std::vector<SplitEntry> PlanEntries(std::size_t first, std::size_t count) override
    {
        return Slice(plan, first, count);
    }
    std::string DestinationPath() override { return destination; }
    std::size_t InputCount() override { return inputs.size(); }
    std::vector<std::string> Inputs(std::size_t first, std::size_t count) override
    {
        return Slice(inputs, first, count);
    }
    bool Report(const JobEvent&) override { return true; }
    void SetRunning(bool) override {}

private:
    // Items [first, first + count) of all, fewer at its end.
    template <typename Item>
    static std::vector<Item> Slice(const std::vector<Item>& all, std::size_t first, std::size_t count)
    {
        if (first >= all.size())
            return {};
        const std::size_t end = first + std::min(count, all.size() - first);
        return {all.begin() + static_cast<std::ptrdiff_t>(first), all.begin() + static_cast<std::ptrdiff_t>(end)};
    }
};

}  // namespace tessera
