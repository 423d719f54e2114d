#pragma once

#include <array>
#include <string>

// Positions of the dialog's controls in its member arrays. The control-state
// tables and the field reader are indexed by them.
enum EditIndex : int {
    kEditSource = 0,
    kEditExtractOffset = 1,
    kEditExtractSize = 2,
    kEditRangeStart = 3,
    kEditRangeEnd = 4,
    kEditPieceSize = 5,
    kEditPieceCount = 6,
    kEditBoundaries = 7,
    kEditByteSequence = 8,
    kEditString = 9,
    kEditJoinDestination = 10,
    kEditCount = 11,
};

enum ButtonIndex : int {
    kButtonBrowseSource = 0,
    kButtonExtractAdd = 1,
    kButtonRangeAdd = 2,
    kButtonFixedSizeAdd = 3,
    kButtonEqualSplitAdd = 4,
    kButtonBoundariesAdd = 5,
    kButtonSearchBytes = 6,
    kButtonSearchString = 7,
    kButtonStartSplit = 8,
    kButtonDeleteEntry = 9,
    kButtonClearSplitList = 10,
    kButtonBrowseDestination = 11,
    kButtonStartJoin = 12,
    kButtonDeleteJoinItem = 13,
    kButtonClearJoinList = 14,
    kButtonAbort = 15,
    kButtonExit = 16,
    kButtonCount = 17,
};

enum ListIndex : int {
    kListSplit = 0,
    kListJoin = 1,
    kListCount = 2,
};

// Enable state of every control, indexed as above.
struct ControlStates {
    std::array<bool, kButtonCount> buttons{};
    std::array<bool, kEditCount> edits{};
    std::array<bool, kListCount> lists{};
    friend bool operator==(const ControlStates&, const ControlStates&) = default;
};

// Everything a worker reads from or writes to the dialog. Each call is handled
// on the dialog's thread and returns when it has been handled there, so a
// worker never touches a control itself.
class DialogPort {
public:
    virtual ~DialogPort() = default;

    // The whole text of edit `edit`, untrimmed.
    virtual std::string FieldText(int edit) = 0;
    virtual int ListCount(int list) = 0;
    // The text of line `index` of list `list`.
    virtual std::string ListLine(int list, int index) = 0;
    // Replaces the status line's text.
    virtual void SetStatus(const std::string& text) = 0;
    // Progress bar position, 0 to kProgressRange.
    virtual void SetProgress(int position) = 0;
    virtual void ApplyControlStates(const ControlStates& states) = 0;
};
