#pragma once

#include <QRect>

class QFont;

namespace tessera::ui {

// Pixels per dialog unit, as the dialog manager derives them from a font:
// x = (width of "A".."Z""a".."z" / 26 + 1) / 2 and y = the font's height.
struct BaseUnits {
    int x = 0;
    int y = 0;
    friend bool operator==(const BaseUnits&, const BaseUnits&) = default;
};

[[nodiscard]] BaseUnits BaseUnitsOf(const QFont& font);

// a * b / c rounded half away from zero.
[[nodiscard]] int MulDivRound(int a, int b, int c);

// A rectangle in dialog units to pixels: x and width times x / 4, y and height
// times y / 8, each coordinate rounded on its own.
[[nodiscard]] QRect DialogUnitsToPixels(BaseUnits units, int x, int y, int width, int height);

}  // namespace tessera::ui
