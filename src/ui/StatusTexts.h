#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "engine/JobPort.h"
#include "engine/RepairRun.h"
#include "engine/VerifyRun.h"

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
inline constexpr const char* kStatusRepairCanRebuild =
    " リカバリセット %1% があります : 結合リストのメニューの 修復 で入力の復元を試せます";
inline constexpr const char* kStatusRecoveryNoBytes = " (パートにデータがないため、リカバリセットは作成しません)";

namespace detail {

// text with its %1% filled in.
inline std::string WithPath(const char* text, std::string_view path)
{
    std::string with = text;
    with.replace(with.find("%1%"), 3, path);
    return with;
}

inline std::string WithNumber(const char* text, std::uint64_t number)
{
    return WithPath(text, std::to_string(number));
}

}  // namespace detail

// "読込中 " or "書込中 " and the path, for a block being read or written.
[[nodiscard]] inline std::string BlockStatusText(JobEvent::Kind kind, std::string_view path)
{
    return detail::WithPath(kind == JobEvent::Kind::Reading ? kStatusReading : kStatusWriting, path);
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
        if (!recoverySet.empty())
            text += detail::WithPath(kStatusRepairCanRebuild, recoverySet);
        return text;
    }
    return EndStatusText(result);
}


// --- 検査 and 修復 of the join list's inputs -------------------------------------

// While they run: %1% is the checksum file or the recovery set.
inline constexpr const char* kStatusChecking = "検査中 %1%";
inline constexpr const char* kStatusRepairing = "修復中 %1%";
// Refusals before they start.
inline constexpr const char* kStatusNothingToCheck =
    "検査できません : 最初の入力の横にチェックサムファイルもリカバリセットもありません";
inline constexpr const char* kStatusNoSetToRepair = "修復できません : 最初の入力の横にリカバリセットがありません";

// A Verdict of a check or repair, as the port kept it.
struct FileFound {
    FileVerdict verdict = FileVerdict::Ok;
    std::string path;
    std::string other;
    int error = 0;
};

namespace detail {

// What a check found wrong with one file; empty for a file found intact.
inline std::string FoundText(const FileFound& found)
{
    // A checksum file's line names its file by the line's name, and by its
    // path in other.
    const std::string& path = found.other.empty() ? found.path : found.other;
    switch (found.verdict) {
    case FileVerdict::Failed: return "一致しません : " + path;
    case FileVerdict::Unreadable: return (found.error == ENOENT ? "見つかりません : " : "読み込めません : ") + path;
    case FileVerdict::Missing: return "見つかりません : " + found.path;
    case FileVerdict::Damaged: return "損傷しています : " + found.path;
    case FileVerdict::JoinedFailed: return "パートを結合した結果が元ファイルのチェックサムと一致しません";
    case FileVerdict::Refused:
    case FileVerdict::ListedTwice:
    case FileVerdict::ThroughLink: return "使えない名前です : " + found.path;
    default: return {};
    }
}

inline bool ChecksumVerdict(FileVerdict verdict)
{
    switch (verdict) {
    case FileVerdict::Ok:
    case FileVerdict::Failed:
    case FileVerdict::Unreadable:
    case FileVerdict::NotChecked:
    case FileVerdict::JoinedOk:
    case FileVerdict::JoinedFailed: return true;
    default: return false;
    }
}

inline constexpr const char* kNothingChanged = "。ファイルは変更していません)";

}  // namespace detail

// The end of a check of the join list's inputs: after "終了", all intact, or
// the first file found wrong (and how many more); with a recovery set,
// whether it can rebuild them; when the checksum file lists other files than
// the join list (listedIn: that file), that its list was checked.
[[nodiscard]] inline std::string VerifyEndStatusText(const JobResult& result, const std::vector<FileFound>& found,
                                                     std::string_view listedIn = {})
{
    switch (result.end) {
    case JobEnd::NotStarted: return {};
    case JobEnd::Aborted: return std::string(kStatusFinished) + " (検査を中止しました)";
    case JobEnd::Failed:
        if (result.fault == JobFault::NoSha256)
            return std::string(kStatusAborted) + kStatusNoSha256;
        if (result.fault == JobFault::ChecksumFile)
            return kStatusReadFailed + result.path;
        return EndStatusText(result);
    case JobEnd::Finished: break;
    }
    const VerifyOutcome& outcome = *result.verify;
    const VerifyOutcome::Recovery& set = outcome.recovery;
    // With a checksum file its lines tell; the set's own findings only
    // without one.
    const bool lines = outcome.lines > 0;
    std::vector<std::string> wrong;
    for (const FileFound& file : found)
        if (detail::ChecksumVerdict(file.verdict) == lines)
            if (std::string text = detail::FoundText(file); !text.empty())
                wrong.push_back(std::move(text));
    std::string text = std::string(kStatusFinished) + " (検査 : ";
    if (!lines && set.path.empty())
        text += "チェックサムファイルにファイルがありません";
    else if (wrong.empty())
        text += "すべて正常です";
    else
        text += wrong.front();
    if (wrong.size() > 1)
        text += detail::WithNumber("、ほか %1% 個", wrong.size() - 1);
    if (!set.path.empty()) {
        if (set.stale)
            text += detail::WithPath("。リカバリセット %1% は入力より古く、修復には使えません", set.path);
        else if (set.state == Par2State::Repairable)
            text += "。リカバリセットで修復できます";
        else if (set.state == Par2State::NotRepairable)
            text += detail::WithNumber("。リカバリセットでは修復できません : 回復スライスが %1% 個足りません", set.shortBy);
        else if (set.state == Par2State::Unusable)
            text += detail::WithPath("。リカバリセット %1% を読み取れません", set.path);
        else if (wrong.empty() && lines)
            text += "。リカバリセットも正常です";
    }
    text += ")";
    if (!listedIn.empty())
        text += detail::WithPath(" 結合リストは %1% の一覧と異なるため、その一覧を検査しました", listedIn);
    return text;
}

// The end of a repair of the join list's inputs: after "終了", the files
// rebuilt (and the names the replaced ones are kept under), or nothing to
// do; when the set cannot rebuild them, why, and that nothing changed.
[[nodiscard]] inline std::string RepairEndStatusText(const JobResult& result, const std::vector<FileFound>& found)
{
    std::string put;  // what was put in place
    for (const FileFound& file : found) {
        if (file.verdict != FileVerdict::Rebuilt && file.verdict != FileVerdict::Created)
            continue;
        if (!put.empty())
            put += "、";
        put += file.verdict == FileVerdict::Created
                   ? file.path + " を作成しました"
                   : file.path + " を復元しました。元のファイルは " + file.other + " として残しています";
    }
    const std::string finished = kStatusFinished;
    switch (result.end) {
    case JobEnd::NotStarted: return {};
    case JobEnd::Aborted: return finished + " (修復を中止しました" + detail::kNothingChanged;
    case JobEnd::Finished:
        return finished + " (修復 : " + (put.empty() ? std::string("すべて正常です。変更はありません") : put) + ")";
    case JobEnd::Failed: break;
    }
    switch (result.fault) {
    case JobFault::NoSha256: return std::string(kStatusAborted) + kStatusNoSha256;
    case JobFault::Read: return kStatusReadFailed + result.path + " (修復できません" + detail::kNothingChanged;
    case JobFault::Write: return kStatusWriteFailed + result.path + (put.empty() ? "" : " (" + put + ")");
    case JobFault::Recovery: break;
    default: return EndStatusText(result);
    }
    const RepairOutcome& outcome = *result.repair;
    std::string why;
    switch (outcome.repair.fault) {
    case Par2RepairFault::NotEnough:
        why = detail::WithNumber("回復スライスが %1% 個足りません", outcome.repair.needed);
        break;
    case Par2RepairFault::Stale:
        why = detail::WithPath("リカバリセットが入力より古いため (%1% はチェックサムファイルでは正常です)",
                              outcome.staleFile);
        break;
    case Par2RepairFault::NotUsable: why = "リカバリセットを読み取れません"; break;
    case Par2RepairFault::Mismatch:
        why = detail::WithPath("復元した %1% がリカバリセットと一致しません", outcome.repair.path);
        break;
    case Par2RepairFault::NotRegular:
    case Par2RepairFault::UnsafeName:
        why = detail::WithPath("使えないファイルがあります : %1%", outcome.repair.path);
        break;
    case Par2RepairFault::TooLarge: why = "必要なメモリが多すぎます"; break;
    default: why = "残っている回復スライスでは復元できません"; break;
    }
    return finished + " (修復できません : " + why + detail::kNothingChanged;
}

}  // namespace tessera
