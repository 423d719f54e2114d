#include "CTesseraDlg.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringListModel>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <climits>
#include <exception>
#include <iterator>
#include <optional>
#include <vector>

#include "CDialogPort.h"
#include "DesktopSession.h"
#include "DialogBuilder.h"
#include "DialogTemplate.h"
#include "ListActions.h"
#include "WindowJobs.h"
#include "PathText.h"
#include "RefusalHints.h"
#include "StartFolder.h"
#include "fileio/ProcessSettings.h"
#include "engine/Progress.h"
#include "fileio/FileQuery.h"
#include "plan/Boundaries.h"
#include "plan/ParseNumber.h"
#include "plan/PatternSearch.h"
#include "plan/PlanBuilder.h"
#include "plan/RangeBuilders.h"
#include "plan/ShiftJis.h"
#include "plan/SplitEntry.h"

namespace {

using namespace tessera::ui;

CTesseraDlg* g_dialog = nullptr;

// The list lines of entries. A plan can hold a million lines, and formatting
// is most of the cost of adding them: a large batch is formatted on every
// core, each thread filling its own stretch of the list.
QStringList Lines(const std::vector<tessera::SplitEntry>& entries)
{
    const std::size_t count = entries.size();
    QStringList lines(static_cast<qsizetype>(count));
    QString* out = lines.data();
    const auto format = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            out[i] = QString::fromStdString(tessera::FormatEntry(entries[i]));
    };
    constexpr std::size_t kLinesPerThread = 100'000;
    const std::size_t threads =
        std::clamp<std::size_t>(count / kLinesPerThread, 1, std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> helpers;
    const std::size_t stretch = (count + threads - 1) / threads;
    for (std::size_t t = 1; t < threads; ++t)
        helpers.emplace_back(format, std::min(count, t * stretch), std::min(count, (t + 1) * stretch));
    format(0, std::min(count, stretch));
    for (std::thread& helper : helpers)
        helper.join();
    return lines;
}

}  // namespace

CTesseraDlg* DialogPointer()
{
    return g_dialog;
}

CTesseraDlg::CTesseraDlg(QWidget* parent) : QDialog(parent)
{
    Q_INIT_RESOURCE(tessera);
    for (const int size : {48, 32, 16})
        m_hIcon.addFile(QStringLiteral(":/icons/tessera-%1.png").arg(size), QSize(size, size));

    BuildDialog(*this);
    OnInitDialog();
    desktop_ = std::make_unique<DesktopSession>(*this);
}

CTesseraDlg::~CTesseraDlg()
{
    // Normally unreachable with a job running (the dialog refuses to close
    // then); if it happens, stop the worker and serve its calls until it has
    // returned, so it never reaches a destroyed control.
    if (jobRunning_) {
        abort_ = true;
        while (jobRunning_)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (g_dialog == this)
        g_dialog = nullptr;
}

void CTesseraDlg::DoDataExchange()
{
    for (const TemplateItem& item : kDialogItems) {
        const int i = item.binding.index;
        switch (item.binding.member) {
        case Member::None: break;
        case Member::Edit: edits[i] = FindControl<QWidget>(*this, item.id); break;
        case Member::Button: buttons[i] = FindControl<QPushButton>(*this, item.id); break;
        case Member::List:
            lists[i] = FindControl<QListView>(*this, item.id);
            models_[i] = static_cast<QStringListModel*>(lists[i]->model());
            break;
        case Member::ProgressBar: progress = FindControl<QProgressBar>(*this, item.id); break;
        case Member::StatusLine: status = FindControl<QLabel>(*this, item.id); break;
        }
    }
}

void CTesseraDlg::OnInitDialog()
{
    DoDataExchange();
    ConnectMessageMap();
    // Editing a refused field takes its mark away.
    for (int edit = 0; edit < kEditCount; ++edit) {
        if (auto* line = qobject_cast<QLineEdit*>(edits[edit]))
            connect(line, &QLineEdit::textChanged, this, [this, edit] { ClearRefused(edit); });
        else if (auto* multi = qobject_cast<QPlainTextEdit*>(edits[edit]))
            connect(multi, &QPlainTextEdit::textChanged, this, [this, edit] { ClearRefused(edit); });
    }
    setWindowIcon(m_hIcon);
    tessera::ApplyProcessSettings("log.txt");
    g_dialog = this;
    progress->setRange(0, tessera::kProgressRange);
    progress->setValue(0);
    listActions_ = new ListActions(*this);  // menus, keys and tooltips of the two lists
    // The first enabled tab stop: Abort is disabled, so Exit.
    buttons[kButtonExit]->setFocus(Qt::OtherFocusReason);
}

void CTesseraDlg::ConnectMessageMap()
{
    for (const TemplateItem& item : kDialogItems) {
        if (!item.handler)
            continue;
        QPushButton* button = FindControl<QPushButton>(*this, item.id);
        const CommandHandler handler = item.handler;
        connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    }
}

bool CTesseraDlg::OnCommand(int id)
{
    const auto it = std::find_if(std::begin(kDialogItems), std::end(kDialogItems),
                                 [id](const TemplateItem& item) { return item.id == id && item.handler; });
    if (it == std::end(kDialogItems))
        return false;
    (this->*(it->handler))();
    return true;
}

// --- Fields and lists -------------------------------------------------------

namespace {

// The lines of a multi-line field joined with CR LF, each as it is stored:
// toPlainText() would turn a no-break space into a blank and a line
// separator into a line break.
QString MultiLineText(const QPlainTextEdit& edit)
{
    QStringList lines;
    for (QTextBlock block = edit.document()->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    return lines.join(QLatin1String("\r\n"));
}

}  // namespace

std::string CTesseraDlg::FieldText(int edit) const
{
    QString text;
    if (const auto* line = qobject_cast<const QLineEdit*>(edits[edit]))
        text = line->text();
    else if (const auto* multi = qobject_cast<const QPlainTextEdit*>(edits[edit]))
        text = MultiLineText(*multi);
    std::string bytes = TextToPath(text);
    // The text ends at its first zero byte, as a C string would.
    bytes.resize(std::min(bytes.size(), bytes.find('\0')));
    // A typed relative destination is taken from the folder the program was
    // started in, as the names on its command line are, never from the
    // program's own folder that start-up makes current.
    if (edit == kEditJoinDestination && !bytes.empty() && bytes.front() != '/' &&
        !tessera::StartDirectory().empty())
        bytes = tessera::StartDirectory() + "/" + bytes;
    return bytes;
}

void CTesseraDlg::SetFieldText(int edit, const QString& text)
{
    if (auto* line = qobject_cast<QLineEdit*>(edits[edit]))
        line->setText(text);
    else if (auto* multi = qobject_cast<QPlainTextEdit*>(edits[edit]))
        multi->setPlainText(text);
}

QStringList CTesseraDlg::ListLines(int list) const
{
    return models_[list]->stringList();
}

int CTesseraDlg::ListCount(int list) const
{
    return models_[list]->rowCount();
}

std::vector<std::string> CTesseraDlg::ListLines(int list, std::size_t first, std::size_t count) const
{
    const QStringList& lines = models_[list]->stringList();
    const auto size = static_cast<std::size_t>(lines.size());
    std::vector<std::string> out;
    for (std::size_t i = first; i < size && i - first < count; ++i)
        out.push_back(TextToPath(lines.at(static_cast<qsizetype>(i))));
    return out;
}

void CTesseraDlg::AppendLines(int list, const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    QStringListModel* model = models_[list];
    const int current = lists[list]->currentIndex().row();
    const bool selected = lists[list]->selectionModel()->isRowSelected(current, {});
    // One reset of the whole list: a million lines land in one step instead of
    // a million row insertions.
    QStringList all = model->stringList();
    all.append(lines);
    model->setStringList(all);
    if (current >= 0) {
        const QModelIndex index = model->index(current);
        lists[list]->selectionModel()->setCurrentIndex(
            index, selected ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::NoUpdate);
    }
}

void CTesseraDlg::InsertLine(int list, int row, const QString& line)
{
    QStringListModel* model = models_[list];
    model->insertRows(row, 1);
    model->setData(model->index(row), line);
}

std::size_t CTesseraDlg::SplitListRoom() const
{
    return tessera::PlanRoom(static_cast<std::size_t>(ListCount(kListSplit)));
}

std::int64_t CTesseraDlg::SourceSize()
{
    const std::string path = FieldText(kEditSource);
    sourceWhy_.clear();
    try {
        tessera::Unsized why = tessera::Unsized::None;
        const std::int64_t size = tessera::FileSize(path, &why);
        if (size >= 0)
            ClearRefused(kEditSource);
        else
            sourceWhy_ = SourceHint(path, why);
        return size;
    } catch (const tessera::FileError& error) {
        QMessageBox box(QMessageBox::Critical, windowTitle(), PathToText(error.what()), QMessageBox::Ok, this);
        // A file name is no markup.
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return -1;
    }
}

void CTesseraDlg::MarkRefused(int edit, const QString& why)
{
    QWidget* field = edits[edit];
    if (!field->property("refused").toBool())
        field->setProperty("toolTipBeforeRefusal", field->toolTip());
    field->setProperty("refused", true);
    field->setToolTip(why);
    field->setStyleSheet(QStringLiteral("%1 { border: 2px solid #d00000; }").arg(field->metaObject()->className()));
}

void CTesseraDlg::ClearRefused(int edit)
{
    QWidget* field = edits[edit];
    if (!field->property("refused").toBool())
        return;
    field->setProperty("refused", false);
    field->setToolTip(field->property("toolTipBeforeRefusal").toString());
    field->setStyleSheet(QString());
}

void CTesseraDlg::ShowRefusal(int edit, const tessera::Refusal& refusal, std::int64_t size)
{
    switch (refusal.reason) {
    case tessera::Reason::None:
        return;
    case tessera::Reason::NoSource:
        // A source that could not be opened has said so in a message box.
        if (!sourceWhy_.isEmpty())
            MarkRefused(kEditSource, sourceWhy_);
        return;
    case tessera::Reason::OpenFailed:
    case tessera::Reason::ReadFailed:
        MarkRefused(kEditSource, RefusalHint(refusal, size));
        return;
    default:
        MarkRefused(edit, RefusalHint(refusal, size));
    }
}

bool CTesseraDlg::RefuseUnreadNumber(int edit)
{
    const tessera::Planned<std::int64_t> number = tessera::ParseFieldNumber(FieldText(edit));
    if (number)
        return false;
    MarkRefused(edit, RefusalHint(number.error(), 0));
    return true;
}

// --- Job reports ------------------------------------------------------------

void CTesseraDlg::SetStatus(const std::string& text)
{
    // The line is a fixed width and a verdict can run past it; the whole
    // text is kept on its tooltip.
    const QString shown = PathToText(text);
    status->setText(shown);
    status->setToolTip(shown);
}

void CTesseraDlg::SetProgress(int position)
{
    progress->setValue(position);
    desktop_->SetProgress(position);
}

void CTesseraDlg::ApplyControlStates(const ControlStates& states)
{
    for (int i = 0; i < kButtonCount; ++i)
        buttons[i]->setEnabled(states.buttons[i]);
    for (int i = 0; i < kEditCount; ++i)
        edits[i]->setEnabled(states.edits[i]);
    for (int i = 0; i < kListCount; ++i)
        lists[i]->setEnabled(states.lists[i]);
}

// --- File selection and drop ------------------------------------------------

void CTesseraDlg::OnBrowseSource()
{
    // Any name is taken, also one of a file that does not exist yet.
    QFileDialog chooser(this);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setDirectory(tessera::ui::StartFolder(FieldText(kEditSource)));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    tessera::ui::RememberFolder(chooser.selectedFiles().constFirst());
    const std::optional<std::string> path = ExactChosenPath(chooser.selectedFiles().constFirst());
    if (!path)
        return;
    SetFieldText(kEditSource, PathToText(*path));
    models_[kListSplit]->setStringList({});
}

void CTesseraDlg::OnBrowseDestination()
{
    QFileDialog chooser(this);
    chooser.setAcceptMode(QFileDialog::AcceptSave);  // asks before taking an existing file
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setDirectory(tessera::ui::StartFolder(FieldText(kEditJoinDestination)));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    tessera::ui::RememberFolder(chooser.selectedFiles().constFirst());
    const std::optional<std::string> path = ExactChosenPath(chooser.selectedFiles().constFirst());
    if (path)
        SetFieldText(kEditJoinDestination, PathToText(*path));
}

std::optional<std::string> CTesseraDlg::ExactChosenPath(const QString& chosen)
{
    std::optional<std::string> path = ChosenPath(chosen);
    if (!path) {
        QMessageBox box(QMessageBox::Warning, windowTitle(),
                        QStringLiteral("ファイル名を正しく読み取れないため、このファイルは使えません : ") + chosen,
                        QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    return path;
}

void CTesseraDlg::OnDeleteJoinItem()
{
    DeleteSelectedLine(kListJoin);
}

void CTesseraDlg::OnClearJoinList()
{
    models_[kListJoin]->setStringList({});
}

void CTesseraDlg::OnDropFiles(const std::vector<std::string>& paths, QPoint point)
{
    const QRect sourceField = edits[kEditSource]->geometry();
    const QRect joinList = lists[kListJoin]->geometry();
    QStringList joined;
    for (const std::string& path : paths) {
        if (!tessera::IsRegularFile(path))
            continue;
        if (sourceField.contains(point)) {
            models_[kListSplit]->setStringList({});
            SetFieldText(kEditSource, PathToText(path));
        } else if (joinList.contains(point)) {
            joined.append(PathToText(path));
        }
    }
    AppendLines(kListJoin, joined);
}

void CTesseraDlg::AcceptFileDrag(QDragMoveEvent* event) const
{
    if (!jobRunning_ && !DroppedPaths(event->mimeData()).empty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CTesseraDlg::dragEnterEvent(QDragEnterEvent* event)
{
    AcceptFileDrag(event);
}

void CTesseraDlg::dragMoveEvent(QDragMoveEvent* event)
{
    AcceptFileDrag(event);
}

void CTesseraDlg::dropEvent(QDropEvent* event)
{
    // A running job reads the source field and the split list: they must not
    // change under it.
    if (jobRunning_) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    OnDropFiles(DroppedPaths(event->mimeData()), event->position().toPoint());
}

// --- Split list and the planning tools --------------------------------------

void CTesseraDlg::DeleteSelectedLine(int list)
{
    // Nothing selected, nothing deleted; no other line is selected after it.
    const QModelIndex current = lists[list]->selectionModel()->currentIndex();
    if (!current.isValid() || !lists[list]->selectionModel()->isSelected(current))
        return;
    models_[list]->removeRows(current.row(), 1);
    lists[list]->selectionModel()->clear();
}

void CTesseraDlg::OnDeleteEntry()
{
    DeleteSelectedLine(kListSplit);
}

void CTesseraDlg::OnClearSplitList()
{
    models_[kListSplit]->setStringList({});
}

// A refused tool adds nothing and says nothing, whatever the reason; the
// field it refused is marked (MarkRefused).

void CTesseraDlg::OnAddExtract()
{
    ClearRefused(kEditExtractOffset);
    ClearRefused(kEditExtractSize);
    const std::int64_t size = SourceSize();
    const std::int64_t offset = tessera::ParseNumber(FieldText(kEditExtractOffset));
    const std::int64_t length = tessera::ParseNumber(FieldText(kEditExtractSize));
    const QStringList lines = models_[kListSplit]->stringList();
    const tessera::Planned<tessera::PlacedEntry> placed = tessera::PlaceExtract(
        static_cast<std::size_t>(lines.size()),
        [&lines](std::size_t row) { return lines[static_cast<qsizetype>(row)].toStdString(); }, size, offset,
        length);
    if (!placed) {
        if (placed.reason() == tessera::Reason::NotANumber)
            RefuseUnreadNumber(kEditExtractOffset) || RefuseUnreadNumber(kEditExtractSize);
        else
            ShowRefusal(offset > size || placed.reason() == tessera::Reason::TooManyLines ? kEditExtractOffset
                                                                                          : kEditExtractSize,
                        placed.error(), size);
        return;
    }
    InsertLine(kListSplit, static_cast<int>(placed->row), QString::fromStdString(tessera::FormatEntry(placed->entry)));
}

void CTesseraDlg::OnAddRange()
{
    ClearRefused(kEditRangeStart);
    ClearRefused(kEditRangeEnd);
    const std::int64_t size = SourceSize();
    const std::int64_t start = tessera::ParseNumber(FieldText(kEditRangeStart));
    const std::int64_t end = tessera::ParseNumber(FieldText(kEditRangeEnd));
    const tessera::Planned<tessera::SplitEntry> entry =
        tessera::AppendRange(static_cast<std::size_t>(ListCount(kListSplit)), size, start, end);
    if (!entry) {
        if (entry.reason() == tessera::Reason::NotANumber)
            RefuseUnreadNumber(kEditRangeStart) || RefuseUnreadNumber(kEditRangeEnd);
        else
            ShowRefusal(entry.reason() == tessera::Reason::TooManyLines ? kEditRangeStart : kEditRangeEnd,
                        entry.error(), size);
        return;
    }
    AppendLines(kListSplit, {QString::fromStdString(tessera::FormatEntry(*entry))});
    // The next range begins where this one ended, exactly as typed.
    SetFieldText(kEditRangeStart, PathToText(FieldText(kEditRangeEnd)));
    SetFieldText(kEditRangeEnd, QString());
}

void CTesseraDlg::AddEntries(const tessera::Planned<std::vector<tessera::SplitEntry>>& entries)
{
    if (entries)
        AppendLines(kListSplit, Lines(*entries));
}

void CTesseraDlg::OnAddFixedSize()
{
    ClearRefused(kEditPieceSize);
    const std::int64_t size = SourceSize();
    const std::int64_t piece = tessera::ParseNumber(FieldText(kEditPieceSize));
    const auto entries = tessera::PlanFixedSize(size, piece, SplitListRoom());
    if (entries.reason() == tessera::Reason::NotANumber)
        RefuseUnreadNumber(kEditPieceSize);
    else
        ShowRefusal(kEditPieceSize, entries.error(), size);
    AddEntries(entries);
}

void CTesseraDlg::OnAddEqualSplit()
{
    ClearRefused(kEditPieceCount);
    const std::int64_t size = SourceSize();
    const std::int64_t number = tessera::ParseNumber(FieldText(kEditPieceCount));
    const auto entries = tessera::PlanEqualSplit(size, tessera::NarrowPieceCount(number), SplitListRoom());
    if (entries.reason() == tessera::Reason::NotANumber || entries.reason() == tessera::Reason::Zero) {
        // A count past 32 bits reads as another count: say it is too large.
        if (!RefuseUnreadNumber(kEditPieceCount))
            MarkRefused(kEditPieceCount,
                        RefusalHint(tessera::Refuse(number > INT32_MAX ? tessera::Reason::TooLarge : entries.reason()),
                                    size));
    } else {
        ShowRefusal(kEditPieceCount, entries.error(), size);
    }
    AddEntries(entries);
}

void CTesseraDlg::OnAddBoundaries()
{
    ClearRefused(kEditBoundaries);
    const std::int64_t size = SourceSize();
    if (size < 0) {
        ShowRefusal(kEditBoundaries, tessera::Refuse(tessera::Reason::NoSource), size);
        return;
    }
    const auto entries = tessera::PlanBoundaries(FieldText(kEditBoundaries), size, SplitListRoom());
    ShowRefusal(kEditBoundaries, entries.error(), size);
    AddEntries(entries);
}

void CTesseraDlg::OnSearchAddBytes()
{
    ClearRefused(kEditByteSequence);
    const tessera::Planned<std::vector<std::uint8_t>> pattern =
        tessera::ParseHexPattern(FieldText(kEditByteSequence));
    if (!pattern) {
        MarkRefused(kEditByteSequence, RefusalHint(pattern.error(), 0));
        return;
    }
    SearchAndAddEntries(kEditByteSequence, *pattern);
}

void CTesseraDlg::OnSearchAddString()
{
    ClearRefused(kEditString);
    // A character without a code page 932 form is never searched as "?".
    const tessera::Planned<std::string> bytes = tessera::EncodeShiftJis(FieldText(kEditString));
    if (!bytes) {
        MarkRefused(kEditString, RefusalHint(bytes.error(), 0));
        return;
    }
    SearchAndAddEntries(kEditString,
                        std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
}

void CTesseraDlg::SearchAndAddEntries(int edit, std::span<const std::uint8_t> pattern)
{
    const std::int64_t size = SourceSize();
    if (size < 0 || pattern.empty()) {
        ShowRefusal(edit, tessera::Refuse(size < 0 ? tessera::Reason::NoSource : tessera::Reason::Empty), size);
        return;
    }
    std::size_t found = 0;
    const auto entries = tessera::PlanSearch(FieldText(kEditSource), size, pattern, SplitListRoom(),
                                             tessera::SearchReach::Fixed, &found);
    ShowRefusal(edit, entries.error(), size);
    AddEntries(entries);
    if (entries && found == 0)
        MarkRefused(edit, NotFoundHint(size));
}

// --- Jobs -------------------------------------------------------------------

void CTesseraDlg::OnStartSplit()
{
    StartJob(WindowJob::Split);
}

void CTesseraDlg::OnStartJoin()
{
    StartJob(WindowJob::Join);
}

void CTesseraDlg::OnCheckInputs()
{
    StartJob(WindowJob::Verify);
}

void CTesseraDlg::OnRepairInputs()
{
    StartJob(WindowJob::Repair);
}

void CTesseraDlg::StartJob(WindowJob job)
{
    if (jobRunning_)
        return;
    // Closed at once, so a second press cannot start a second job before the
    // worker has switched the controls.
    buttons[kButtonStartSplit]->setEnabled(false);
    buttons[kButtonStartJoin]->setEnabled(false);
    jobRunning_ = true;
    const bool split = job == WindowJob::Split;
    // The file the desktop's notice names: what the job writes, or for a
    // check or repair the first input.
    std::string file = FieldText(split ? kEditSource : kEditJoinDestination);
    if (job == WindowJob::Verify || job == WindowJob::Repair) {
        const std::vector<std::string> first = ListLines(kListJoin, 0, 1);
        file = first.empty() ? std::string() : first.front();
    }
    desktop_->StartJob(file);
    // An Abort pressed for the last job does not stop this one.
    abort_ = false;
    port_ = std::make_unique<CDialogPort>(*this);
    WindowSplitChoices choices;
    if (split)
        choices = listActions_->SplitChoices();
    worker_ = std::thread([this, job, choices = std::move(choices), port = port_.get()] {
        bool threw = false;
        try {
            switch (job) {
            case WindowJob::Split: RunWindowSplit(*port, abort_, choices); break;
            case WindowJob::Join: RunWindowJoin(*port, abort_); break;
            case WindowJob::Verify: RunWindowVerify(*port, abort_); break;
            case WindowJob::Repair: RunWindowRepair(*port, abort_); break;
            }
        } catch (...) {
            threw = true;
        }
        QMetaObject::invokeMethod(this, [this, threw] { OnJobFinished(threw); }, Qt::QueuedConnection);
    });
}

void CTesseraDlg::OnJobFinished(bool threw)
{
    // The worker posted this as its last act: joining only waits for its exit.
    if (worker_.joinable())
        worker_.join();
    jobRunning_ = false;
    if (threw) {
        ApplyControlStates(ControlStatesFor(true));
    } else if (!port_->TouchedControls()) {
        // The job returned without starting (no regular file): undo what the
        // Start handler closed.
        buttons[kButtonStartSplit]->setEnabled(true);
        buttons[kButtonStartJoin]->setEnabled(true);
    }
    desktop_->OnJobFinished(status->text(), threw || port_->TouchedControls());
    port_.reset();
}

void CTesseraDlg::OnAbort()
{
    buttons[kButtonAbort]->setEnabled(false);
    abort_ = true;
}

void CTesseraDlg::OnExit()
{
    if (jobRunning_) {
        QApplication::beep();
        return;
    }
    QDialog::done(QDialog::Rejected);
}

void CTesseraDlg::reject()
{
    OnExit();
}

void CTesseraDlg::done(int result)
{
    if (jobRunning_) {
        QApplication::beep();
        return;
    }
    QDialog::done(result);
}

// --- Keyboard ---------------------------------------------------------------

void CTesseraDlg::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A focused push button is pressed; anywhere else Enter is the
        // command with identifier 1, which is Abort. It never closes the
        // dialog. (The boundary field keeps Enter for its line breaks.)
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        } else {
            OnCommand(1);
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
