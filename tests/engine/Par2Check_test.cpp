#include "engine/recovery/Par2Check.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <cstdlib>
#include <fstream>
#include <string>

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

TEST(Par2FilePath, NamesLeavingTheFolderAreRefused)
{
    EXPECT_EQ(Par2FilePath("/d", "a/b.bin"), "/d/a/b.bin");
    EXPECT_EQ(Par2FilePath("/", "a"), "/a");
    for (const char* name : {"", "/etc/passwd", "../x", "a/../../x", "a//b", "a/./b", "a/"})
        EXPECT_EQ(Par2FilePath("/d", name), "") << name;
}

}  // namespace
}  // namespace tessera
