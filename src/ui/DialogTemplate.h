#pragma once

// The types of the main dialog's template; the data itself is
// res/TesseraDialog.inc.

namespace tessera::ui {

enum class ItemKind {
    Button,     // push button
    Label,      // left-aligned static text
    Group,      // group box
    Edit,       // single-line edit with a border and horizontal auto-scroll
    MultiEdit,  // multi-line edit: Enter inserts a line break, no scroll bars
    List,       // single-selection list with a vertical scroll bar
    Progress,   // vertical smooth progress bar with a border
};

enum ItemFlags : unsigned {
    Enabled = 0,
    Disabled = 1,
};

struct DialogFrame {
    const char* title;
    int width;   // dialog units
    int height;
    int pointSize;
};

struct TemplateItem {
    int id;  // -1: no identifier
    ItemKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
    unsigned flags;
    int names;  // label or group box: the id of the control it names, else 0
};

using enum ItemKind;
#include "TesseraDialog.inc"

inline constexpr int kDialogItemCount = static_cast<int>(sizeof kDialogItems / sizeof kDialogItems[0]);
static_assert(kDialogItemCount == 50);

}  // namespace tessera::ui
