#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "DialogPort.h"

namespace tessera {

// The progress bar's range is 0 to kProgressRange.
inline constexpr int kProgressRange = 0x10000;

// Every block of a job passes through one buffer of this size.
inline constexpr std::uint32_t kTransferBufferSize = 16 * 1024 * 1024;

// Status line texts.
inline constexpr const char* kStatusReading = "読込中 %1%";
inline constexpr const char* kStatusWriting = "書込中 %1%";
inline constexpr const char* kStatusFinished = "終了";
inline constexpr const char* kStatusAborted = "中止";
inline constexpr const char* kStatusCreateFailed = "ファイルの作成に失敗 : ";
inline constexpr const char* kStatusReadFailed = "ファイルの読込に失敗 : ";
inline constexpr const char* kStatusWriteFailed = "ファイルの書込に失敗 : ";
inline constexpr const char* kStatusOpenFailed = "ファイルのオープンに失敗 : ";
inline constexpr const char* kStatusNoMemory = "メモリの確保に失敗";
inline constexpr const char* kStatusDestinationListed = "結合先ファイルが結合リストに含まれています : ";

// Enable states of the controls while idle (true) or while a job runs (false).
[[nodiscard]] ControlStates ControlStatesFor(bool idle);

// The progress bar position for a fraction of the job: clamped to [0, 1],
// times kProgressRange, truncated.
[[nodiscard]] int ProgressPosition(float fraction);

// The worker procedures. Each reads its inputs through port, polls abort before
// every entry or input and every block, and reports through port only.
// Result: 0 when the job ran to its end (completed or aborted), -1 for an early
// stop. The split job returns at once, changing nothing, when the source is no
// regular file.
int RunSplitJob(DialogPort& port, std::atomic<bool>& abort);
int RunJoinJob(DialogPort& port, std::atomic<bool>& abort);

// The lowest free part file name source + ".000" to ".999", empty when all
// are taken.
[[nodiscard]] std::string ProbeOutputName(const std::string& source);

}  // namespace tessera
