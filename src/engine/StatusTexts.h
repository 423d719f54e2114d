#pragma once

namespace tessera {

// The texts a job shows in its status line. %1% is a path.
inline constexpr const char* kStatusReading = "読込中 %1%";
inline constexpr const char* kStatusWriting = "書込中 %1%";
inline constexpr const char* kStatusFinished = "終了";
inline constexpr const char* kStatusAborted = "中止";
// The failures below are followed directly by the path they concern.
inline constexpr const char* kStatusCreateFailed = "ファイルの作成に失敗 : ";
inline constexpr const char* kStatusReadFailed = "ファイルの読込に失敗 : ";
inline constexpr const char* kStatusWriteFailed = "ファイルの書込に失敗 : ";
inline constexpr const char* kStatusOpenFailed = "ファイルのオープンに失敗 : ";
inline constexpr const char* kStatusCheckFailed = "ファイルの照合に失敗 : ";
inline constexpr const char* kStatusNoMemory = "メモリの確保に失敗";
inline constexpr const char* kStatusDestinationListed = "結合先ファイルが結合リストに含まれています : ";

}  // namespace tessera
