#include "engine/recovery/Par2Layout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/recovery/Par2Check.h"
#include "engine/recovery/Par2Create.h"
#include "engine/recovery/Par2Reader.h"
#include "engine/recovery/Par2Repair.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

constexpr std::int64_t MiB = 1 << 20;

Par2Ask Parts(unsigned n, std::uint64_t slices = 0, std::uint64_t sliceSize = 0)
{
    return {Par2Ask::Kind::Parts, n, slices, sliceSize};
}

Par2Ask Percent(unsigned p, std::uint64_t slices = 0, std::uint64_t sliceSize = 0)
{
    return {Par2Ask::Kind::Percent, p, slices, sliceSize};
}

std::vector<std::uint64_t> SlicesPerPart(const std::vector<std::int64_t>& lengths, std::uint64_t sliceSize)
{
    std::vector<std::uint64_t> slices;
    for (const std::int64_t length : lengths)
        if (length > 0)
            slices.push_back((static_cast<std::uint64_t>(length) + sliceSize - 1) / sliceSize);
    return slices;
}

// Calls visit with the slices of every choice of n of the parts, lost
// together.
void EveryChoice(const std::vector<std::uint64_t>& slices, std::size_t n, std::size_t from, std::uint64_t sum,
                 const std::function<void(std::uint64_t)>& visit)
{
    if (n == 0) {
        visit(sum);
        return;
    }
    for (std::size_t i = from; i + n <= slices.size(); ++i)
        EveryChoice(slices, n - 1, i + 1, sum + slices[i], visit);
}

// Uneven plans, one part and a thousand: every choice of N lost parts is
// within the recovery slices and within what one repair rebuilds, with a
// margin left for damage elsewhere, and the set says so of itself.
TEST(Par2Layout, RebuildsEveryChoiceOfTheLostPartsAskedFor)
{
    std::vector<std::int64_t> thousand;
    for (int i = 0; i < 1000; ++i)
        thousand.push_back(1000 + (i * 7919) % 50000);  // the largest parts far from the first
    std::vector<std::int64_t> iso(4, 700 * MiB);
    iso.push_back(3 * 1024 * MiB - 4 * 700 * MiB);
    struct Case {
        const char* name;
        std::vector<std::int64_t> lengths;
        Par2Ask ask;
    };
    const std::vector<Case> cases = {
        {"uneven, 1", {10001, 30000, 5, 0, 30000, 29999}, Parts(1)},
        {"uneven, 2", {10001, 30000, 5, 0, 30000, 29999}, Parts(2)},
        {"uneven, 3 at 2000 slices", {10001, 30000, 5, 0, 30000, 29999}, Parts(3, 2000)},
        {"uneven, 2 at a slice size of 12", {10001, 30000, 5, 0, 30000, 29999}, Parts(2, 0, 12)},
        {"small last part first", {5, 100000, 100000}, Parts(1, 100)},
        {"more parts asked than there are", {1000, 3000}, Parts(3)},
        {"one part", {100000}, Parts(1)},
        {"one part at 2000 slices", {100000}, Parts(1, 2000)},
        {"3 GiB in 700 MiB parts", iso, Parts(1)},
        {"3 GiB in 700 MiB parts, 2 at 2000 slices", iso, Parts(2, 2000)},
        {"a thousand parts, 1", thousand, Parts(1)},
        {"a thousand parts, 1 at 20000 slices", thousand, Parts(1, 20000)},
        {"a thousand parts, 2 at 30000 slices", thousand, Parts(2, 30000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Par2Planned planned = PlanPar2(c.lengths, c.ask);
        ASSERT_EQ(planned.fault, Par2LayoutFault::None);
        const Par2Layout& layout = planned.layout;
        ASSERT_GT(layout.sliceSize, 0u);
        const std::vector<std::uint64_t> slices = SlicesPerPart(c.lengths, layout.sliceSize);
        std::uint64_t inputSlices = 0;
        for (const std::uint64_t s : slices)
            inputSlices += s;
        EXPECT_EQ(layout.inputSlices, inputSlices);
        const std::uint64_t rebuilt = std::min<std::uint64_t>(layout.recoverySlices,
                                                              Par2RepairableSlices(inputSlices, layout.sliceSize));
        const std::size_t n = std::min<std::size_t>(c.ask.amount, slices.size());
        std::uint64_t most = 0, choices = 0;
        EveryChoice(slices, n, 0, 0, [&](std::uint64_t lost) {
            most = std::max(most, lost);
            ++choices;
        });
        EXPECT_GT(choices, 0u);
        EXPECT_LE(most, rebuilt);
        // The margin: two slices at least, unless the set already rebuilds
        // every slice.
        EXPECT_GE(rebuilt, std::min(most + 2, inputSlices));
        const Par2Reach reach = Par2ReachOf(c.lengths, layout.sliceSize, layout.recoverySlices);
        EXPECT_GE(reach.lostParts, n);
        EXPECT_EQ(reach.slices, rebuilt);
    }
}

// --slices is the most slices, as par2 -b takes it: the least slice size (a
// multiple of 4, of 64 from 4 KiB up) that cuts every part into no more;
// --slice-size is taken as given up to the longest part.
TEST(Par2Layout, CutsTheGrainAskedFor)
{
    const std::vector<std::int64_t> lengths = {100000, 70001, 5};
    for (const std::uint64_t asked : {3ull, 4ull, 10ull, 100ull, 2000ull, 32768ull}) {
        SCOPED_TRACE(asked);
        const Par2Layout layout = PlanPar2(lengths, Percent(10, asked)).layout;
        const std::uint64_t step = layout.sliceSize >= 4096 ? 64 : 4;
        EXPECT_EQ(layout.sliceSize % step, 0u);
        EXPECT_LE(layout.inputSlices, asked);
        std::uint64_t finer = 0;
        for (const std::uint64_t s : SlicesPerPart(lengths, layout.sliceSize - step))
            finer += s;
        if (layout.sliceSize > 4)
            EXPECT_GT(finer, asked);
    }
    // What par2 -b chooses for the same three files, and above 4 KiB the
    // next multiple of 64.
    EXPECT_EQ(PlanPar2(lengths, Percent(10, 10)).layout.sliceSize, 20032u);
    EXPECT_EQ(PlanPar2(lengths, Percent(10, 2000)).layout.sliceSize, 88u);
    EXPECT_EQ(PlanPar2(lengths, Percent(10, 2000)).layout.inputSlices, 1934u);

    EXPECT_EQ(PlanPar2(lengths, Percent(10, 0, 12)).layout.sliceSize, 12u);
    EXPECT_EQ(PlanPar2(lengths, Percent(10, 0, 1 << 30)).layout.sliceSize, 100000u);
    EXPECT_EQ(PlanPar2(lengths, Percent(10, 0, 1 << 30)).layout.inputSlices, 3u);
    // The default stays about 64 slices of a multiple of 64 bytes.
    EXPECT_EQ(PlanPar2(lengths, Percent(10)).layout.sliceSize % 64, 0u);
    EXPECT_EQ(PlanPar2(lengths, Percent(10)).layout.sliceSize, PlanPar2(lengths, 10).sliceSize);
}

TEST(Par2Layout, RefusesWhatCannotBeLaidOut)
{
    struct Case {
        std::vector<std::int64_t> lengths;
        Par2Ask ask;
        Par2LayoutFault fault;
        std::uint64_t needed;
    };
    const std::vector<Case> cases = {
        {{100, 100, 100}, Percent(10, 2), Par2LayoutFault::FewerSlicesThanParts, 3},
        {{100, 0, 100}, Percent(10, 2), Par2LayoutFault::None, 0},
        {{100000, 100000}, Percent(10, 0, 4), Par2LayoutFault::TooManySlices, 50000},
        {{100000}, Percent(10, 32769), Par2LayoutFault::SlicesOutOfRange, 0},
        {{100000}, Percent(10, 10, 64), Par2LayoutFault::SlicesOutOfRange, 0},
        {{100000}, Percent(10, 0, 66), Par2LayoutFault::SliceSizeNotMultiple, 0},
        // Half of 32768 slices lost is more than a repair rebuilds within its
        // memory; a tenth of them is not.
        {{65536, 65536}, Parts(1, 32768), Par2LayoutFault::PartsTooLarge, 16384},
        {std::vector<std::int64_t>(10, 13108), Parts(1, 32768), Par2LayoutFault::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lengths.size());
        const Par2Planned planned = PlanPar2(c.lengths, c.ask);
        EXPECT_EQ(planned.fault, c.fault);
        EXPECT_EQ(planned.needed, c.needed);
        EXPECT_EQ(planned.layout.sliceSize == 0, c.fault != Par2LayoutFault::None);
    }
    EXPECT_EQ(PlanPar2({65536, 65536}, Parts(1, 32768)).limit, Par2RepairableSlices(32768, 4));
}

// The numbers a front end words: a 3 GiB source in 700 MiB parts at 10 %
// rebuilds no lost part, and says what one needs.
TEST(Par2Layout, SaysWhatASetRebuilds)
{
    std::vector<std::int64_t> iso(4, 700 * MiB);
    iso.push_back(3 * 1024 * MiB - 4 * 700 * MiB);
    const Par2Layout ten = PlanPar2(iso, Percent(10)).layout;
    ASSERT_EQ(ten.inputSlices, 58u);
    Par2Reach reach = Par2ReachOf(iso, ten.sliceSize, ten.recoverySlices);
    EXPECT_EQ(reach.parts, 5u);
    EXPECT_EQ(reach.slices, 6u);
    EXPECT_EQ(reach.lostParts, 0u);
    EXPECT_EQ(reach.largestPart, 700 * MiB);
    EXPECT_EQ(reach.largestPartSlices, 13u);
    EXPECT_EQ(reach.onePartPercent, 21u);
    // 21 % of 58 slices is 13 recovery slices, rounded up: one part; 20 % is 12.
    for (const unsigned percent : {20u, 21u}) {
        const Par2Layout layout = PlanPar2(iso, Percent(percent)).layout;
        EXPECT_EQ(Par2ReachOf(iso, layout.sliceSize, layout.recoverySlices).lostParts, percent == 21 ? 1u : 0u);
    }
    const Par2Layout two = PlanPar2(iso, Parts(2)).layout;
    reach = Par2ReachOf(iso, two.sliceSize, two.recoverySlices);
    EXPECT_EQ(reach.lostParts, 2u);
    EXPECT_EQ(reach.slices, 28u);  // 13 + 13 and a margin of 2
    // One part that a repair cannot rebuild at once: no percentage helps.
    reach = Par2ReachOf({131072}, 4, 32768);
    EXPECT_EQ(reach.lostParts, 0u);
    EXPECT_EQ(reach.onePartPercent, 0u);
    EXPECT_EQ(reach.slices, Par2RepairableSlices(32768, 4));
}

TEST(Par2Layout, ReadsPercentagesAndLostParts)
{
    const std::vector<std::pair<std::string, std::optional<Par2Ask>>> cases = {
        {"10", Percent(10)},   {"10%", Percent(10)}, {"1part", Parts(1)}, {"2parts", Parts(2)},
        {"1parts", Parts(1)}, {"1000parts", Parts(1000)}, {"0parts", std::nullopt}, {"1001parts", std::nullopt},
        {"parts", std::nullopt}, {"2 parts", std::nullopt}, {"-1part", std::nullopt}, {"2partss", std::nullopt},
        {"101", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [text, ask] : cases) {
        const std::optional<Par2Ask> read = ParseRecoveryAsk(text);
        ASSERT_EQ(read.has_value(), ask.has_value()) << text;
        if (read) {
            EXPECT_EQ(read->kind, ask->kind) << text;
            EXPECT_EQ(read->amount, ask->amount) << text;
        }
    }
}

// A set made for any two lost parts, taken at its word: every pair of an
// uneven plan's parts deleted, with a byte changed in another part, is
// rebuilt.
TEST(Par2Layout, RebuildsEveryPairOfLostParts)
{
    test::TempDir dir;
    const std::string source = dir.file("src");
    test::WritePatternFile(source, 100006);
    const std::vector<std::pair<std::int64_t, std::int64_t>> ranges = {
        {0, 10001}, {10001, 30000}, {40001, 5}, {40006, 30000}, {70006, 30000}};
    std::vector<std::string> names;
    std::vector<Par2Piece> pieces;
    std::vector<std::int64_t> lengths;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        names.push_back("src.00" + std::to_string(i));
        pieces.push_back({names[i], ranges[i].first, ranges[i].second});
        lengths.push_back(ranges[i].second);
        test::WriteFile(dir.file(names[i]), test::PatternBytes(ranges[i].first, ranges[i].second));
    }
    std::atomic<bool> abort{false};
    Par2Creation creation(PlanPar2(lengths, Parts(2)).layout, "test", abort);
    ASSERT_EQ(creation.Reserve(source, false), 0);
    ASSERT_TRUE(creation.Start(source, pieces, RealFiles()));
    ASSERT_TRUE(creation.Wait());
    ASSERT_EQ(creation.Commit(false), 0);
    const Par2Set set = ReadPar2Set(dir.file("src.par2"));
    ASSERT_TRUE(set.usable);

    for (std::size_t a = 0; a < names.size(); ++a)
        for (std::size_t b = a + 1; b < names.size(); ++b) {
            SCOPED_TRACE(names[a] + " and " + names[b]);
            std::filesystem::remove(dir.file(names[a]));
            std::filesystem::remove(dir.file(names[b]));
            std::size_t other = 0;
            while (other == a || other == b)
                ++other;
            std::string damaged = test::ReadFile(dir.file(names[other]));
            damaged[damaged.size() / 2] ^= 1;
            test::WriteFile(dir.file(names[other]), damaged);

            const Par2Check check = CheckPar2Set(set, dir.path().string());
            ASSERT_EQ(check.state, Par2State::Repairable);
            const Par2RepairResult repaired = RepairPar2Set(set, check, dir.path().string());
            ASSERT_EQ(repaired.fault, Par2RepairFault::None);
            for (std::size_t i = 0; i < names.size(); ++i)
                EXPECT_EQ(test::ReadFile(dir.file(names[i])), test::PatternBytes(ranges[i].first, ranges[i].second))
                    << names[i];
            for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
                if (entry.path().filename().string().find(".00") != std::string::npos &&
                    entry.path().extension() != ".par2" && entry.path().filename().string().size() > 7)
                    std::filesystem::remove(entry.path());  // what repair kept of the damaged part
        }
}

}  // namespace
}  // namespace tessera
