#include "DialogBuilder.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringListModel>

#include <climits>
#include <utility>
#include <vector>

#include "DialogTemplate.h"
#include "DialogUnits.h"
#include "WholeLines.h"

namespace tessera::ui {

namespace {

QWidget* MakeControl(const TemplateItem& item, QWidget* parent)
{
    const QString text = QString::fromUtf8(item.text);
    switch (item.kind) {
    case ItemKind::Button: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    case ItemKind::Label: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ItemKind::Group: {
        auto* group = new QGroupBox(text, parent);
        group->setFocusPolicy(Qt::NoFocus);
        return group;
    }
    case ItemKind::Edit: {
        auto* edit = new QLineEdit(text, parent);
        // A pasted text is taken whole, never cut at a length of its own.
        edit->setMaxLength(INT_MAX);
        return edit;
    }
    case ItemKind::MultiEdit: {
        auto* edit = new QPlainTextEdit(text, parent);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setTabChangesFocus(true);
        return edit;
    }
    case ItemKind::List: {
        auto* list = new QListView(parent);
        list->setUniformItemSizes(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setModel(new QStringListModel(list));
        ShowWholeLines(*list);
        return list;
    }
    case ItemKind::Progress: {
        auto* bar = new QProgressBar(parent);
        bar->setOrientation(Qt::Vertical);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return nullptr;
}

// The template's rectangles were drawn for a narrower UI font than the
// Japanese fonts found here: a fixed text that does not fit its control is
// condensed horizontally until it does, so the layout stays exact and no
// text is cut.
void CondenseToFit(QWidget* control, const QString& text, int available)
{
    QFont font = control->font();
    if (available <= 0 || QFontMetrics(font).horizontalAdvance(text) <= available)
        return;
    for (int stretch = 95; stretch >= 50; stretch -= 5) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(text) <= available)
            break;
    }
    control->setFont(font);
}

// Room for the text inside a control of the given kind and width.
int TextRoom(ItemKind kind, int width)
{
    switch (kind) {
    case ItemKind::Label:
        return width;
    case ItemKind::Button:
        return width - 4;
    case ItemKind::Group:
        return width - 14;
    default:
        return 0;
    }
}

// Group boxes as the dialog manager draws them: the frame's top line runs
// through the middle of the title.
constexpr char kGroupBoxStyle[] =
    "QGroupBox { border: 1px solid palette(mid); border-radius: 0px; margin-top: 0.5em; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 5px;"
    " padding: 0px 1px; background-color: palette(window); }";

}  // namespace

void BuildDialog(QDialog& dialog)
{
    QFont font;
    QStringList families;
    for (const char* family : kDialogFontFamilies)
        families.append(QString::fromUtf8(family));
    font.setFamilies(families);
    font.setPointSize(kDialogFrame.pointSize);
    dialog.setFont(font);

    dialog.setWindowTitle(QString::fromUtf8(kDialogFrame.title));
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    const BaseUnits units = BaseUnitsOf(font);
    dialog.setFixedSize(DialogUnitsToPixels(units, 0, 0, kDialogFrame.width, kDialogFrame.height).size());
    dialog.setStyleSheet(QString::fromLatin1(kGroupBoxStyle));

    QWidget* previous = nullptr;
    std::vector<QWidget*> groups;
    std::vector<std::pair<QLabel*, int>> labelNames;
    std::vector<std::pair<QGroupBox*, int>> groupNames;
    for (const TemplateItem& item : kDialogItems) {
        QWidget* control = MakeControl(item, &dialog);
        control->setGeometry(DialogUnitsToPixels(units, item.x, item.y, item.width, item.height));
        control->setEnabled(!(item.flags & Disabled));
        if (item.id != -1)
            control->setProperty("controlId", item.id);
        if (item.binding.member != Member::StatusLine)
            CondenseToFit(control, QString::fromUtf8(item.text), TextRoom(item.kind, control->width()));
        if (item.kind == ItemKind::Group) {
            groups.push_back(control);
            if (item.names != 0)
                groupNames.emplace_back(static_cast<QGroupBox*>(control), item.names);
        } else if (item.kind == ItemKind::Label && item.names != 0) {
            labelNames.emplace_back(static_cast<QLabel*>(control), item.names);
        }
        if (control->focusPolicy() != Qt::NoFocus) {
            if (previous)
                QWidget::setTabOrder(previous, control);
            previous = control;
        }
    }
    // Group boxes frame the controls inside them: keep them underneath, so
    // they never take a click meant for those controls.
    for (auto it = groups.rbegin(); it != groups.rend(); ++it)
        (*it)->lower();

    for (const auto& [label, id] : labelNames) {
        if (QWidget* target = FindControl<QWidget>(dialog, id)) {
            label->setBuddy(target);
            target->setAccessibleName(label->text());
        }
    }
    for (const auto& [group, id] : groupNames) {
        if (QWidget* target = FindControl<QWidget>(dialog, id))
            target->setAccessibleName(group->title());
    }

    // Only the dialog takes drops: an edit would otherwise insert a dropped
    // file's URL as text.
    for (QWidget* child : dialog.findChildren<QWidget*>())
        child->setAcceptDrops(false);
    dialog.setAcceptDrops(true);
}

}  // namespace tessera::ui
