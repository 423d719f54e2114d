#pragma once

#include <atomic>
#include <string>

class CDialogPort;

namespace tessera::ui {

// What the split list's menu adds to a split from the window.
struct WindowSplitChoices {
    // "<source name>.sha256" beside the parts.
    bool checksums = false;
    // The folder the parts (and the checksum file) go into; empty: beside
    // the source.
    std::string folder;
};

// A split from the window. With checksums, "<source>.sha256" is written
// beside the parts from the digests the job takes as it reads: its name is
// taken before the first part (a name already taken refuses the split,
// shown in the status line), and only a split that ran to its end writes it.
void RunWindowSplit(CDialogPort& port, std::atomic<bool>& abort, const WindowSplitChoices& choices);

// A join from the window. When a checksum file beside the first input lists
// every input, the inputs are checked against it as they are copied and the
// end text says how the check went; otherwise the join runs as it always
// has.
void RunWindowJoin(CDialogPort& port, std::atomic<bool>& abort);

}  // namespace tessera::ui
