#pragma once

#include <cstdint>
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
// Added after the texts above for a recovery set a split could not take, and
// after "終了" for what the set a split wrote rebuilds.
inline constexpr const char* kStatusRecoverySetExists = " (リカバリセットが既にあります)";
inline constexpr const char* kStatusRecoverySetNotAFile = " (リカバリセットの名前にファイル以外のものがあります)";
inline constexpr const char* kStatusRecoverySetLayout = " (この分割にはリカバリセットを割り付けられません)";
inline constexpr const char* kStatusRecoveryLostParts = " (リカバリセット : 失われたパート %1% 個まで修復できます)";
inline constexpr const char* kStatusRecoveryNoPart = " (リカバリセット : 失われたパートは修復できません";
inline constexpr const char* kStatusRecoveryOnePartPercent = "。1 個の修復には %1% % 必要です";
// Added after a join's check failure when a recovery set lies beside the
// first input.
inline constexpr const char* kStatusRepairCanRebuild = " リカバリセット %1% があります : tessera-cli repair で入力の復元を試せます";
inline constexpr const char* kStatusRecoveryNoBytes = " (パートにデータがないため、リカバリセットは作成しません)";

// "読込中 " or "書込中 " and the path, for a block being read or written.
[[nodiscard]] inline std::string BlockStatusText(JobEvent::Kind kind, std::string_view path)
{
    std::string text = kind == JobEvent::Kind::Reading ? kStatusReading : kStatusWriting;
    text.replace(text.find("%1%"), 3, path);
    return text;
}

namespace detail {

inline std::string WithNumber(const char* text, std::uint64_t number)
{
    std::string with = text;
    with.replace(with.find("%1%"), 3, std::to_string(number));
    return with;
}

}  // namespace detail

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
        switch (result.recoverySet.state) {
        case SideState::Exists: return kStatusCreateFailed + result.path + kStatusRecoverySetExists;
        case SideState::NotAFile: return kStatusCreateFailed + result.path + kStatusRecoverySetNotAFile;
        case SideState::Layout: return kStatusCreateFailed + result.path + kStatusRecoverySetLayout;
        case SideState::Write: return kStatusWriteFailed + result.path;
        default: return kStatusCreateFailed + result.path;
        }
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
    case JobFault::NoSha256:  // verify and repair only
    case JobFault::Recovery: break;
    }
    return kStatusAborted;
}

// The end text of a split: EndStatusText, and after "終了" what the recovery
// set it wrote rebuilds (nothing more when it wrote none).
[[nodiscard]] inline std::string SplitEndStatusText(const JobResult& result)
{
    std::string text = EndStatusText(result);
    if (result.end != JobEnd::Finished)
        return text;
    const Par2Reach& reach = result.recoverySet.reach;
    switch (result.recoverySet.state) {
    case SideState::Written:
        if (reach.lostParts > 0)
            return text + detail::WithNumber(kStatusRecoveryLostParts, reach.lostParts);
        text += kStatusRecoveryNoPart;
        if (reach.onePartPercent > 0)
            text += detail::WithNumber(kStatusRecoveryOnePartPercent, reach.onePartPercent);
        return text + ")";
    case SideState::NoBytes: return text + kStatusRecoveryNoBytes;
    default: return text;
    }
}

// The end text of a join checked against a checksum file: "終了", and after
// it that the check passed, or the first input that did not match its
// checksum (or the destination, when the inputs joined are not the source);
// for an input, and a recovery set beside the first input (recoverySet, empty
// when none), that the set may rebuild it. A join aborted says only "終了"; any
// other failure its own text.
[[nodiscard]] inline std::string CheckedEndStatusText(const JobResult& result, std::string_view destination,
                                                      std::string_view recoverySet = {})
{
    if (result.end == JobEnd::Finished)
        return std::string(kStatusFinished) + kStatusChecksumsMatched;
    if (result.end == JobEnd::Failed && result.fault == JobFault::Check) {
        if (result.path == destination)
            return kStatusFinished + std::string(kStatusJoinedMismatch) + result.path + ")";
        std::string text = kStatusFinished + std::string(kStatusPartMismatch) + result.path + ")";
        if (!recoverySet.empty()) {
            std::string rebuild = kStatusRepairCanRebuild;
            rebuild.replace(rebuild.find("%1%"), 3, recoverySet);
            text += rebuild;
        }
        return text;
    }
    return EndStatusText(result);
}

}  // namespace tessera
