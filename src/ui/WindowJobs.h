#pragma once

#include <atomic>

class CDialogPort;

namespace tessera::ui {

// A split from the window. With checksums, "<source>.sha256" is written
// beside the parts from the digests the job takes as it reads: its name is
// taken before the first part (a name already taken refuses the split,
// shown in the status line), and only a split that ran to its end writes it.
void RunWindowSplit(CDialogPort& port, std::atomic<bool>& abort, bool checksums);

// A join from the window. When a checksum file beside the first input lists
// every input, the inputs are checked against it as they are copied and the
// end text says how the check went; otherwise the join runs as it always
// has.
void RunWindowJoin(CDialogPort& port, std::atomic<bool>& abort);

}  // namespace tessera::ui
