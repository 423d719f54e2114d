#include "DialogUnits.h"

#include <QFont>
#include <QFontMetrics>

#include <cstdint>
#include <cstdlib>

namespace tessera::ui {

BaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabet / 26 + 1) / 2, metrics.height()};
}

int MulDivRound(int a, int b, int c)
{
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = std::llabs(c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t magnitude = (std::llabs(product) + half) / std::llabs(c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect DialogUnitsToPixels(BaseUnits units, int x, int y, int width, int height)
{
    return QRect(MulDivRound(x, units.x, 4), MulDivRound(y, units.y, 8), MulDivRound(width, units.x, 4),
                 MulDivRound(height, units.y, 8));
}

}  // namespace tessera::ui
