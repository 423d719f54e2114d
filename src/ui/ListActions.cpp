#include "ListActions.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHelpEvent>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QStringListModel>
#include <QToolTip>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <optional>
#include <vector>

#include "CTesseraDlg.h"
#include "PathText.h"
#include "StartFolder.h"
#include "engine/Manifest.h"
#include "engine/SetBeside.h"
#include "fileio/Admission.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"
#include "fileio/PeekBytes.h"
#include "fileio/ReplaceContents.h"
#include "plan/NameOrder.h"
#include "plan/PlanText.h"
#include "plan/ShiftJis.h"
#include "plan/SplitEntry.h"

namespace tessera::ui {

namespace {

// List lines hold paths and plan lines as the dialog shows them; the file
// system and the planners take them as their exact bytes.
std::string Bytes(const QString& text)
{
    return TextToPath(text);
}

std::vector<std::string> Bytes(const QStringList& lines)
{
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(lines.size()));
    for (const QString& line : lines)
        out.push_back(Bytes(line));
    return out;
}

QStringList Lines(const std::vector<std::string>& lines)
{
    QStringList out;
    out.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        out.append(PathToText(line));
    return out;
}

QString SizeText(std::int64_t bytes)
{
    static constexpr struct {
        std::int64_t size;
        const char* name;
    } kUnits[] = {{std::int64_t{1} << 30, "GiB"}, {std::int64_t{1} << 20, "MiB"}, {std::int64_t{1} << 10, "KiB"}};
    auto unit = std::find_if(std::begin(kUnits), std::end(kUnits), [&](const auto& u) { return bytes >= u.size; });
    if (unit == std::end(kUnits))
        unit = std::end(kUnits) - 1;
    return QStringLiteral("%1 バイト (%2 %3)")
        .arg(bytes)
        .arg(static_cast<double>(bytes) / static_cast<double>(unit->size), 0, 'f', 2)
        .arg(QLatin1String(unit->name));
}

// One row of the tooltip's dump: the offset, the bytes in hex, the bytes as
// code page 932 text.
QString DumpRow(const char* label, std::int64_t offset, const std::string& bytes, const char* none)
{
    QString row = QStringLiteral("%1 %2:").arg(QString::fromUtf8(label)).arg(offset);
    if (bytes.empty())
        return row + QLatin1Char(' ') + QString::fromUtf8(none);
    for (const char c : bytes)
        row += QStringLiteral(" %1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0')).toUpper();
    return row + QStringLiteral("  ") + QString::fromStdString(DecodeShiftJisForDisplay(bytes));
}

constexpr std::int64_t kTipBytes = 16;

// The most a plan file may hold: a full split list of the longest lines a
// plan takes, each with "\r\n".
constexpr std::uint64_t kMaxPlanFileBytes = std::uint64_t{kMaxSplitLines} * (kMaxPlanLineLength + 2);

QString FaultText(const PlanTextReader& reader)
{
    QString what;
    switch (reader.Fault()) {
    case PlanFault::None: return {};
    case PlanFault::NotAnEntry:
    default: what = QStringLiteral("%1 行目は「開始 終了」の行として読めません。"); break;
    case PlanFault::NegativeStart: what = QStringLiteral("%1 行目の開始位置が負の数です。"); break;
    case PlanFault::Backwards: what = QStringLiteral("%1 行目の終了位置が開始位置より前です。"); break;
    case PlanFault::TooManyLines: what = QStringLiteral("%1 行目で分割リストが %2 行を超えます。"); break;
    }
    QString text = what.arg(reader.FaultLine());
    if (reader.Fault() == PlanFault::TooManyLines)
        text = text.arg(kMaxSplitLines);
    text += QStringLiteral("何も追加していません。");
    if (reader.Fault() != PlanFault::TooManyLines) {
        constexpr qsizetype kShown = 80;
        QString line = QString::fromStdString(reader.FaultText());
        if (line.size() > kShown)
            line = line.left(kShown) + QStringLiteral("…");
        text += QLatin1Char('\n') + line;
    }
    return text;
}

// The setting of the split list's menu item チェックサムを作成.
constexpr const char* kChecksumsKey = "Split/WriteChecksums";
// The setting of the submenu リカバリセット: the key of the choice, as the
// command line's --recovery spells it.
constexpr const char* kRecoveryKey = "Split/RecoverySet";
using AskKind = tessera::Par2Ask::Kind;
constexpr struct {
    const char* name;
    const char* text;
    const char* key;
    AskKind kind;
    unsigned amount;
} kRecoveryChoices[] = {
    {"actionSplitRecoveryNone", "作成しない", "", AskKind::Percent, 0},
    {"actionSplitRecovery1Part", "パート 1 個の欠損を修復できる量", "1part", AskKind::Parts, 1},
    {"actionSplitRecovery2Parts", "パート 2 個の欠損を修復できる量", "2parts", AskKind::Parts, 2},
    {"actionSplitRecovery10", "データの 10 %", "10", AskKind::Percent, 10},
    {"actionSplitRecovery25", "データの 25 %", "25", AskKind::Percent, 25},
};

// The key of the choice kept in the settings; none when it is none of the
// submenu's.
std::string RecoveryKey()
{
    const std::string key = QSettings().value(QLatin1String(kRecoveryKey)).toString().toStdString();
    for (const auto& choice : kRecoveryChoices) {
        if (key == choice.key)
            return key;
    }
    return {};
}

// Why a checksum file gives the join list nothing.
QString ManifestFaultText(const ManifestRead& read)
{
    switch (read.fault) {
    case ManifestFault::None: return {};
    case ManifestFault::NotRegular:
        return read.error == EISDIR ? QStringLiteral("フォルダです。") : QStringLiteral("通常のファイルではありません。");
    case ManifestFault::LongerThanSize:
        return QStringLiteral("大きさ (%1 バイト) より長く読めるファイルです。").arg(read.admission.size);
    case ManifestFault::Open:
    case ManifestFault::Read: return QString::fromLocal8Bit(std::strerror(read.error));
    case ManifestFault::NotAChecksumLine:
        return QStringLiteral("%1 行目はチェックサムの行として読めません。").arg(read.line);
    case ManifestFault::LineTooLong: return QStringLiteral("%1 行目が長すぎます。").arg(read.line);
    case ManifestFault::NameTooLong: return QStringLiteral("%1 行目のファイル名が長すぎます。").arg(read.line);
    }
    return {};
}

}  // namespace

ListActions::ListActions(CTesseraDlg& dialog) : QObject(&dialog), dialog_(dialog)
{
    for (int list = 0; list < kListCount; ++list) {
        QListView* view = dialog_.List(list);
        menus_[list] = new QMenu(view);
        menus_[list]->setObjectName(list == kListSplit ? QStringLiteral("menuSplitList")
                                                       : QStringLiteral("menuJoinList"));
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, list, view](const QPoint& pos) {
            UpdateActions();
            menus_[list]->popup(view->viewport()->mapToGlobal(pos));
        });
        view->installEventFilter(this);
        QItemSelectionModel* selection = view->selectionModel();
        connect(selection, &QItemSelectionModel::currentChanged, this, &ListActions::UpdateActions);
        connect(selection, &QItemSelectionModel::selectionChanged, this, &ListActions::UpdateActions);
        QAbstractItemModel* model = view->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, &ListActions::UpdateActions);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &ListActions::UpdateActions);
        connect(model, &QAbstractItemModel::rowsMoved, this, &ListActions::UpdateActions);
        connect(model, &QAbstractItemModel::modelReset, this, &ListActions::UpdateActions);
        connect(model, &QAbstractItemModel::layoutChanged, this, &ListActions::UpdateActions);
    }
    dialog_.List(kListSplit)->viewport()->installEventFilter(this);

    joinAddFiles_ = AddAction(kListJoin, "actionJoinAddFiles", "ファイルを追加…", QKeySequence::Open,
                              &ListActions::AddJoinFiles);
    joinAddSeries_ = AddAction(kListJoin, "actionJoinAddSeries", "連番をすべて追加", {}, &ListActions::AddJoinSeries);
    joinFromChecksums_ = AddAction(kListJoin, "actionJoinAddFromChecksums", "チェックサムファイルから追加…", {},
                                   &ListActions::AddJoinFromChecksums);
    menus_[kListJoin]->addSeparator();
    joinUp_ = AddAction(kListJoin, "actionJoinMoveUp", "上へ", QKeySequence(Qt::CTRL | Qt::Key_Up),
                        &ListActions::MoveJoinLineUp);
    joinDown_ = AddAction(kListJoin, "actionJoinMoveDown", "下へ", QKeySequence(Qt::CTRL | Qt::Key_Down),
                          &ListActions::MoveJoinLineDown);
    joinSort_ = AddAction(kListJoin, "actionJoinSortByName", "名前順に並べ替え", {}, &ListActions::SortJoinList);
    menus_[kListJoin]->addSeparator();
    // A check and a repair of the inputs from what lies beside the first.
    joinCheck_ = AddAction(kListJoin, "actionJoinCheck", "検査", {}, &ListActions::CheckJoinInputs);
    joinRepair_ = AddAction(kListJoin, "actionJoinRepair", "修復", {}, &ListActions::RepairJoinInputs);
    menus_[kListJoin]->addSeparator();
    joinDelete_ = AddAction(kListJoin, "actionJoinDelete", "削除", QKeySequence(Qt::Key_Delete),
                            &ListActions::DeleteJoinLine);

    splitCopy_ = AddAction(kListSplit, "actionSplitCopy", "コピー", QKeySequence::Copy, &ListActions::CopySplitLines);
    splitPaste_ =
        AddAction(kListSplit, "actionSplitPaste", "貼り付け", QKeySequence::Paste, &ListActions::PasteSplitLines);
    menus_[kListSplit]->addSeparator();
    splitSave_ = AddAction(kListSplit, "actionSplitSavePlan", "プランを保存…", QKeySequence::Save,
                           &ListActions::SaveSplitPlan);
    splitOpen_ = AddAction(kListSplit, "actionSplitOpenPlan", "プランを開く…", QKeySequence::Open,
                           &ListActions::OpenSplitPlan);
    menus_[kListSplit]->addSeparator();
    splitDelete_ = AddAction(kListSplit, "actionSplitDelete", "削除", QKeySequence(Qt::Key_Delete),
                             &ListActions::DeleteSplitLine);
    menus_[kListSplit]->addSeparator();
    splitChecksums_ = new QAction(QStringLiteral("チェックサムを作成"), this);
    splitChecksums_->setObjectName(QStringLiteral("actionSplitChecksums"));
    splitChecksums_->setCheckable(true);
    splitChecksums_->setChecked(SplitWritesChecksums());
    connect(splitChecksums_, &QAction::toggled, this,
            [](bool on) { QSettings().setValue(QLatin1String(kChecksumsKey), on); });
    menus_[kListSplit]->addAction(splitChecksums_);
    splitRecovery_ = menus_[kListSplit]->addMenu(QStringLiteral("リカバリセット"));
    splitRecovery_->setObjectName(QStringLiteral("menuSplitRecovery"));
    splitRecovery_->menuAction()->setObjectName(QStringLiteral("actionSplitRecovery"));
    auto* recoveryGroup = new QActionGroup(this);
    const std::string recovery = RecoveryKey();
    for (const auto& choice : kRecoveryChoices) {
        QAction* action = splitRecovery_->addAction(QString::fromUtf8(choice.text));
        action->setObjectName(QLatin1String(choice.name));
        action->setCheckable(true);
        action->setChecked(recovery == choice.key);
        recoveryGroup->addAction(action);
        const QString key = QLatin1String(choice.key);
        connect(action, &QAction::triggered, this, [key] { QSettings().setValue(QLatin1String(kRecoveryKey), key); });
    }
    // Checked while a folder is chosen; choosing it again goes back to beside
    // the source. Never kept: a new window splits beside the source.
    splitFolder_ = new QAction(QStringLiteral("分割先フォルダ…"), this);
    splitFolder_->setObjectName(QStringLiteral("actionSplitFolder"));
    splitFolder_->setCheckable(true);
    connect(splitFolder_, &QAction::triggered, this, &ListActions::ChooseSplitFolder);
    menus_[kListSplit]->addAction(splitFolder_);
    menus_[kListSplit]->setToolTipsVisible(true);
    ShowSplitFolder();
    UpdateActions();
}

bool ListActions::SplitWritesChecksums()
{
    return QSettings().value(QLatin1String(kChecksumsKey), false).toBool();
}

tessera::Par2Ask ListActions::SplitRecoverySet()
{
    const std::string key = RecoveryKey();
    tessera::Par2Ask ask;
    for (const auto& choice : kRecoveryChoices) {
        if (key == choice.key) {
            ask.kind = choice.kind;
            ask.amount = choice.amount;
        }
    }
    return ask;
}

WindowSplitChoices ListActions::SplitChoices() const
{
    WindowSplitChoices choices;
    choices.checksums = SplitWritesChecksums();
    choices.recovery = SplitRecoverySet();
    choices.folder = splitFolderPath_;
    return choices;
}

QAction* ListActions::AddAction(int list, const char* name, const char* text, const QKeySequence& keys,
                                void (ListActions::*handler)())
{
    auto* action = new QAction(QString::fromUtf8(text), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(keys);
    // The keys work while the list has the focus, so each list keeps its own
    // meaning for the same key.
    action->setShortcutContext(Qt::WidgetShortcut);
    action->setShortcutVisibleInContextMenu(true);
    connect(action, &QAction::triggered, this, handler);
    dialog_.List(list)->addAction(action);
    menus_[list]->addAction(action);
    return action;
}

QStringListModel* ListActions::Model(int list) const
{
    return static_cast<QStringListModel*>(dialog_.List(list)->model());
}

bool ListActions::Idle(int list) const
{
    // A running job reads the lists: they stay as they are until it ends.
    return !dialog_.JobRunning() && dialog_.List(list)->isEnabled();
}

int ListActions::SelectedRow(int list) const
{
    const QItemSelectionModel* selection = dialog_.List(list)->selectionModel();
    const QModelIndex current = selection->currentIndex();
    return current.isValid() && selection->isSelected(current) ? current.row() : -1;
}

int ListActions::SeriesRow() const
{
    const int row = SelectedRow(kListJoin);
    if (row >= 0)
        return row;
    return dialog_.ListCount(kListJoin) == 1 ? 0 : -1;
}

void ListActions::Select(int list, int row)
{
    QListView* view = dialog_.List(list);
    view->selectionModel()->setCurrentIndex(view->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
}

void ListActions::UpdateActions()
{
    // The lists are disabled while a job runs; the handlers also refuse from
    // the Start press on, before the worker has switched the controls.
    const bool join = dialog_.List(kListJoin)->isEnabled();
    const int joinRow = SelectedRow(kListJoin);
    const int joinCount = dialog_.ListCount(kListJoin);
    const int seriesRow = SeriesRow();
    const bool series =
        seriesRow >= 0 && !SeriesNumber(Bytes(Model(kListJoin)->index(seriesRow).data().toString())).empty();
    joinAddFiles_->setEnabled(join);
    joinAddSeries_->setEnabled(join && series);
    joinFromChecksums_->setEnabled(join);
    joinUp_->setEnabled(join && joinRow > 0);
    joinDown_->setEnabled(join && joinRow >= 0 && joinRow + 1 < joinCount);
    joinSort_->setEnabled(join && joinCount > 1);
    joinDelete_->setEnabled(join && joinRow >= 0);
    const std::vector<std::string> first =
        joinCount > 0 ? std::vector<std::string>{Bytes(Model(kListJoin)->index(0).data().toString())}
                      : std::vector<std::string>{};
    joinCheck_->setEnabled(join && tessera::CheckableBesideInputs(first));
    joinRepair_->setEnabled(join && !tessera::RecoverySetBesideInputs(first).empty());

    const bool split = dialog_.List(kListSplit)->isEnabled();
    const int splitCount = dialog_.ListCount(kListSplit);
    splitCopy_->setEnabled(split && splitCount > 0);
    splitPaste_->setEnabled(split);
    splitSave_->setEnabled(split && splitCount > 0);
    splitOpen_->setEnabled(split);
    splitDelete_->setEnabled(split && SelectedRow(kListSplit) >= 0);
    // Read when a split starts: a change during one is for the next.
    splitChecksums_->setEnabled(split);
    splitRecovery_->setEnabled(split);
    splitFolder_->setEnabled(split);
}

bool ListActions::eventFilter(QObject* watched, QEvent* event)
{
    // Only these two events look at the lists: others (children going away
    // while the dialog is destroyed) may come when a list is gone.
    if (event->type() == QEvent::EnabledChange)
        UpdateActions();
    if (event->type() != QEvent::ToolTip)
        return QObject::eventFilter(watched, event);
    QListView* split = dialog_.List(kListSplit);
    if (watched == split->viewport()) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = split->indexAt(help->pos());
        const QString tip = index.isValid() ? SplitLineTip(index.row()) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, split->viewport(), split->visualRect(index));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QString ListActions::SplitLineTip(int row) const
{
    SplitEntry entry;
    const QModelIndex index = Model(kListSplit)->index(row);
    if (!index.isValid() || !ReadEntry(Bytes(index.data().toString()), entry) || entry.start < 0 ||
        entry.end < entry.start)
        return {};
    // The first line is never taken for markup, so bytes of the file that look
    // like tags in the rows below show as they are.
    QString tip = SizeText(entry.end - entry.start);
    const std::string source = dialog_.FieldText(kEditSource);
    const std::int64_t from = std::max<std::int64_t>(0, entry.start - kTipBytes);
    const std::optional<std::string> before =
        PeekBytes(source, from, static_cast<std::size_t>(entry.start - from));
    const std::optional<std::string> after = PeekBytes(source, entry.start, kTipBytes);
    if (!before || !after)
        return tip;
    // A start past the end of the file has nothing before it either.
    tip += QLatin1Char('\n') + DumpRow("前", from, *before, entry.start == 0 ? "(ファイルの先頭)" : "(ファイルの終わり)");
    tip += QLatin1Char('\n') + DumpRow("後", entry.start, *after, "(ファイルの終わり)");
    return tip;
}

void ListActions::Tell(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, dialog_.windowTitle(), text, QMessageBox::Ok, &dialog_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// --- Join list --------------------------------------------------------------

void ListActions::AddJoinFiles()
{
    if (!Idle(kListJoin))
        return;
    QFileDialog chooser(&dialog_, QStringLiteral("ファイルを追加"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFiles);
    // Beside the files already listed.
    const QStringList lines = dialog_.ListLines(kListJoin);
    if (!lines.isEmpty()) {
        const int row = SelectedRow(kListJoin);
        chooser.setDirectory(QFileInfo(lines.at(row >= 0 ? row : lines.size() - 1)).absolutePath());
    }
    if (chooser.exec() != QDialog::Accepted || !Idle(kListJoin))
        return;
    // Admitted exactly as files dropped on the join list are, by their exact
    // bytes.
    std::vector<std::string> paths;
    for (const QString& chosen : chooser.selectedFiles()) {
        if (std::optional<std::string> path = dialog_.ExactChosenPath(chosen))
            paths.push_back(std::move(*path));
    }
    dialog_.OnDropFiles(paths, dialog_.List(kListJoin)->geometry().center());
}

void ListActions::AddJoinSeries()
{
    const int row = SeriesRow();
    if (!Idle(kListJoin) || row < 0)
        return;
    const std::vector<std::string> lines = Bytes(dialog_.ListLines(kListJoin));
    const SeriesResult result = AddFollowingParts(lines, static_cast<std::size_t>(row),
                                                  [](const std::string& name) { return IsRegularFile(name); });
    if (result.added == 0) {
        const std::string_view number = SeriesNumber(lines[row]);
        if (number.empty())
            return;
        const std::string next =
            lines[row].substr(0, lines[row].size() - number.size()) + NextSeriesNumber(number);
        if (std::find(lines.begin(), lines.end(), next) == lines.end())
            Tell(QStringLiteral("続きのファイルがありません : ") + PathToText(next));
        return;
    }
    Model(kListJoin)->setStringList(Lines(result.lines));
    Select(kListJoin, row);
}

void ListActions::AddJoinFromChecksums()
{
    if (!Idle(kListJoin))
        return;
    QFileDialog chooser(&dialog_, QStringLiteral("チェックサムファイルから追加"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setNameFilters({QStringLiteral("チェックサムファイル (*.sha256)"), QStringLiteral("すべてのファイル (*)")});
    const QStringList lines = dialog_.ListLines(kListJoin);
    chooser.setDirectory(lines.isEmpty() ? StartFolder(dialog_.FieldText(kEditJoinDestination))
                                         : QFileInfo(lines.constLast()).absolutePath());
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty() || !Idle(kListJoin))
        return;
    const QString chosen = chooser.selectedFiles().constFirst();
    RememberFolder(chosen);
    const std::optional<std::string> manifest = dialog_.ExactChosenPath(chosen);
    if (!manifest)
        return;
    const ManifestRead read = ReadManifestFile(*manifest);
    if (read.fault != ManifestFault::None) {
        Tell(QStringLiteral("チェックサムファイルを読めません : ") + chosen + QLatin1Char('\n') + ManifestFaultText(read) +
             QStringLiteral("\n何も追加していません。"));
        return;
    }
    // The parts are every line but the source's own, in the file's order,
    // found where a check of the file looks for them.
    const std::size_t sourceLine = SourceLine(*manifest, read.lines);
    QStringList added;
    std::vector<std::string> leftOut;
    for (std::size_t i = 0; i < read.lines.size(); ++i) {
        if (i == sourceLine)
            continue;
        const std::string part = ResolveFromManifest(*manifest, read.lines[i].name);
        if (AdmitFile(part).Admitted())
            added.append(PathToText(part));
        else
            leftOut.push_back(part);
    }
    if (added.isEmpty() && leftOut.empty()) {
        Tell(QStringLiteral("チェックサムファイルに結合するファイルがありません : ") + chosen);
        return;
    }
    dialog_.AppendLines(kListJoin, added);
    // The parts joined are the source again: its name beside them, where a
    // check of the file finds it. A file of that name is never offered to be
    // emptied by the join: the field stays empty, and the status says why.
    std::string note;
    if (!added.isEmpty() && sourceLine != std::string::npos && dialog_.FieldText(kEditJoinDestination).empty()) {
        const std::string destination = ResolveFromManifest(*manifest, read.lines[sourceLine].name);
        if (NameIsFree(destination))
            dialog_.SetFieldText(kEditJoinDestination, PathToText(destination));
        else
            note = "結合先ファイルは既にあるため空欄のまま : 「" + destination + "」";
    }
    dialog_.SayLeftOut(leftOut, note);
}

void ListActions::CheckJoinInputs()
{
    if (Idle(kListJoin))
        dialog_.OnCheckInputs();
}

void ListActions::RepairJoinInputs()
{
    if (Idle(kListJoin))
        dialog_.OnRepairInputs();
}

void ListActions::MoveJoinLine(int by)
{
    const int row = SelectedRow(kListJoin);
    const int to = row + by;
    if (!Idle(kListJoin) || row < 0 || to < 0 || to >= dialog_.ListCount(kListJoin))
        return;
    // moveRows takes the row before which the line lands.
    Model(kListJoin)->moveRows(QModelIndex(), row, 1, QModelIndex(), by > 0 ? to + 1 : to);
    Select(kListJoin, to);
}

void ListActions::SortJoinList()
{
    if (!Idle(kListJoin))
        return;
    const QStringList lines = dialog_.ListLines(kListJoin);
    const std::vector<std::string> names = Bytes(lines);
    std::vector<qsizetype> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return NameLess(names[static_cast<std::size_t>(a)], names[static_cast<std::size_t>(b)]);
    });
    QStringList sorted;
    sorted.reserve(lines.size());
    for (const qsizetype i : order)
        sorted.append(lines.at(i));
    const int selected = SelectedRow(kListJoin);
    Model(kListJoin)->setStringList(sorted);
    // The selected line stays selected where it went.
    if (selected >= 0)
        Select(kListJoin, static_cast<int>(std::find(order.begin(), order.end(), selected) - order.begin()));
}

void ListActions::DeleteJoinLine()
{
    if (Idle(kListJoin))
        dialog_.OnDeleteJoinItem();
}

// --- Split list -------------------------------------------------------------

void ListActions::CopySplitLines()
{
    if (!Idle(kListSplit))
        return;
    const int row = SelectedRow(kListSplit);
    QStringList lines = dialog_.ListLines(kListSplit);
    if (row >= 0)
        lines = QStringList{lines.at(row)};
    if (lines.isEmpty())
        return;
    QApplication::clipboard()->setText(QString::fromStdString(FormatPlanText(Bytes(lines))));
}

void ListActions::PasteSplitLines()
{
    if (!Idle(kListSplit))
        return;
    PlanTextReader reader(static_cast<std::size_t>(dialog_.ListCount(kListSplit)));
    reader.Feed(Bytes(QApplication::clipboard()->text()));
    reader.Finish();
    AppendPlan(reader, QString());
}

void ListActions::AppendPlan(const PlanTextReader& reader, const QString& origin)
{
    if (reader.Fault() != PlanFault::None) {
        Tell(origin.isEmpty() ? FaultText(reader) : origin + QLatin1Char('\n') + FaultText(reader));
        return;
    }
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(reader.Entries().size()));
    // Written back in the list's own form: "007 +10" becomes "7 10".
    for (const SplitEntry& entry : reader.Entries())
        lines.append(QString::fromStdString(FormatEntry(entry)));
    dialog_.AppendLines(kListSplit, lines);
}

void ListActions::SaveSplitPlan()
{
    if (!Idle(kListSplit) || dialog_.ListCount(kListSplit) == 0)
        return;
    QFileDialog chooser(&dialog_, QStringLiteral("プランを保存"));
    chooser.setAcceptMode(QFileDialog::AcceptSave);  // asks before replacing a file
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setDirectory(StartFolder(dialog_.FieldText(kEditSource)));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty() || !Idle(kListSplit))
        return;
    const QString chosen = chooser.selectedFiles().constFirst();
    RememberFolder(chosen);
    const std::optional<std::string> path = dialog_.ExactChosenPath(chosen);
    if (!path)
        return;
    // Never over the file the plan cuts, nor over a file listed for joining:
    // compared by inode on the opened file, whatever name leads there.
    std::vector<std::string> keep{dialog_.FieldText(kEditSource)};
    for (std::string& input : Bytes(dialog_.ListLines(kListJoin)))
        keep.push_back(std::move(input));
    const std::string text = FormatPlanText(Bytes(dialog_.ListLines(kListSplit)));
    const ReplaceResult result = ReplaceContents(*path, text, keep);
    const QString failed = QStringLiteral("プランの保存に失敗 : ") + chosen + QLatin1Char('\n');
    switch (result.outcome) {
    case ReplaceResult::Outcome::Written: return;
    case ReplaceResult::Outcome::Kept:
        Tell(failed + (result.keptIndex == 0 ? QStringLiteral("分割元ファイルです。プランで上書きしません。")
                                             : QStringLiteral("結合リストにあるファイルです。プランで上書きしません。")));
        return;
    case ReplaceResult::Outcome::InUse:
        Tell(failed + QStringLiteral("ほかの処理が使用中のファイルです。何も書き込んでいません。"));
        return;
    case ReplaceResult::Outcome::NotRegular:
        Tell(failed + QStringLiteral("通常のファイルではありません。"));
        return;
    case ReplaceResult::Outcome::Failed:
        Tell(failed + QString::fromLocal8Bit(std::strerror(result.error)));
        return;
    }
}

void ListActions::OpenSplitPlan()
{
    if (!Idle(kListSplit))
        return;
    QFileDialog chooser(&dialog_, QStringLiteral("プランを開く"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setDirectory(StartFolder(dialog_.FieldText(kEditSource)));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty() || !Idle(kListSplit))
        return;
    const QString path = chooser.selectedFiles().constFirst();
    RememberFolder(path);
    const QString refused = QStringLiteral("プランを開けません : ") + path;
    const std::optional<std::string> exact = dialog_.ExactChosenPath(path);
    if (!exact)
        return;
    NFilePSDK file(*exact, NFilePSDK::Form::Reading);
    if (!file.IsOpen()) {
        Tell(refused + QLatin1Char('\n') + QString::fromLocal8Bit(std::strerror(file.LastError())));
        return;
    }
    // Only a regular file: reading a pipe or a device could hold the window.
    const FileStatus status = file.Status();
    if (status.type != S_IFREG) {
        Tell(refused);
        return;
    }
    // The window waits while the file is read: never more than a full list
    // of the longest lines a plan may hold. A larger file is refused unread,
    // and one that grows past that while it is read is refused there.
    const QString tooLarge = refused + QStringLiteral("\nプランとして読める大きさ (%1 バイト) を超えています。何も追加していません。")
                                           .arg(kMaxPlanFileBytes);
    if (static_cast<std::uint64_t>(status.size) > kMaxPlanFileBytes) {
        Tell(tooLarge);
        return;
    }
    PlanTextReader reader(static_cast<std::size_t>(dialog_.ListCount(kListSplit)));
    std::vector<char> buffer(1 << 16);
    std::uint64_t total = 0;
    for (;;) {
        const std::uint32_t got = file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        if (got == 0 && file.LastError() != 0) {
            Tell(refused + QLatin1Char('\n') + QString::fromLocal8Bit(std::strerror(file.LastError())));
            return;
        }
        total += got;
        if (total > kMaxPlanFileBytes) {
            Tell(tooLarge);
            return;
        }
        // The first refused line ends the reading.
        if (got == 0 || !reader.Feed(std::string_view(buffer.data(), got)))
            break;
    }
    reader.Finish();
    AppendPlan(reader, path);
}

void ListActions::DeleteSplitLine()
{
    if (Idle(kListSplit))
        dialog_.OnDeleteEntry();
}

void ListActions::ChooseSplitFolder()
{
    if (Idle(kListSplit)) {
        if (!splitFolderPath_.empty()) {
            splitFolderPath_.clear();
        } else {
            QFileDialog chooser(&dialog_, QStringLiteral("分割先フォルダ"));
            chooser.setAcceptMode(QFileDialog::AcceptOpen);
            chooser.setFileMode(QFileDialog::Directory);
            chooser.setOption(QFileDialog::ShowDirsOnly);
            chooser.setDirectory(StartFolder(dialog_.FieldText(kEditSource)));
            if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty() && Idle(kListSplit)) {
                if (std::optional<std::string> folder = dialog_.ExactChosenPath(chooser.selectedFiles().constFirst()))
                    splitFolderPath_ = std::move(*folder);
            }
        }
    }
    ShowSplitFolder();
}

void ListActions::ShowSplitFolder()
{
    // The check mark shows the choice; the tooltip names the folder.
    splitFolder_->setChecked(!splitFolderPath_.empty());
    splitFolder_->setToolTip(splitFolderPath_.empty() ? QStringLiteral("分割元ファイルと同じフォルダに分割します")
                                                      : PathToText(splitFolderPath_));
}

}  // namespace tessera::ui
