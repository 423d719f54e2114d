#pragma once

#include <array>

// Positions of the dialog's controls in its member arrays. The control-state
// tables and the field reader are indexed by them; the dialog template says
// which control sits at which position.
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

// The enable states while idle (true) or while a job runs (false): only Abort
// runs against the rest, and the two path fields stay disabled.
[[nodiscard]] ControlStates ControlStatesFor(bool idle);
