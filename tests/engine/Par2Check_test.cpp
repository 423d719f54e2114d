#include "engine/recovery/Par2Check.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <string>

#include "FaultyFiles.h"
#include "engine/kernels/Cpu.h"
#include "engine/kernels/Md5Lanes.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

using test::TempDir;

bool HavePar2() { return std::system("command -v par2 >/dev/null 2>&1") == 0; }

void Write(const std::string& path, std::size_t size, unsigned seed)
{
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out.put(static_cast<char>(seed >> 16));
    }
}

void FlipByte(const std::string& path, long offset)
{
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, offset, SEEK_SET);
    const int c = std::fgetc(f);
    std::fseek(f, offset, SEEK_SET);
    std::fputc(c ^ 0x5a, f);
    std::fclose(f);
}

// one.bin: 25 slices of 4096 (the last short), two.bin: 2; 6 recovery slices.
class Par2CheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HavePar2())
            GTEST_SKIP() << "par2 is not installed";
        Write(file("one.bin"), 100000, 1);
        Write(file("two.bin"), 5000, 2);
        const std::string command =
            "cd '" + dir.path().string() + "' && par2 create -q -q -s4096 -c6 set.par2 one.bin two.bin >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string file(const char* name) const { return dir.file(name); }
    Par2Check Check() const
    {
        const Par2Set set = ReadPar2Set(file("set.par2"));
        EXPECT_TRUE(set.usable);
        return CheckPar2Set(set, dir.path().string());
    }
    const Par2FileCheck& Of(const Par2Check& check, const char* name) const
    {
        const Par2Set set = ReadPar2Set(file("set.par2"));
        for (std::size_t i = 0; i < set.files.size(); ++i)
            if (set.files[i].name == name)
                return check.files.at(i);
        throw std::runtime_error("no such file in the set");
    }
    TempDir dir;
};

TEST_F(Par2CheckTest, IntactRepairableAndNotRepairable)
{
    Par2Check check = Check();
    EXPECT_EQ(check.state, Par2State::Intact);
    EXPECT_EQ(check.badSlices, 0u);
    EXPECT_EQ(check.recoverySlices, 6u);

    // A byte in the last, short slice of one.bin, and two.bin gone.
    FlipByte(file("one.bin"), 99999);
    std::remove(file("two.bin").c_str());
    check = Check();
    EXPECT_EQ(check.state, Par2State::Repairable);
    EXPECT_EQ(check.badSlices, 3u);
    EXPECT_EQ(check.spare, 3u);
    EXPECT_EQ(Of(check, "one.bin").state, Par2FileState::Damaged);
    EXPECT_EQ(Of(check, "one.bin").badSlices, (std::vector<std::uint64_t>{24}));
    EXPECT_EQ(Of(check, "two.bin").state, Par2FileState::Missing);

    // Five more slices of one.bin damaged: 8 bad for 6 recovery slices.
    for (long slice : {0, 3, 7, 11, 20})
        FlipByte(file("one.bin"), slice * 4096 + 17);
    check = Check();
    EXPECT_EQ(check.state, Par2State::NotRepairable);
    EXPECT_EQ(check.shortBy, 2u);
}

TEST_F(Par2CheckTest, AFileTooLongOrTooShortIsDamaged)
{
    {
        std::ofstream out(file("two.bin"), std::ios::binary | std::ios::app);
        out << "x";
    }
    ASSERT_EQ(::truncate(file("one.bin").c_str(), 4096 * 3 + 5), 0);
    const Par2Check check = Check();
    EXPECT_EQ(Of(check, "two.bin").state, Par2FileState::Damaged);
    EXPECT_TRUE(Of(check, "two.bin").badSlices.empty());
    EXPECT_EQ(Of(check, "one.bin").badSlices.size(), 25u - 3u);
    EXPECT_EQ(check.state, Par2State::NotRepairable);
}

// Enough files of uneven lengths for the check to read them side by side in
// vector lanes, each but the intact ones changed its own way: every file gets
// the verdict the check one file at a time gives, and that is the right one.
TEST(Par2CheckMany, FilesReadSideBySideGetTheVerdictsOfOneAtATime)
{
    if (!HavePar2())
        GTEST_SKIP() << "par2 is not installed";
    TempDir dir;
    const int kFiles = 18;
    std::string names;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(100 + i) + ".bin";
        Write(dir.file(name), 150000 + 3001 * static_cast<std::size_t>(i), static_cast<unsigned>(i) + 1);
        names += " " + name;
    }
    const std::string command =
        "cd '" + dir.path().string() + "' && par2 create -q -q -s16384 -c40 set.par2" + names + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    FlipByte(dir.file("f101.bin"), 5);                     // slice 0, the lanes' first read
    FlipByte(dir.file("f102.bin"), 70000);                 // slice 4, a later read
    FlipByte(dir.file("f103.bin"), 150000 + 3 * 3001 - 1); // the last byte, past the last whole read
    ASSERT_EQ(::truncate(dir.file("f104.bin").c_str(), 100000), 0);
    {
        std::ofstream out(dir.file("f105.bin"), std::ios::binary | std::ios::app);
        out << "x";
    }
    std::remove(dir.file("f106.bin").c_str());
    std::remove(dir.file("f107.bin").c_str());
    std::filesystem::create_directory(dir.file("f107.bin"));
    const test::FaultyFiles faulty(dir.file("f108.bin"), test::FaultyFiles::Call::Read, 1, EIO);

    const Par2Set set = ReadPar2Set(dir.file("set.par2"));
    ASSERT_TRUE(set.usable);
    ASSERT_EQ(set.files.size(), static_cast<std::size_t>(kFiles));
    Par2CheckSettings settings;
    settings.files = &faulty;
    const Par2Check side = CheckPar2Set(set, dir.path().string(), settings);
    Par2Check alone;
    {
        const cpu::Ceiling none(0);
        alone = CheckPar2Set(set, dir.path().string(), settings);
    }
    auto of = [&](const Par2Check& check, const std::string& name) -> const Par2FileCheck& {
        for (std::size_t i = 0; i < set.files.size(); ++i)
            if (set.files[i].name == name)
                return check.files.at(i);
        throw std::runtime_error("no such file in the set");
    };
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(100 + i) + ".bin";
        const Par2FileCheck& a = of(side, name);
        const Par2FileCheck& b = of(alone, name);
        EXPECT_EQ(a.state, b.state) << name;
        EXPECT_EQ(a.badSlices, b.badSlices) << name;
        EXPECT_EQ(a.size, b.size) << name;
        EXPECT_EQ(a.error, b.error) << name;
        EXPECT_EQ(a.type, b.type) << name;
        const Par2FileState expected = i == 6 || i == 7                ? Par2FileState::Missing
                                       : (i >= 1 && i <= 5) || i == 8 ? Par2FileState::Damaged
                                                                      : Par2FileState::Intact;
        EXPECT_EQ(a.state, expected) << name;
    }
    EXPECT_EQ(of(side, "f101.bin").badSlices, (std::vector<std::uint64_t>{0}));
    EXPECT_EQ(of(side, "f102.bin").badSlices, (std::vector<std::uint64_t>{4}));
    EXPECT_EQ(of(side, "f103.bin").badSlices, (std::vector<std::uint64_t>{9}));
    EXPECT_EQ(of(side, "f108.bin").badSlices.size(), 11u);
    EXPECT_EQ(side.badSlices, alone.badSlices);
    EXPECT_EQ(side.state, alone.state);

    // An intact file is read once, in larger blocks, and not again slice by
    // slice.
    const test::FaultyFiles counting(dir.file("f110.bin"), test::FaultyFiles::Call::Read, 1 << 30);
    settings.files = &counting;
    EXPECT_EQ(of(CheckPar2Set(set, dir.path().string(), settings), "f110.bin").state, Par2FileState::Intact);
    const int sideReads = counting.Calls();
    {
        const cpu::Ceiling none(0);
        EXPECT_EQ(of(CheckPar2Set(set, dir.path().string(), settings), "f110.bin").state, Par2FileState::Intact);
    }
    if (Md5LanesAvailable())
        EXPECT_LT(sideReads, counting.Calls() - sideReads);

    const std::atomic<bool> stop{true};
    settings.abort = &stop;
    EXPECT_TRUE(CheckPar2Set(set, dir.path().string(), settings).stopped);
}

TEST(Par2FilePath, NamesLeavingTheFolderAreRefused)
{
    EXPECT_EQ(Par2FilePath("/d", "a/b.bin"), "/d/a/b.bin");
    EXPECT_EQ(Par2FilePath("/", "a"), "/a");
    for (const char* name : {"", "/etc/passwd", "../x", "a/../../x", "a//b", "a/./b", "a/"})
        EXPECT_EQ(Par2FilePath("/d", name), "") << name;
}

}  // namespace
}  // namespace tessera
