// Times the split list's copy and paste of a full plan through the real
// actions, offscreen: 1,000,000 lines copied, the list emptied, the lines
// pasted back; and reading the same text as a plan file would be read.
//   list_bench
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>

#include <stdlib.h>

#include <cstdio>
#include <string>

#include "CTesseraDlg.h"
#include "plan/PlanText.h"
#include "plan/SplitEntry.h"

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    CTesseraDlg dialog;
    dialog.show();

    QStringList lines;
    lines.reserve(static_cast<qsizetype>(tessera::kMaxSplitLines));
    for (std::size_t i = 0; i < tessera::kMaxSplitLines; ++i)
        lines.append(QString::fromStdString(tessera::FormatEntry(static_cast<std::int64_t>(i) * 4096,
                                                                 static_cast<std::int64_t>(i + 1) * 4096)));
    dialog.AppendLines(kListSplit, lines);
    app.processEvents();

    const auto time = [&](const char* what, auto&& act) {
        QElapsedTimer timer;
        timer.start();
        act();
        app.processEvents();
        std::printf("%s: %.0f ms (%d lines)\n", what, timer.nsecsElapsed() / 1e6, dialog.ListCount(kListSplit));
    };
    const auto trigger = [&](const char* name) { dialog.findChild<QAction*>(QString::fromLatin1(name))->trigger(); };

    time("copy 1,000,000 lines", [&] { trigger("actionSplitCopy"); });
    const std::string text = QApplication::clipboard()->text().toStdString();
    dialog.OnClearSplitList();
    time("paste 1,000,000 lines", [&] { trigger("actionSplitPaste"); });
    const bool same = dialog.ListLines(kListSplit) == lines;

    QElapsedTimer timer;
    timer.start();
    tessera::PlanTextReader reader;
    for (std::size_t i = 0; i < text.size(); i += 1 << 16)
        reader.Feed(std::string_view(text).substr(i, 1 << 16));
    reader.Finish();
    std::printf("read a plan file's text of %zu bytes: %.0f ms (%zu entries)\n", text.size(),
                timer.nsecsElapsed() / 1e6, reader.Entries().size());
    std::printf("pasted list equals the copied one: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}
