#include "RefusalHints.h"

#include <sys/stat.h>

#include "PathText.h"
#include "plan/SplitEntry.h"

namespace tessera::ui {

namespace {

// "「token」は" followed by text, or text alone when there is no token.
QString Said(const std::string& token, const QString& text)
{
    return token.empty() ? text : QStringLiteral("「%1」は").arg(PathToText(token)) + text;
}

}  // namespace

QString RefusalHint(const Refusal& refusal, std::int64_t size)
{
    const std::string& token = refusal.token;
    switch (refusal.reason) {
    case Reason::None: return {};
    case Reason::Empty: return QStringLiteral("値が入力されていません");
    case Reason::NotANumber: return Said(token, QStringLiteral("数値ではありません"));
    case Reason::NotASizeSuffix: return Said(token, QStringLiteral("サイズの単位ではありません"));
    case Reason::TooLarge: return QStringLiteral("数値が大きすぎます");
    case Reason::Zero: return QStringLiteral("0 は指定できません");
    case Reason::BeyondEnd:
        return Said(token, QStringLiteral("ファイルの終わり（%1 バイト）を越えています").arg(size));
    case Reason::StartAfterEnd: return QStringLiteral("終了位置が開始位置より前です");
    case Reason::OddHexDigits: return QStringLiteral("16進数の桁数が奇数です（2桁で1バイトです）");
    case Reason::NotAHexDigit: return Said(token, QStringLiteral("16進数の数字ではありません"));
    case Reason::NoCodePage932Form:
        return token.empty() ? QStringLiteral("Shift_JIS で表せない文字があります")
                             : Said(token, QStringLiteral(" Shift_JIS で表せない文字です"));
    case Reason::TooManyLines:
        return QStringLiteral("リストの行数の上限（%1 行）を越えます").arg(static_cast<qulonglong>(kMaxSplitLines));
    case Reason::NoSource: return QStringLiteral("分割するファイルがありません");
    case Reason::OpenFailed: return QStringLiteral("ファイルを開けません");
    case Reason::ReadFailed: return QStringLiteral("ファイルを読めません");
    case Reason::NoMemory: return QStringLiteral("メモリが足りません");
    case Reason::NotAnEntry:
    case Reason::NegativeStart:
    case Reason::Backwards:
    case Reason::LineTooLong: return QStringLiteral("プランの行として読めません");
    }
    return {};
}

QString SourceHint(const std::string& path, Unsized why)
{
    if (path.empty())
        return QStringLiteral("分割するファイルが指定されていません");
    if (why == Unsized::MoreThanSize)
        return QStringLiteral("サイズ（%1 バイト）より多く読めるファイルです。サイズで分割できません").arg(SizeAt(path));
    switch (FileTypeAt(path)) {
    case 0: return QStringLiteral("ファイルが見つかりません");
    case S_IFDIR: return QStringLiteral("フォルダーです");
    default: return QStringLiteral("通常のファイルではありません");
    }
}

QString NotFoundHint(std::int64_t size)
{
    if (size == 0)
        return QStringLiteral("見つかりません（ファイルが空です）。何も追加していません");
    return QStringLiteral("見つかりません。ファイル全体（%1 バイト）を 1 行として追加しました").arg(size);
}

}  // namespace tessera::ui
