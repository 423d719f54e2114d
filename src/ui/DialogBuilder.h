#pragma once

#include <QWidget>

class QDialog;

namespace tessera::ui {

// Makes the dialog's controls from its template: the font, the window's size
// and title, every item at its place in pixels with its identifier in the
// dynamic property "controlId", tab order in template order, labels and group
// boxes as the accessible names of what they name, and drops taken by the
// dialog alone.
void BuildDialog(QDialog& dialog);

// The direct child of dialog with that template identifier, or nullptr.
template <typename Widget>
Widget* FindControl(const QWidget& dialog, int id)
{
    for (Widget* w : dialog.findChildren<Widget*>(Qt::FindDirectChildrenOnly)) {
        if (w->property("controlId").toInt() == id)
            return w;
    }
    return nullptr;
}

}  // namespace tessera::ui
