#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tessera::cli {

// "  42%  812.5 MiB/s  0:03 left": percent done, the mean speed so far and the
// time left at that speed. The speed and the time are left out until a
// measurable time has passed; total 0 counts as done.
[[nodiscard]] std::string FormatProgress(std::int64_t done, std::int64_t total, double seconds);

// A progress line rewritten in place on a terminal, at most ten times a
// second. Silent unless enabled (stderr is a terminal and not --quiet).
class ProgressLine {
public:
    ProgressLine(std::FILE* stream, bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(std::int64_t done, std::int64_t total);
    // Removes the line, so that a message or the prompt starts on a clean line.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* stream_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point last_{};
};

}  // namespace tessera::cli
