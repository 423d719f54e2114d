#include "CTesseraDlg.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
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
#include <QUrl>

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <vector>

#include "CDialogPort.h"
#include "DesktopSession.h"
#include "DialogTemplate.h"
#include "DialogUnits.h"
#include "StartFolder.h"
#include "TextOrder.h"
#include "app/ProcessSettings.h"
#include "engine/Job.h"
#include "fileio/FileQuery.h"
#include "plan/Boundaries.h"
#include "plan/PatternSearch.h"
#include "plan/RangeBuilders.h"
#include "plan/ShiftJis.h"
#include "plan/SplitEntry.h"

namespace {

using namespace tessera::ui;

CTesseraDlg* g_dialog = nullptr;

// Template identifiers of the members, in member order.
constexpr std::array<int, kEditCount> kEditIds = {1000, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1029, 1024};
constexpr std::array<int, kButtonCount> kButtonIds = {1001, 1003, 1004, 1005, 1006, 1007, 1008, 1028, 1009,
                                                      1010, 1011, 1012, 1013, 1002, 1023, 1, 2};
constexpr std::array<int, kListCount> kListIds = {1022, 1025};
constexpr int kProgressId = 1027;
constexpr int kStatusId = 1026;

// The message map: which handler a command of each identifier runs.
struct CommandEntry {
    int id;
    void (CTesseraDlg::*handler)();
};
constexpr CommandEntry kMessageMap[] = {
    {1001, &CTesseraDlg::OnBrowseSource},
    {1003, &CTesseraDlg::OnAddExtract},
    {1004, &CTesseraDlg::OnAddRange},
    {1007, &CTesseraDlg::OnAddBoundaries},
    {1005, &CTesseraDlg::OnAddFixedSize},
    {1006, &CTesseraDlg::OnAddEqualSplit},
    {1008, &CTesseraDlg::OnSearchAddBytes},
    {1009, &CTesseraDlg::OnStartSplit},
    {1010, &CTesseraDlg::OnDeleteEntry},
    {1011, &CTesseraDlg::OnClearSplitList},
    {1012, &CTesseraDlg::OnBrowseDestination},
    {1013, &CTesseraDlg::OnStartJoin},
    {1002, &CTesseraDlg::OnDeleteJoinItem},
    {1023, &CTesseraDlg::OnClearJoinList},
    {1, &CTesseraDlg::OnAbort},
    {2, &CTesseraDlg::OnExit},
    {1028, &CTesseraDlg::OnSearchAddString},
};

template <typename Widget>
Widget* FindControl(const QWidget& dialog, int id)
{
    for (Widget* w : dialog.findChildren<Widget*>(Qt::FindDirectChildrenOnly)) {
        if (w->property("controlId").toInt() == id)
            return w;
    }
    return nullptr;
}

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

QWidget* MakeControl(const TemplateItem& item, QWidget* parent)
{
    const QString text = QString::fromUtf8(item.text);
    switch (item.kind) {
    case ItemKind::Button: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    case ItemKind::Label: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ItemKind::Group: {
        auto* group = new QGroupBox(text, parent);
        group->setFocusPolicy(Qt::NoFocus);
        return group;
    }
    case ItemKind::Edit:
        return new QLineEdit(text, parent);
    case ItemKind::MultiEdit: {
        auto* edit = new QPlainTextEdit(text, parent);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setTabChangesFocus(true);
        return edit;
    }
    case ItemKind::List: {
        auto* list = new QListView(parent);
        list->setUniformItemSizes(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setModel(new QStringListModel(list));
        return list;
    }
    case ItemKind::Progress: {
        auto* bar = new QProgressBar(parent);
        bar->setOrientation(Qt::Vertical);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return nullptr;
}

// The template's rectangles were drawn for a narrower UI font than the
// Japanese fonts found here: a fixed text that does not fit its control is
// condensed horizontally until it does, so the layout stays exact and no
// text is cut.
void CondenseToFit(QWidget* control, const QString& text, int available)
{
    QFont font = control->font();
    if (available <= 0 || QFontMetrics(font).horizontalAdvance(text) <= available)
        return;
    for (int stretch = 95; stretch >= 50; stretch -= 5) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(text) <= available)
            break;
    }
    control->setFont(font);
}

// Room for the text inside a control of the given kind and width.
int TextRoom(ItemKind kind, int width)
{
    switch (kind) {
    case ItemKind::Label:
        return width;
    case ItemKind::Button:
        return width - 4;
    case ItemKind::Group:
        return width - 14;
    default:
        return 0;
    }
}

// Group boxes as the dialog manager draws them: the frame's top line runs
// through the middle of the title.
constexpr char kGroupBoxStyle[] =
    "QGroupBox { border: 1px solid palette(mid); border-radius: 0px; margin-top: 0.5em; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 5px;"
    " padding: 0px 1px; background-color: palette(window); }";

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

    BuildFromTemplate();
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

void CTesseraDlg::BuildFromTemplate()
{
    QFont font;
    QStringList families;
    for (const char* family : kDialogFontFamilies)
        families.append(QString::fromUtf8(family));
    font.setFamilies(families);
    font.setPointSize(kDialogFrame.pointSize);
    setFont(font);

    setWindowTitle(QString::fromUtf8(kDialogFrame.title));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    const BaseUnits units = BaseUnitsOf(font);
    setFixedSize(DialogUnitsToPixels(units, 0, 0, kDialogFrame.width, kDialogFrame.height).size());
    setStyleSheet(QString::fromLatin1(kGroupBoxStyle));

    QWidget* previous = nullptr;
    std::vector<QWidget*> groups;
    std::vector<std::pair<QLabel*, int>> labelNames;
    std::vector<std::pair<QGroupBox*, int>> groupNames;
    for (const TemplateItem& item : kDialogItems) {
        QWidget* control = MakeControl(item, this);
        control->setGeometry(DialogUnitsToPixels(units, item.x, item.y, item.width, item.height));
        control->setEnabled(!(item.flags & Disabled));
        if (item.id != -1)
            control->setProperty("controlId", item.id);
        if (item.id != kStatusId)
            CondenseToFit(control, QString::fromUtf8(item.text), TextRoom(item.kind, control->width()));
        if (item.kind == ItemKind::Group) {
            groups.push_back(control);
            if (item.names != 0)
                groupNames.emplace_back(static_cast<QGroupBox*>(control), item.names);
        } else if (item.kind == ItemKind::Label && item.names != 0) {
            labelNames.emplace_back(static_cast<QLabel*>(control), item.names);
        }
        if (control->focusPolicy() != Qt::NoFocus) {
            if (previous)
                QWidget::setTabOrder(previous, control);
            previous = control;
        }
    }
    // Group boxes frame the controls inside them: keep them underneath, so
    // they never take a click meant for those controls.
    for (auto it = groups.rbegin(); it != groups.rend(); ++it)
        (*it)->lower();

    for (const auto& [label, id] : labelNames) {
        if (QWidget* target = FindControl<QWidget>(*this, id)) {
            label->setBuddy(target);
            target->setAccessibleName(label->text());
        }
    }
    for (const auto& [group, id] : groupNames) {
        if (QWidget* target = FindControl<QWidget>(*this, id))
            target->setAccessibleName(group->title());
    }

    // Only the dialog takes drops: an edit would otherwise insert a dropped
    // file's URL as text.
    for (QWidget* child : findChildren<QWidget*>())
        child->setAcceptDrops(false);
    setAcceptDrops(true);
}

void CTesseraDlg::DoDataExchange()
{
    for (int i = 0; i < kEditCount; ++i)
        edits[i] = FindControl<QWidget>(*this, kEditIds[i]);
    for (int i = 0; i < kButtonCount; ++i)
        buttons[i] = FindControl<QPushButton>(*this, kButtonIds[i]);
    for (int i = 0; i < kListCount; ++i) {
        lists[i] = FindControl<QListView>(*this, kListIds[i]);
        models_[i] = static_cast<QStringListModel*>(lists[i]->model());
    }
    progress = FindControl<QProgressBar>(*this, kProgressId);
    status = FindControl<QLabel>(*this, kStatusId);
}

void CTesseraDlg::OnInitDialog()
{
    DoDataExchange();
    ConnectMessageMap();
    setWindowIcon(m_hIcon);
    tessera::ApplyProcessSettings("log.txt");
    g_dialog = this;
    progress->setRange(0, tessera::kProgressRange);
    progress->setValue(0);
    // The first enabled tab stop: Abort is disabled, so Exit.
    buttons[kButtonExit]->setFocus(Qt::OtherFocusReason);
}

void CTesseraDlg::ConnectMessageMap()
{
    for (const CommandEntry& entry : kMessageMap) {
        QPushButton* button = FindControl<QPushButton>(*this, entry.id);
        const auto handler = entry.handler;
        connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    }
}

bool CTesseraDlg::OnCommand(int id)
{
    const auto it = std::find_if(std::begin(kMessageMap), std::end(kMessageMap),
                                 [id](const CommandEntry& entry) { return entry.id == id; });
    if (it == std::end(kMessageMap))
        return false;
    (this->*(it->handler))();
    return true;
}

// --- Fields and lists -------------------------------------------------------

std::string CTesseraDlg::FieldText(int edit) const
{
    QString text;
    if (const auto* line = qobject_cast<const QLineEdit*>(edits[edit]))
        text = line->text();
    else if (const auto* multi = qobject_cast<const QPlainTextEdit*>(edits[edit]))
        text = multi->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    std::string bytes = text.toStdString();
    // The text ends at its first zero byte, as a C string would.
    bytes.resize(std::min(bytes.size(), bytes.find('\0')));
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

std::string CTesseraDlg::ListLine(int list, int index) const
{
    const QStringList lines = models_[list]->stringList();
    if (index < 0 || index >= lines.size())
        return {};
    return lines.at(index).toStdString();
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

void CTesseraDlg::InsertInTextOrder(int list, const QString& line)
{
    QStringListModel* model = models_[list];
    const int row = static_cast<int>(TextOrderPosition(model->stringList(), line));
    model->insertRows(row, 1);
    model->setData(model->index(row), line);
}

std::size_t CTesseraDlg::SplitListRoom() const
{
    const auto count = static_cast<std::size_t>(ListCount(kListSplit));
    return count >= tessera::kMaxSplitLines ? 0 : tessera::kMaxSplitLines - count;
}

std::int64_t CTesseraDlg::SourceSize()
{
    try {
        return tessera::FileSize(FieldText(kEditSource));
    } catch (const tessera::FileError& error) {
        QMessageBox box(QMessageBox::Critical, windowTitle(), QString::fromUtf8(error.what()), QMessageBox::Ok,
                        this);
        box.exec();
        return -1;
    }
}

// --- Job reports ------------------------------------------------------------

void CTesseraDlg::SetStatus(const std::string& text)
{
    status->setText(QString::fromStdString(text));
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
    SetFieldText(kEditSource, chooser.selectedFiles().constFirst());
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
    SetFieldText(kEditJoinDestination, chooser.selectedFiles().constFirst());
}

void CTesseraDlg::OnDeleteJoinItem()
{
    DeleteSelectedLine(kListJoin);
}

void CTesseraDlg::OnClearJoinList()
{
    models_[kListJoin]->setStringList({});
}

void CTesseraDlg::OnDropFiles(const QStringList& paths, QPoint point)
{
    const QRect sourceField = edits[kEditSource]->geometry();
    const QRect joinList = lists[kListJoin]->geometry();
    QStringList joined;
    for (const QString& path : paths) {
        if (!tessera::IsRegularFile(path.toStdString()))
            continue;
        if (sourceField.contains(point)) {
            models_[kListSplit]->setStringList({});
            SetFieldText(kEditSource, path);
        } else if (joinList.contains(point)) {
            joined.append(path);
        }
    }
    AppendLines(kListJoin, joined);
}

namespace {

QStringList LocalFiles(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

}  // namespace

void CTesseraDlg::AcceptFileDrag(QDragMoveEvent* event) const
{
    if (!jobRunning_ && !LocalFiles(event->mimeData()).isEmpty()) {
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
    OnDropFiles(LocalFiles(event->mimeData()), event->position().toPoint());
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

void CTesseraDlg::OnAddExtract()
{
    const std::int64_t size = SourceSize();
    const std::int64_t offset = tessera::ParseNumber(FieldText(kEditExtractOffset));
    const std::int64_t length = tessera::ParseNumber(FieldText(kEditExtractSize));
    const std::optional<tessera::SplitEntry> entry = tessera::PlanExtract(size, offset, length);
    if (!entry || SplitListRoom() == 0)
        return;
    InsertInTextOrder(kListSplit, QString::fromStdString(tessera::FormatEntry(*entry)));
}

void CTesseraDlg::OnAddRange()
{
    const std::int64_t size = SourceSize();
    const std::int64_t start = tessera::ParseNumber(FieldText(kEditRangeStart));
    const std::int64_t end = tessera::ParseNumber(FieldText(kEditRangeEnd));
    const std::optional<tessera::SplitEntry> entry = tessera::PlanRange(size, start, end);
    if (!entry || SplitListRoom() == 0)
        return;
    AppendLines(kListSplit, {QString::fromStdString(tessera::FormatEntry(*entry))});
    // The next range begins where this one ended, exactly as typed.
    SetFieldText(kEditRangeStart, QString::fromStdString(FieldText(kEditRangeEnd)));
    SetFieldText(kEditRangeEnd, QString());
}

void CTesseraDlg::OnAddFixedSize()
{
    const std::int64_t size = SourceSize();
    const std::int64_t piece = tessera::ParseNumber(FieldText(kEditPieceSize));
    AppendLines(kListSplit, Lines(tessera::PlanFixedSize(size, piece, SplitListRoom())));
}

void CTesseraDlg::OnAddEqualSplit()
{
    const std::int64_t size = SourceSize();
    const std::int32_t count = tessera::NarrowPieceCount(tessera::ParseNumber(FieldText(kEditPieceCount)));
    AppendLines(kListSplit, Lines(tessera::PlanEqualSplit(size, count, SplitListRoom())));
}

void CTesseraDlg::OnAddBoundaries()
{
    const std::int64_t size = SourceSize();
    if (size < 0)
        return;
    const auto entries = tessera::PlanBoundaries(FieldText(kEditBoundaries), size, SplitListRoom());
    if (entries)
        AppendLines(kListSplit, Lines(*entries));
}

void CTesseraDlg::OnSearchAddBytes()
{
    const std::vector<std::uint8_t> pattern = tessera::ParseHexPattern(FieldText(kEditByteSequence));
    SearchAndAddEntries(pattern);
}

void CTesseraDlg::OnSearchAddString()
{
    // A character without a code page 932 form is never searched as "?".
    const std::optional<std::string> bytes = tessera::EncodeShiftJis(FieldText(kEditString));
    if (!bytes)
        return;
    SearchAndAddEntries(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
}

void CTesseraDlg::SearchAndAddEntries(std::span<const std::uint8_t> pattern)
{
    const std::int64_t size = SourceSize();
    if (size < 0 || pattern.empty())
        return;
    AppendLines(kListSplit, Lines(tessera::PlanSearch(FieldText(kEditSource), size, pattern, SplitListRoom())));
}

// --- Jobs -------------------------------------------------------------------

void CTesseraDlg::OnStartSplit()
{
    StartJob(&tessera::RunSplitJob);
}

void CTesseraDlg::OnStartJoin()
{
    StartJob(&tessera::RunJoinJob);
}

void CTesseraDlg::StartJob(JobProcedure job)
{
    if (jobRunning_)
        return;
    // Closed at once, so a second press cannot start a second job before the
    // worker has switched the controls.
    buttons[kButtonStartSplit]->setEnabled(false);
    buttons[kButtonStartJoin]->setEnabled(false);
    jobRunning_ = true;
    desktop_->StartJob(FieldText(job == &tessera::RunSplitJob ? kEditSource : kEditJoinDestination));
    port_ = std::make_unique<CDialogPort>(*this);
    worker_ = std::thread([this, job, port = port_.get()] {
        bool threw = false;
        try {
            job(*port, abort_);
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
        ApplyControlStates(tessera::ControlStatesFor(true));
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
