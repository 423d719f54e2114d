#include <gtest/gtest.h>

#include <QFont>
#include <QFontInfo>
#include <QStringList>

#include "DialogUnits.h"
#include "plan/TextOrder.h"

namespace {

using tessera::ui::BaseUnits;
using tessera::ui::DialogUnitsToPixels;
using tessera::ui::MulDivRound;
using tessera::TextOrderPosition;

TEST(DialogUnitsTest, RoundsHalvesAwayFromZero)
{
    struct Case {
        int a, b, c, expected;
    } const cases[] = {
        {291, 6, 4, 437},  // 436.5
        {21, 13, 8, 34},   // 34.125
        {14, 13, 8, 23},   // 22.75
        {5, 6, 4, 8},      // 7.5
        {-5, 6, 4, -8},    // -7.5
        {0, 13, 8, 0},
        {1, 1, 3, 0},      // 0.33
        {2, 1, 3, 1},      // 0.67
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDivRound(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
}

TEST(DialogUnitsTest, ConvertsEachCoordinateOnItsOwn)
{
    // x + width rounded apart is not the right edge rounded once.
    EXPECT_EQ(DialogUnitsToPixels(BaseUnits{6, 13}, 7, 316, 281, 8), QRect(11, 514, 422, 13));
    EXPECT_EQ(DialogUnitsToPixels(BaseUnits{7, 17}, 291, 21, 19, 14), QRect(509, 45, 33, 30));
}

TEST(DialogUnitsTest, BaseUnitsOfTheJapaneseUiFont)
{
    QFont font;
    font.setFamilies({"MS UI Gothic", "IPAGothic", "Noto Sans CJK JP"});
    font.setPointSize(9);
    if (QFontInfo(font).family() != "IPAGothic")
        GTEST_SKIP() << "IPAGothic is not installed";
    EXPECT_EQ(tessera::ui::BaseUnitsOf(font), (BaseUnits{6, 13}));
}

TEST(TextOrderTest, InsertsByTextNotByNumber)
{
    EXPECT_EQ(TextOrderPosition({"9 10"}, "10 20"), 0);
    EXPECT_EQ(TextOrderPosition({"10 20", "9 10"}, "100 100"), 1);
    EXPECT_EQ(TextOrderPosition({}, "0 1"), 0);
    EXPECT_EQ(TextOrderPosition({"0 1", "0 1"}, "0 1"), 2);  // after equal lines
    EXPECT_EQ(TextOrderPosition({"1 2", "3 4"}, "5 6"), 2);
    EXPECT_EQ(TextOrderPosition({"1 2", "3 4"}, "0 6"), 0);
    // Space sorts before digits: "1 5" before "10 5".
    EXPECT_EQ(TextOrderPosition({"1 5", "10 5"}, "1 9"), 1);
}

TEST(TextOrderTest, UnsortedListsStillGetOrderedNeighbours)
{
    // Appended lines break the order; the new line still lands after a
    // neighbour not greater and before a neighbour greater than it.
    const QStringList shuffled = {"5 6", "0 1", "9 9", "2 3", "7 8", "1 1", "4 4"};
    for (const QString line : {"0 0", "3 3", "6 6", "9 99", "44"}) {
        const auto at = static_cast<qsizetype>(TextOrderPosition(shuffled, line));
        if (at > 0)
            EXPECT_LE(shuffled.at(at - 1), line) << line.toStdString();
        if (at < shuffled.size())
            EXPECT_GT(shuffled.at(at), line) << line.toStdString();
    }
}

}  // namespace
