#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>

namespace tessera::ui {

// Where a list box with the sorted style puts a new line: after every line
// that is not greater than it, compared as text (UTF-16 code units, which is
// byte order for the ASCII lines of the split list), so "10 20" goes above
// "9 10". On a list that is not in text order the place still lies after a
// neighbour not greater and before a neighbour greater than the line.
[[nodiscard]] inline qsizetype TextOrderPosition(const QStringList& lines, const QString& line)
{
    const auto after = std::upper_bound(lines.begin(), lines.end(), line, [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    return after - lines.begin();
}

}  // namespace tessera::ui
