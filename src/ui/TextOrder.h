#pragma once

#include <QString>
#include <QStringList>

namespace tessera::ui {

// Where a list box with the sorted style puts a new line: after every line
// that is not greater than it, compared as text (UTF-16 code units, which is
// byte order for the ASCII lines of the split list), so "10 20" goes above
// "9 10". On a list that is not in text order the place still lies after a
// neighbour not greater and before a neighbour greater than the line.
[[nodiscard]] inline qsizetype TextOrderPosition(const QStringList& lines, const QString& line)
{
    qsizetype low = 0;
    qsizetype high = lines.size();
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (QString::compare(lines.at(middle), line, Qt::CaseSensitive) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

}  // namespace tessera::ui
