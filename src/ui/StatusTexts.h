#pragma once

#include <string>
#include <string_view>

#include <sys/stat.h>

#include "engine/JobPort.h"

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
// Added after the texts above for a join checked against a checksum file, and
// for a checksum file a split could not take.
inline constexpr const char* kStatusChecksumsMatched = " (チェックサム一致)";
inline constexpr const char* kStatusPartMismatch = " (チェックサムが一致しません : ";
inline constexpr const char* kStatusJoinedMismatch = " (結合結果が元ファイルのチェックサムと一致しません : ";
inline constexpr const char* kStatusChecksumFileExists = " (チェックサムファイルが既にあります)";
inline constexpr const char* kStatusChecksumFileIsSource = " (チェックサムファイル名が分割元ファイルを指しています)";
inline constexpr const char* kStatusNoSha256 = " (SHA-256 を計算するライブラリがありません)";

// "読込中 " or "書込中 " and the path, for a block being read or written.
[[nodiscard]] inline std::string BlockStatusText(JobEvent::Kind kind, std::string_view path)
{
    std::string text = kind == JobEvent::Kind::Reading ? kStatusReading : kStatusWriting;
    text.replace(text.find("%1%"), 3, path);
    return text;
}

// What the status line shows at the end of a job: "終了" for one that ran to
// its end, completed or aborted; for a failure, its text, with the path it
// concerns where it names one. A job that never started shows nothing (the
// empty text; the status line keeps what it had).
[[nodiscard]] inline std::string EndStatusText(const JobResult& result)
{
    switch (result.end) {
    case JobEnd::NotStarted: return {};
    case JobEnd::Finished:
    case JobEnd::Aborted: return kStatusFinished;
    case JobEnd::Failed: break;
    }
    switch (result.fault) {
    case JobFault::None:
    case JobFault::SourceOpen:
    case JobFault::SourceNotRegular:
    case JobFault::PlanLine:
    case JobFault::PlanPastEnd: return kStatusAborted;
    case JobFault::DestinationOpen:
        // A folder, or a pipe nobody reads, stands at the destination's name.
        return result.fileType != 0 ? kStatusOpenFailed + result.path : std::string(kStatusAborted);
    case JobFault::DestinationExists:
        // A symlink that leads nowhere is never written through.
        return result.fileType == S_IFLNK ? kStatusCreateFailed + result.path : std::string(kStatusAborted);
    case JobFault::ChecksumFile:
        switch (result.checksumFile.state) {
        case SideState::Exists: return kStatusCreateFailed + result.path + kStatusChecksumFileExists;
        case SideState::IsSource: return kStatusCreateFailed + result.path + kStatusChecksumFileIsSource;
        case SideState::NoSha256: return kStatusCreateFailed + result.path + kStatusNoSha256;
        case SideState::Write: return kStatusWriteFailed + result.path;
        default: return kStatusCreateFailed + result.path;
        }
    case JobFault::RecoverySet:
    case JobFault::PartDiffers:
    case JobFault::PartsExist:
    case JobFault::TooManyParts:
    case JobFault::PartCreate: return kStatusCreateFailed + result.path;
    case JobFault::DestinationListed: return kStatusDestinationListed + result.path;
    case JobFault::InputOpen:
    case JobFault::InputNotRegular: return kStatusOpenFailed + result.path;
    case JobFault::LongerThanSize:
    case JobFault::StreamRead:
    case JobFault::Read: return kStatusReadFailed + result.path;
    case JobFault::Filter:
    case JobFault::Write: return kStatusWriteFailed + result.path;
    case JobFault::NoMemory: return kStatusNoMemory;
    case JobFault::Check: return kStatusCheckFailed + result.path;
    }
    return kStatusAborted;
}

// The end text of a join checked against a checksum file: "終了", and after
// it that the check passed, or the first input that did not match its
// checksum (or the destination, when the inputs joined are not the source).
// A join aborted says only "終了"; any other failure its own text.
[[nodiscard]] inline std::string CheckedEndStatusText(const JobResult& result, std::string_view destination)
{
    if (result.end == JobEnd::Finished)
        return std::string(kStatusFinished) + kStatusChecksumsMatched;
    if (result.end == JobEnd::Failed && result.fault == JobFault::Check)
        return kStatusFinished + std::string(result.path == destination ? kStatusJoinedMismatch : kStatusPartMismatch) +
               result.path + ")";
    return EndStatusText(result);
}

}  // namespace tessera
