#include "engine/recovery/Par2Create.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "FaultyFiles.h"
#include "engine/recovery/Par2Check.h"
#include "engine/recovery/Par2Reader.h"
#include "engine/recovery/Par2Repair.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

using test::TempDir;

TEST(Par2Layout, SlicesPartsEvenlyAndRoundsTheRecoveryUp)
{
    struct Case {
        std::vector<std::int64_t> lengths;
        unsigned percent;
        std::uint64_t sliceSize, inputSlices;
        std::uint32_t recovery;
        std::vector<std::uint32_t> volumes;
    };
    const std::int64_t MiB = 1 << 20;
    const std::vector<Case> cases = {
        // 16 parts of 64 MiB: four slices each.
        {std::vector<std::int64_t>(16, 64 * MiB), 10, 16 * MiB, 64, 7, {1, 2, 4}},
        // The last part shorter takes fewer slices; an empty part none.
        {{30000, 30000, 30000, 10000, 0}, 40, 1920, 54, 22, {1, 2, 4, 8, 7}},
        {{1}, 10, 64, 1, 1, {1}},
        {{63}, 100, 64, 1, 1, {1}},
        // Many parts: one slice each, at least.
        {std::vector<std::int64_t>(100, 1000), 10, 1024, 100, 10, {1, 2, 4, 3}},
        {std::vector<std::int64_t>(3, 0), 10, 0, 0, 0, {}},
        {{}, 10, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        const Par2Layout layout = PlanPar2(c.lengths, c.percent);
        EXPECT_EQ(layout.sliceSize, c.sliceSize) << c.lengths.size();
        EXPECT_EQ(layout.inputSlices, c.inputSlices) << c.lengths.size();
        EXPECT_EQ(layout.recoverySlices, c.recovery) << c.lengths.size();
        EXPECT_EQ(layout.volumes, c.volumes) << c.lengths.size();
    }
}

TEST(Par2Layout, NamesVolumesByFirstExponentAndCount)
{
    Par2Layout layout;
    layout.recoverySlices = 37;
    layout.volumes = {1, 2, 4, 8, 16, 6};
    EXPECT_EQ(Par2Names("d/f", layout),
              (std::vector<std::string>{"d/f.par2", "d/f.vol00+01.par2", "d/f.vol01+02.par2", "d/f.vol03+04.par2",
                                        "d/f.vol07+08.par2", "d/f.vol15+16.par2", "d/f.vol31+06.par2"}));
    layout.recoverySlices = 1;
    layout.volumes = {1};
    EXPECT_EQ(Par2Names("f", layout), (std::vector<std::string>{"f.par2", "f.vol0+1.par2"}));
}

TEST(Par2Layout, ReadsWholePercentages)
{
    const std::vector<std::pair<std::string, std::optional<unsigned>>> cases = {
        {"10", 10u}, {"10%", 10u}, {"1", 1u}, {"100", 100u}, {"007", 7u},   {"0", std::nullopt},
        {"101", std::nullopt}, {"", std::nullopt}, {"%", std::nullopt}, {"10.5", std::nullopt},
        {"-5", std::nullopt}, {" 5", std::nullopt}, {"5%%", std::nullopt}, {"99999999999", std::nullopt},
    };
    for (const auto& [text, percent] : cases)
        EXPECT_EQ(ParseRecoveryPercent(text), percent) << text;
}

// A source cut into parts as a split cuts it; the set made from the
// source's ranges, read back, checked against the parts and used to rebuild
// them.
class Par2CreateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = dir.file("src");
        test::WritePatternFile(source, 100001);
        ranges = {{0, 30000}, {30000, 30000}, {60000, 30000}, {90000, 10001}};
        for (std::size_t i = 0; i < ranges.size(); ++i)
            names.push_back("src.00" + std::to_string(i));
        WriteParts();
    }

    void WriteParts() const
    {
        for (std::size_t i = 0; i < ranges.size(); ++i)
            test::WriteFile(dir.file(names[i]), test::PatternBytes(ranges[i].first, ranges[i].second));
    }

    std::vector<Par2Piece> Pieces() const
    {
        std::vector<Par2Piece> pieces;
        for (std::size_t i = 0; i < ranges.size(); ++i)
            pieces.push_back({names[i], ranges[i].first, ranges[i].second});
        return pieces;
    }

    Par2Layout Layout(unsigned percent) const
    {
        std::vector<std::int64_t> lengths;
        for (const auto& range : ranges)
            lengths.push_back(range.second);
        return PlanPar2(lengths, percent);
    }

    std::vector<std::string> SetFiles() const
    {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().filename().string().find(".par2") != std::string::npos ||
                entry.path().filename().string().find("tessera-") != std::string::npos)
                found.push_back(entry.path().filename().string());
        return found;
    }

    TempDir dir;
    std::string source;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    std::vector<std::string> names;
    std::atomic<bool> abort{false};
};

// Both ways of hashing the parts: in vector lanes where the processor has
// them, and each part on one core.
TEST_F(Par2CreateTest, MakesASetThatChecksAndRebuildsTheParts)
{
    for (const bool lanes : {true, false}) {
        SCOPED_TRACE(lanes ? "lanes" : "one core");
        WriteParts();
        for (const std::string& name : SetFiles())
            std::filesystem::remove(dir.file(name));
        Par2Creation creation(Layout(40), "test", abort);
        creation.UseLanes(lanes);
        ASSERT_EQ(creation.Reserve(dir.file("src"), false), 0);
        ASSERT_TRUE(creation.Start(source, Pieces(), RealFiles()));
        ASSERT_TRUE(creation.Wait());
        ASSERT_EQ(creation.Commit(false), 0);

        const Par2Set set = ReadPar2Set(dir.file("src.par2"));
        ASSERT_TRUE(set.usable);
        EXPECT_TRUE(set.faults.empty());
        EXPECT_EQ(set.files.size(), 4u);
        EXPECT_EQ(set.inputSlices, 54u);
        EXPECT_EQ(set.recovery.size(), 22u);
        EXPECT_EQ(set.creator, "test");
        // Each part's MD5, and each slice's MD5 and CRC-32 over the slice
        // padded with zeros, as computed here from the bytes.
        for (const Par2File& file : set.files) {
            const std::size_t i = static_cast<std::size_t>(std::find(names.begin(), names.end(), file.name) - names.begin());
            ASSERT_LT(i, names.size()) << file.name;
            const std::string bytes = test::PatternBytes(ranges[i].first, ranges[i].second);
            EXPECT_EQ(file.md5, Md5Of(bytes.data(), bytes.size())) << file.name;
            ASSERT_EQ(file.slices.size(), (bytes.size() + set.sliceSize - 1) / set.sliceSize) << file.name;
            for (std::size_t k = 0; k < file.slices.size(); ++k) {
                std::string slice = bytes.substr(k * set.sliceSize, set.sliceSize);
                slice.resize(set.sliceSize, '\0');
                EXPECT_EQ(file.slices[k].md5, Md5Of(slice.data(), slice.size())) << file.name << " " << k;
                EXPECT_EQ(file.slices[k].crc32, Crc32(0, slice.data(), slice.size())) << file.name << " " << k;
            }
        }
        EXPECT_EQ(CheckPar2Set(set, dir.path().string()).state, Par2State::Intact);

        // A part lost and a byte of another changed: 16 + 1 slices of 22.
        std::filesystem::remove(dir.file("src.001"));
        std::string damaged = test::ReadFile(dir.file("src.003"));
        damaged[5000] ^= 1;
        test::WriteFile(dir.file("src.003"), damaged);
        const Par2Check check = CheckPar2Set(set, dir.path().string());
        ASSERT_EQ(check.state, Par2State::Repairable);
        const Par2RepairResult repaired = RepairPar2Set(set, check, dir.path().string());
        ASSERT_EQ(repaired.fault, Par2RepairFault::None);
        EXPECT_EQ(test::ReadFile(dir.file("src.001")), test::PatternBytes(30000, 30000));
        EXPECT_EQ(test::ReadFile(dir.file("src.003")), test::PatternBytes(90000, 10001));
    }
}

// The order of the files in the main packet gives each input slice its
// constant; par2 reads a set in either order, so only a set that par2 makes
// from the same parts shows the order it must be: both sets then have the
// same main packet, and so the same id.
TEST_F(Par2CreateTest, OrdersTheFilesAsPar2Does)
{
    if (std::system("command -v par2 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "par2 is not installed";
    Par2Creation creation(Layout(10), "test", abort);
    ASSERT_EQ(creation.Reserve(dir.file("src"), false), 0);
    ASSERT_TRUE(creation.Start(source, Pieces(), RealFiles()));
    ASSERT_TRUE(creation.Wait());
    ASSERT_EQ(creation.Commit(false), 0);
    const Par2Set ours = ReadPar2Set(dir.file("src.par2"));
    ASSERT_TRUE(ours.usable);

    std::filesystem::create_directory(dir.file("oracle"));
    std::string command = "cd '" + dir.file("oracle") + "' && par2 create -q -q -s" + std::to_string(ours.sliceSize) +
                          " -c1 set.par2";
    for (const std::string& name : names) {
        std::filesystem::copy_file(dir.file(name), dir.file("oracle/" + name));
        command += " " + name;
    }
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    const Par2Set theirs = ReadPar2Set(dir.file("oracle/set.par2"));
    ASSERT_TRUE(theirs.usable);

    ASSERT_EQ(ours.files.size(), theirs.files.size());
    for (std::size_t i = 0; i < ours.files.size(); ++i)
        EXPECT_EQ(ours.files[i].name, theirs.files[i].name) << i;
    EXPECT_EQ(ours.setId, theirs.setId);
}

// A set of larger slices, repaired with its first volume (exponent 0) gone,
// and in several column ranges under a small memory limit.
TEST_F(Par2CreateTest, RepairsWithoutTheFirstVolumeAndInColumnRanges)
{
    ranges = {{0, 300000}, {300000, 300000}, {600000, 300000}, {900000, 100001}};
    test::WritePatternFile(source, 1000001);
    WriteParts();
    Par2Creation creation(Layout(40), "test", abort);
    ASSERT_EQ(creation.Reserve(dir.file("src"), false), 0);
    ASSERT_TRUE(creation.Start(source, Pieces(), RealFiles()));
    ASSERT_TRUE(creation.Wait());
    ASSERT_EQ(creation.Commit(false), 0);
    const std::string firstVolume = creation.Names().at(1);

    struct Case {
        const char* what;
        bool firstVolumeLost;
        std::uint64_t memoryLimit;
    };
    for (const Case& c : {Case{"first volume lost", true, 256ull << 20}, Case{"column ranges", false, 256 << 10}}) {
        SCOPED_TRACE(c.what);
        if (c.firstVolumeLost)
            std::filesystem::remove(firstVolume);
        const Par2Set set = ReadPar2Set(dir.file("src.par2"));
        ASSERT_TRUE(set.usable);
        ASSERT_GT(set.sliceSize, 4u * 4096u);  // more than a few of the smallest column ranges
        std::filesystem::remove(dir.file("src.002"));
        std::string damaged = test::ReadFile(dir.file("src.000"));
        damaged[12345] ^= 1;
        test::WriteFile(dir.file("src.000"), damaged);
        const Par2Check check = CheckPar2Set(set, dir.path().string());
        ASSERT_EQ(check.state, Par2State::Repairable);
        const Par2RepairResult repaired = RepairPar2Set(set, check, dir.path().string(), {nullptr, c.memoryLimit});
        ASSERT_EQ(repaired.fault, Par2RepairFault::None) << repaired.path;
        EXPECT_EQ(test::ReadFile(dir.file("src.000")), test::PatternBytes(0, 300000));
        EXPECT_EQ(test::ReadFile(dir.file("src.002")), test::PatternBytes(600000, 300000));
    }
}

TEST_F(Par2CreateTest, AFailedReadOrAStopLeavesNoFile)
{
    for (const int nth : {1, 3}) {
        test::FaultyFiles files(source, test::FaultyFiles::Call::Read, nth, EIO);
        for (const bool lanes : {true, false}) {
            Par2Creation creation(Layout(10), "test", abort);
            creation.UseLanes(lanes);
            ASSERT_EQ(creation.Reserve(dir.file("src"), false), 0);
            EXPECT_FALSE(SetFiles().empty());
            if (creation.Start(source, Pieces(), files))
                EXPECT_FALSE(creation.Wait());
            EXPECT_TRUE(creation.Failed());
            EXPECT_EQ(creation.FaultPath(), source);
            EXPECT_EQ(creation.FaultError(), EIO);
            EXPECT_NE(creation.Commit(false), 0);
        }
        EXPECT_EQ(SetFiles(), std::vector<std::string>()) << nth;
    }
    abort = true;
    {
        Par2Creation creation(Layout(10), "test", abort);
        ASSERT_EQ(creation.Reserve(dir.file("src"), false), 0);
        ASSERT_TRUE(creation.Start(source, Pieces(), RealFiles()));
        EXPECT_FALSE(creation.Wait());
    }
    EXPECT_EQ(SetFiles(), std::vector<std::string>());
}

TEST_F(Par2CreateTest, ANameTakenIsRefusedAndKept)
{
    test::WriteFile(dir.file("src.vol1+2.par2"), "mine");
    Par2Creation creation(Layout(10), "test", abort);
    EXPECT_EQ(creation.Reserve(dir.file("src"), false), EEXIST);
    EXPECT_EQ(creation.FaultPath(), dir.file("src.vol1+2.par2"));
    EXPECT_EQ(SetFiles(), std::vector<std::string>{"src.vol1+2.par2"});
    EXPECT_EQ(test::ReadFile(dir.file("src.vol1+2.par2")), "mine");
}

}  // namespace
}  // namespace tessera
