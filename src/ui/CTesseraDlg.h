#pragma once

#include <QDialog>
#include <QIcon>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "ControlIndex.h"
#include "JobView.h"
#include "engine/JobPort.h"
#include "plan/Refusal.h"
#include "plan/SplitEntry.h"

class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QStringListModel;
class CDialogPort;
class DesktopSession;
namespace tessera::ui {
class ListActions;
enum class WindowJob;
}

// The program's one window: the split half with its seven planning tools and
// the split list, the join half with the join list, and the job controls.
// Handlers run on the dialog's thread; a job runs on one worker thread that
// reaches the controls only through CDialogPort.
class CTesseraDlg : public QDialog, public JobView {
    Q_OBJECT

public:
    explicit CTesseraDlg(QWidget* parent = nullptr);
    ~CTesseraDlg() override;

    // The field reader: the whole text of edit `edit` as path bytes (UTF-8,
    // see PathText.h), untrimmed, up to its first zero; the lines of the
    // boundary field are separated by "\r\n", each kept as stored.
    [[nodiscard]] std::string FieldText(int edit) const override;
    void SetFieldText(int edit, const QString& text);

    [[nodiscard]] QWidget* Edit(int edit) const { return edits[edit]; }
    [[nodiscard]] QPushButton* Button(int button) const { return buttons[button]; }
    [[nodiscard]] QListView* List(int list) const { return lists[list]; }
    [[nodiscard]] QStringList ListLines(int list) const;
    [[nodiscard]] QProgressBar* ProgressBar() const { return progress; }
    [[nodiscard]] QLabel* StatusLine() const { return status; }
    [[nodiscard]] const QIcon& Icon() const { return m_hIcon; }
    // True from a Start press until the worker has returned.
    [[nodiscard]] bool JobRunning() const { return jobRunning_; }

    // Operations behind the job's port; dialog thread only.
    void SetStatus(const std::string& text) override;
    void SetProgress(int position) override;
    void ApplyControlStates(const ControlStates& states) override;
    [[nodiscard]] QObject& Object() override { return *this; }
    [[nodiscard]] int ListCount(int list) const override;
    // Lines [first, first + count) of a list, fewer at its end.
    [[nodiscard]] std::vector<std::string> ListLines(int list, std::size_t first, std::size_t count) const override;

    // Appends lines at the end of a list, keeping its current line.
    void AppendLines(int list, const QStringList& lines);
    // Inserts a line at a row (the extract tool's place for it, PlaceExtract).
    void InsertLine(int list, int row, const QString& line);

    // Command handlers, reached through the message map (CTesseraDlg.cpp).
    void OnBrowseSource();
    void OnAddExtract();
    void OnAddRange();
    void OnAddFixedSize();
    void OnAddEqualSplit();
    void OnAddBoundaries();
    void OnSearchAddBytes();
    void OnSearchAddString();
    void OnStartSplit();
    void OnDeleteEntry();
    void OnClearSplitList();
    void OnBrowseDestination();
    void OnStartJoin();
    void OnDeleteJoinItem();
    void OnClearJoinList();
    void OnAbort();
    void OnExit();
    // The join list menu's 検査 and 修復: a check, or a repair, of the listed
    // inputs from what lies beside the first of them (WindowJobs.h).
    void OnCheckInputs();
    void OnRepairInputs();

    // Runs the handler that the message map gives for a command identifier;
    // false when the map has none.
    bool OnCommand(int id);

    // Files dropped at point (dialog coordinates), as path bytes: into the
    // source field or appended to the join list, regular files only.
    void OnDropFiles(const std::vector<std::string>& paths, QPoint point);

    // The exact bytes of a name a file dialog gave, or nothing after a
    // message box when they cannot be told (see ChosenPath).
    std::optional<std::string> ExactChosenPath(const QString& chosen);

    // Files from outside the window (command line, file manager), admitted by
    // the rule of a drop: each regular split file in turn becomes the source,
    // regular join files are appended to the join list. The names left out
    // are said in the status line. Paths must be absolute. (OpenFiles.cpp)
    void OpenFiles(const std::vector<std::string>& split, const std::vector<std::string>& join);
    // Says in the status line which files were left out of a list (not
    // there, or no regular file), and a note after them; nothing when there
    // is neither. (OpenFiles.cpp)
    void SayLeftOut(const std::vector<std::string>& paths, const std::string& note = {});

    // Cuts the source in front of every occurrence of pattern, typed into
    // edit (marked when refused).
    void SearchAndAddEntries(int edit, std::span<const std::uint8_t> pattern);
    void AddEntries(const tessera::Planned<std::vector<tessera::SplitEntry>>& entries);

    // Escape and the close box end here: they run the Exit handler.
    void reject() override;
    // Refused (with a beep) while a job runs, whatever path asks.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void DoDataExchange();
    void OnInitDialog();
    void ConnectMessageMap();
    void DeleteSelectedLine(int list);
    void AcceptFileDrag(QDragMoveEvent* event) const;
    // The size of the file in the source field; -1 when there is none, and -1
    // after a message box when it exists but cannot be opened.
    [[nodiscard]] std::int64_t SourceSize();

    // The hint a refused tool leaves: the field it refused is marked (the
    // dynamic property "refused", a red frame) and its tooltip says why,
    // until the field is edited or its tool takes it.
    void MarkRefused(int edit, const QString& why);
    void ClearRefused(int edit);
    // Marks the field a planner's refusal concerns: edit, or the source field
    // when the source has no size or cannot be read. size is the one planned
    // against.
    void ShowRefusal(int edit, const tessera::Refusal& refusal, std::int64_t size);
    // Marks the field of a typed number that does not read; true when so.
    bool RefuseUnreadNumber(int edit);
    [[nodiscard]] std::size_t SplitListRoom() const;

    // Starts a job on the worker thread.
    void StartJob(tessera::ui::WindowJob job);
    void OnJobFinished(bool threw);

    QIcon m_hIcon;
    std::array<QWidget*, kEditCount> edits{};
    std::array<QPushButton*, kButtonCount> buttons{};
    std::array<QListView*, kListCount> lists{};
    QProgressBar* progress = nullptr;
    QLabel* status = nullptr;

    std::array<QStringListModel*, kListCount> models_{};
    std::atomic<bool> abort_{false};
    std::thread worker_;
    std::unique_ptr<CDialogPort> port_;
    bool jobRunning_ = false;
    // Why the last SourceSize() gave -1 without a message box.
    QString sourceWhy_;

    // The lists' menus, and what the split list's menu asks of a split.
    tessera::ui::ListActions* listActions_ = nullptr;
    // Launcher progress, suspend lock and end-of-job notice.
    std::unique_ptr<DesktopSession> desktop_;
};

// The one dialog, set while it initialises; cleared when it goes away.
CTesseraDlg* DialogPointer();
