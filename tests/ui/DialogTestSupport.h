#pragma once

// Helpers for tests that drive the real dialog headless.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "CTesseraDlg.h"
#include "PathText.h"

namespace tessera::test {

// Text or path bytes as the dialog shows them.
inline QString Q(const std::string& text)
{
    return PathToText(text);
}

inline QString StatusText(const CTesseraDlg& dialog)
{
    return dialog.StatusLine()->text();
}

// Which controls are enabled now, indexed as the control-state tables are.
inline ControlStates EnableStates(const CTesseraDlg& dialog)
{
    ControlStates s;
    for (int i = 0; i < kButtonCount; ++i)
        s.buttons[i] = dialog.Button(i)->isEnabled();
    for (int i = 0; i < kEditCount; ++i)
        s.edits[i] = dialog.Edit(i)->isEnabled();
    for (int i = 0; i < kListCount; ++i)
        s.lists[i] = dialog.List(i)->isEnabled();
    return s;
}

// A file URI for the path's bytes, percent-encoded byte by byte as file
// managers write them.
inline QByteArray FileUri(const std::string& path)
{
    QByteArray uri("file://");
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            std::string_view("/-._~").find(c) != std::string_view::npos)
            uri += c;
        else
            uri += '%' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
    }
    return uri;
}

// Drags mime over the dialog and drops it at point, as the window system
// delivers a drop. True when the dialog took the drop.
inline bool DropMime(CTesseraDlg& dialog, QPoint point, QMimeData& mime)
{
    QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    QDragMoveEvent move(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &move);
    QDropEvent drop(QPointF(point), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

// Drops local files (path bytes) at point, named in a raw text/uri-list.
inline bool DropFiles(CTesseraDlg& dialog, QPoint point, const std::vector<std::string>& paths)
{
    QByteArray list;
    for (const std::string& path : paths)
        list += FileUri(path) + "\r\n";
    QMimeData mime;
    mime.setData(QStringLiteral("text/uri-list"), list);
    return DropMime(dialog, point, mime);
}

// Runs act, which opens a modal window; handle is called with that window
// once it is up and must close it. It is called again on later ticks while the
// window stays up (a file dialog may still be loading its folder).
template <typename Window>
void WithModal(const std::function<void()>& act, const std::function<void(Window*)>& handle)
{
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget())) {
            handle(window);
        }
    });
    poll.start();
    act();
    poll.stop();
}

// Types path into a file dialog's name field and accepts it. (selectFile
// leaves the field alone while it has the focus.)
inline void ChooseFile(QFileDialog* chooser, const std::string& path)
{
    if (auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(Q(path));
    static_cast<QDialog*>(chooser)->accept();
}

}  // namespace tessera::test
