#pragma once

// The types of the main dialog's template; the data itself is
// res/TesseraDialog.inc. The template is the one place that names a control:
// its identifier, its look, the member it is bound to and the command it runs.

#include "CTesseraDlg.h"
#include "ControlIndex.h"

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

// The dialog member a control is bound to.
enum class Member { None, Edit, Button, List, ProgressBar, StatusLine };
struct Binding {
    Member member = Member::None;
    int index = 0;  // for edits, buttons and lists: the position in their array
};
constexpr Binding AsEdit(EditIndex i) { return {Member::Edit, i}; }
constexpr Binding AsButton(ButtonIndex i) { return {Member::Button, i}; }
constexpr Binding AsList(ListIndex i) { return {Member::List, i}; }
inline constexpr Binding kAsProgressBar{Member::ProgressBar, 0};
inline constexpr Binding kAsStatusLine{Member::StatusLine, 0};
inline constexpr Binding kUnbound{};

using CommandHandler = void (CTesseraDlg::*)();

struct TemplateItem {
    int id;  // -1: no identifier
    ItemKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
    unsigned flags;
    int names;  // label or group box: the id of the control it names, else 0
    Binding binding;
    CommandHandler handler;  // what a click runs, nullptr for none
};

using enum ItemKind;
#include "TesseraDialog.inc"

inline constexpr int kDialogItemCount = static_cast<int>(sizeof kDialogItems / sizeof kDialogItems[0]);
static_assert(kDialogItemCount == 50);

}  // namespace tessera::ui
