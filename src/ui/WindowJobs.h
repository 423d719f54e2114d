#pragma once

#include <atomic>

class CDialogPort;

namespace tessera::ui {

// A split from the window, at the window's pace: the source field and the
// split list as they stand, each part at the lowest free number. With
// checksums, "<source>.sha256" is written beside the parts (RunSplit).
void RunWindowSplit(CDialogPort& port, std::atomic<bool>& abort, bool checksums);

// A join from the window: the destination field and the join list, the
// destination created or emptied and written in place. When a checksum file
// beside the first input lists every input, the inputs are checked against
// it as they are copied (RunJoin); otherwise the join runs as it always has.
void RunWindowJoin(CDialogPort& port, std::atomic<bool>& abort);

}  // namespace tessera::ui
