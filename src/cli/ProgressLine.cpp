#include "ProgressLine.h"

#include <algorithm>
#include <cmath>

namespace tessera::cli {

std::string FormatProgress(std::int64_t done, std::int64_t total, double seconds)
{
    const double fraction = total > 0 ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0) : 1.0;
    char text[96];
    int n = std::snprintf(text, sizeof text, "%4d%%", static_cast<int>(fraction * 100.0));
    if (seconds >= 0.05 && done > 0) {
        const double speed = static_cast<double>(done) / seconds;
        static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
        double shown = speed;
        int unit = 0;
        while (shown >= 1024.0 && unit < 4) {
            shown /= 1024.0;
            ++unit;
        }
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "  %.1f %s/s", shown, kUnits[unit]);
        const double left = static_cast<double>(std::max<std::int64_t>(total - done, 0)) / speed;
        if (std::isfinite(left) && left < 360000.0) {
            // Whole seconds, rounded up (in integers: no libm to load at start).
            auto secs = static_cast<long>(left);
            secs += static_cast<double>(secs) < left ? 1 : 0;
            if (secs >= 3600)
                std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "  %ld:%02ld:%02ld left", secs / 3600,
                              secs / 60 % 60, secs % 60);
            else
                std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "  %ld:%02ld left", secs / 60, secs % 60);
        }
    }
    return text;
}

ProgressLine::ProgressLine(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}

ProgressLine::~ProgressLine()
{
    Clear();
}

void ProgressLine::Update(std::int64_t done, std::int64_t total)
{
    if (!enabled_)
        return;
    const Clock::time_point now = Clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100) && done < total)
        return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stream_, "\r\033[K%s", FormatProgress(done, total, seconds).c_str());
    std::fflush(stream_);
    shown_ = true;
}

void ProgressLine::Clear()
{
    if (!shown_)
        return;
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
    shown_ = false;
}

}  // namespace tessera::cli
