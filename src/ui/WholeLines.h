#pragma once

class QListView;

namespace tessera::ui {

// Makes every line of a list readable whole: the list scrolls sideways, as far
// as its widest line reaches. The list keeps its place and size; its lines
// keep one common size, so a million lines still lay out at once.
void ShowWholeLines(QListView& list);

}  // namespace tessera::ui
