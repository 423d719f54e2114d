#include "plan/NameOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace tessera {
namespace {

TEST(CompareNames, Table)
{
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        {"x.2", "x.10", -1},  // a byte order would put x.10 first and corrupt a join
        {"x.10", "x.100", -1},
        {"x.009", "x.010", -1},
        {"x.9", "x.010", -1},
        {"x.02", "x.2", -1},  // equal as numbers: byte order decides
        {"x.2", "x.2", 0},
        {"", "", 0},
        {"", "a", -1},
        {"a", "a.1", -1},
        {"a.1", "b.0", -1},
        {"file2.part1", "file10.part0", -1},  // every run of digits counts
        {"a.18446744073709551616", "a.18446744073709551617", -1},  // beyond 64 bits
        {"a.99999999999999999999", "a.100000000000000000000", -1},
        {"a.txt", "a.1", 1},    // a digit is the byte 0x30..0x39
        {"B", "a", -1},         // bytes, case and all
        {"\xe3\x81\x82.2", "\xe3\x81\x82.10", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareNames(c.a, c.b), c.order) << c.a << " / " << c.b;
        EXPECT_EQ(CompareNames(c.b, c.a), -c.order) << c.b << " / " << c.a;
    }
}

TEST(CompareNames, IsAStrictTotalOrder)
{
    const std::vector<std::string> names = {"", "0", "00", "1", "01", "a", "a0", "a00", "a1", "a01", "a10", "a.1",
                                            "a.01", "a.10", "1a", "01a", "10a", "a1b2", "a01b2", "a1b02", "a1b10"};
    for (const std::string& a : names) {
        EXPECT_EQ(CompareNames(a, a), 0) << a;
        for (const std::string& b : names) {
            if (a != b)
                EXPECT_NE(CompareNames(a, b), 0) << a << " / " << b;
            for (const std::string& c : names) {
                if (NameLess(a, b) && NameLess(b, c))
                    EXPECT_TRUE(NameLess(a, c)) << a << " < " << b << " < " << c;
            }
        }
    }
}

TEST(SeriesNumber, Table)
{
    EXPECT_EQ(SeriesNumber("/v/a.avi.007"), "007");
    EXPECT_EQ(SeriesNumber("a.1"), "1");
    EXPECT_EQ(SeriesNumber("/v/a.avi"), "");
    EXPECT_EQ(SeriesNumber("/v/a."), "");
    EXPECT_EQ(SeriesNumber("/v/a.1x"), "");
    EXPECT_EQ(SeriesNumber("/v.1/a"), "");
    EXPECT_EQ(SeriesNumber("a001"), "");

    EXPECT_EQ(NextSeriesNumber("000"), "001");
    EXPECT_EQ(NextSeriesNumber("009"), "010");  // keeps its width
    EXPECT_EQ(NextSeriesNumber("099"), "100");
    EXPECT_EQ(NextSeriesNumber("999"), "1000");
    EXPECT_EQ(NextSeriesNumber("9"), "10");
    EXPECT_EQ(NextSeriesNumber("99999999999999999999"), "100000000000000000000");
}

struct SeriesCase {
    const char* what;
    std::vector<std::string> lines;
    std::size_t row;
    std::vector<std::string> after;
    std::size_t added;
};

TEST(AddFollowingParts, Table)
{
    // On disk: a.000 to a.004, then a gap, then a.006; b.9 to b.11.
    const std::set<std::string> disk = {"a.000", "a.001", "a.002", "a.003", "a.004", "a.006",
                                        "b.9", "b.10", "b.11", "c.txt"};
    const auto exists = [&](const std::string& name) { return disk.contains(name); };
    const std::vector<SeriesCase> cases = {
        {"from the first, up to the gap", {"a.000"}, 0, {"a.000", "a.001", "a.002", "a.003", "a.004"}, 4},
        {"from the middle", {"a.002"}, 0, {"a.002", "a.003", "a.004"}, 2},
        {"from the last before the gap", {"a.004"}, 0, {"a.004"}, 0},
        {"after the gap", {"a.006"}, 0, {"a.006"}, 0},
        {"the width grows", {"b.9"}, 0, {"b.9", "b.10", "b.11"}, 2},
        {"right after the chosen line",
         {"x", "a.001", "y"}, 1, {"x", "a.001", "a.002", "a.003", "a.004", "y"}, 3},
        {"past the parts that follow already",
         {"a.000", "a.001", "a.002", "z"}, 0, {"a.000", "a.001", "a.002", "a.003", "a.004", "z"}, 2},
        {"a part listed elsewhere stays there",
         {"a.003", "a.000"}, 1, {"a.003", "a.000", "a.001", "a.002", "a.004"}, 3},
        {"no series number", {"c.txt"}, 0, {"c.txt"}, 0},
        {"a series without files", {"d.000"}, 0, {"d.000"}, 0},
        {"no such row", {"a.000"}, 3, {"a.000"}, 0},
    };
    for (const SeriesCase& c : cases) {
        const SeriesResult result = AddFollowingParts(c.lines, c.row, exists);
        EXPECT_EQ(result.lines, c.after) << c.what;
        EXPECT_EQ(result.added, c.added) << c.what;
    }
}

TEST(AddFollowingParts, StopsAtTheLimitWhenEverythingExists)
{
    std::size_t asked = 0;
    const SeriesResult result = AddFollowingParts({"x.0"}, 0, [&](const std::string&) { return ++asked, true; });
    EXPECT_EQ(result.added, kMaxSeriesParts);
    EXPECT_EQ(result.lines.back(), "x." + std::to_string(kMaxSeriesParts));
}

}  // namespace
}  // namespace tessera
