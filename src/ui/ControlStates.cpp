#include "ControlIndex.h"

namespace {

// An edit is enabled when its entry is 1 and the dialog is idle.
constexpr bool kEditTable[kEditCount] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
// A button is enabled when its entry differs from the idle bit: only Abort
// runs against the rest.
constexpr bool kButtonTable[kButtonCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};

}  // namespace

ControlStates ControlStatesFor(bool idle)
{
    ControlStates states;
    for (int i = 0; i < kButtonCount; ++i)
        states.buttons[i] = kButtonTable[i] != idle;
    for (int i = 0; i < kEditCount; ++i)
        states.edits[i] = kEditTable[i] && idle;
    for (int i = 0; i < kListCount; ++i)
        states.lists[i] = idle;
    return states;
}
