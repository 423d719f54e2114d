#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <string>

#include "ControlIndex.h"
#include "WindowJobs.h"

class CTesseraDlg;
class QAction;
class QKeySequence;
class QMenu;
class QStringListModel;

namespace tessera {
class PlanTextReader;
}

namespace tessera::ui {

// The context menus, keys and tooltips of the dialog's two lists. The join
// list collects files (a file dialog, the rest of a part series), moves a
// line and sorts by name; the split list copies, pastes, saves and opens its
// plan as "start end" text. A split list line's tooltip shows the size of its
// part and the source bytes on both sides of its start. Everything is
// disabled while a job runs. The split list's menu also holds what a split
// from the window writes besides its parts: a checksum file (a setting kept
// with QSettings), and the folder the parts go into (for this window only).
// The join list's menu also fills the list from a checksum file, and checks
// (検査) or repairs (修復) the inputs from the checksum file and recovery set
// beside the first of them.
class ListActions : public QObject {
    Q_OBJECT

public:
    explicit ListActions(CTesseraDlg& dialog);

    // The tooltip of split list line `row`: the part's size, then 16 bytes
    // before and 16 bytes from its start in the source, in hex and as
    // Shift_JIS text. Only the size when the source cannot be read; empty for
    // a line that is not an entry.
    [[nodiscard]] QString SplitLineTip(int row) const;

    // True when a split from the window writes "<source>.sha256" beside its
    // parts (the split list's menu item; off until it is checked).
    [[nodiscard]] static bool SplitWritesChecksums();

    // The recovery set a split from the window writes beside its parts
    // (the split list's submenu; none until chosen).
    [[nodiscard]] static tessera::Par2Ask SplitRecoverySet();

    // What the split list's menu asks of the next split.
    [[nodiscard]] WindowSplitChoices SplitChoices() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddJoinFiles();
    void AddJoinSeries();
    void AddJoinFromChecksums();
    void CheckJoinInputs();
    void RepairJoinInputs();
    void MoveJoinLineUp() { MoveJoinLine(-1); }
    void MoveJoinLineDown() { MoveJoinLine(+1); }
    void MoveJoinLine(int by);
    void SortJoinList();
    void DeleteJoinLine();
    void CopySplitLines();
    void PasteSplitLines();
    void SaveSplitPlan();
    void OpenSplitPlan();
    void DeleteSplitLine();
    void ChooseSplitFolder();
    void ShowSplitFolder();

    QAction* AddAction(int list, const char* name, const char* text, const QKeySequence& keys,
                       void (ListActions::*handler)());
    void UpdateActions();
    [[nodiscard]] bool Idle(int list) const;
    // The selected line, -1 when none (the current line may be unselected).
    [[nodiscard]] int SelectedRow(int list) const;
    [[nodiscard]] int SeriesRow() const;
    [[nodiscard]] QStringListModel* Model(int list) const;
    void Select(int list, int row);
    void AppendPlan(const PlanTextReader& reader, const QString& origin);
    void Tell(const QString& text);

    CTesseraDlg& dialog_;
    std::array<QMenu*, kListCount> menus_{};
    QAction* joinAddFiles_ = nullptr;
    QAction* joinAddSeries_ = nullptr;
    QAction* joinFromChecksums_ = nullptr;
    QAction* joinUp_ = nullptr;
    QAction* joinDown_ = nullptr;
    QAction* joinSort_ = nullptr;
    QAction* joinDelete_ = nullptr;
    QAction* joinCheck_ = nullptr;
    QAction* joinRepair_ = nullptr;
    QAction* splitCopy_ = nullptr;
    QAction* splitPaste_ = nullptr;
    QAction* splitSave_ = nullptr;
    QAction* splitOpen_ = nullptr;
    QAction* splitDelete_ = nullptr;
    QAction* splitChecksums_ = nullptr;
    QMenu* splitRecovery_ = nullptr;
    QAction* splitFolder_ = nullptr;
    // The folder the parts go into; empty: beside the source.
    std::string splitFolderPath_;
};

}  // namespace tessera::ui
