#pragma once

#include <atomic>
#include <string>

#include "engine/recovery/Par2Layout.h"

class CDialogPort;

namespace tessera::ui {

// What the split list's menu adds to a split from the window.
struct WindowSplitChoices {
    // "<source name>.sha256" beside the parts.
    bool checksums = false;
    // "<source name>.par2" and its volumes beside the parts (amount 0: none).
    tessera::Par2Ask recovery;
    // The folder the parts (and the checksum file) go into; empty: beside
    // the source.
    std::string folder;
};

// A split from the window, at the window's pace: the source field and the
// split list as they stand, each part at the lowest free number. With
// checksums, "<source>.sha256" is written beside the parts (RunSplit).
void RunWindowSplit(CDialogPort& port, std::atomic<bool>& abort, const WindowSplitChoices& choices);

// A join from the window: the destination field and the join list, the
// destination created or emptied and written in place. When a checksum file
// beside the first input lists every input, the inputs are checked against
// it as they are copied (RunJoin); otherwise the join runs as it always has.
void RunWindowJoin(CDialogPort& port, std::atomic<bool>& abort);

// The jobs a window runs: the two Start buttons', and the join list menu's
// check and repair of its inputs.
enum class WindowJob { Split, Join, Verify, Repair };

// A check of the join list's inputs, without joining them: against the
// checksum file beside the first input and the recovery set beside it, or
// that set alone (CheckBesideInputs). Refused in the status line when
// neither is there.
void RunWindowVerify(CDialogPort& port, std::atomic<bool>& abort);

// A repair of the join list's inputs from the recovery set beside the first
// input (RecoverySetBesideInputs), as the command line's repair runs it.
// Refused in the status line when there is no set.
void RunWindowRepair(CDialogPort& port, std::atomic<bool>& abort);

}  // namespace tessera::ui
