#include "engine/PartFilter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine/JoinedParts.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(PartFilter, TheCommandReadsThePartWithItsNameInFile)
{
    TempDir dir;
    PartFilter filter;
    const std::string part = dir.file("x.000");
    ASSERT_EQ(filter.Start("cat > \"$FILE.got\"", part), 0);
    EXPECT_EQ(filter.Input().Write("hello", 5), 5u);
    const PartFilter::Exit exit = filter.Finish();
    EXPECT_TRUE(exit.Success());
    EXPECT_EQ(ReadFile(part + ".got"), "hello");
}

TEST(PartFilter, HowTheCommandEnded)
{
    PartFilter failing;
    ASSERT_EQ(failing.Start("cat >/dev/null; exit 3", "x"), 0);
    const PartFilter::Exit three = failing.Finish();
    EXPECT_TRUE(three.exited);
    EXPECT_EQ(three.status, 3);
    EXPECT_FALSE(three.Success());

    PartFilter killed;
    ASSERT_EQ(killed.Start("kill -9 $$", "x"), 0);
    const PartFilter::Exit signal = killed.Finish();
    EXPECT_FALSE(signal.exited);
    EXPECT_EQ(signal.signal, 9);
}

// A command that stops reading early ends the writes with EPIPE, never the
// program with SIGPIPE.
TEST(PartFilter, ACommandThatStopsReadingEndsTheWrites)
{
    PartFilter filter;
    ASSERT_EQ(filter.Start("head -c 1 >/dev/null", "x"), 0);
    const std::vector<char> block(1 << 20, 'a');
    std::uint32_t wrote = 0;
    for (int i = 0; i < 64 && wrote == 0; ++i) {
        if (filter.Input().Write(block.data(), static_cast<std::uint32_t>(block.size())) < block.size())
            wrote = 1;
    }
    EXPECT_EQ(wrote, 1u);
    EXPECT_EQ(filter.Input().LastError(), EPIPE);
    EXPECT_TRUE(filter.Finish().Success());
}

TEST(JoinedParts, ReadsThePartsAsOneFile)
{
    TempDir dir;
    WriteFile(dir.file("a"), "0123");
    WriteFile(dir.file("b"), "");
    WriteFile(dir.file("c"), "456789xx");  // two bytes past its length
    JoinedPartsFile joined({{dir.file("a"), 4}, {dir.file("b"), 0}, {dir.file("c"), 6}}, RealFiles());
    EXPECT_EQ(joined.GetSize(), 10);
    char bytes[16] = {};
    EXPECT_EQ(joined.ReadAt(bytes, 16, 0), 10);
    EXPECT_EQ(std::string(bytes, 10), "0123456789");
    EXPECT_EQ(joined.ReadAt(bytes, 3, 3), 3);
    EXPECT_EQ(std::string(bytes, 3), "345");
    ASSERT_TRUE(joined.Seek(8, 0));
    EXPECT_EQ(joined.Read(bytes, 16), 2u);
    EXPECT_EQ(std::string(bytes, 2), "89");
    EXPECT_EQ(joined.Read(bytes, 16), 0u);

    // A part shorter than it should be ends the joined file early; one that
    // is missing fails the read with its cause.
    JoinedPartsFile shorter({{dir.file("a"), 6}, {dir.file("c"), 2}}, RealFiles());
    EXPECT_EQ(shorter.ReadAt(bytes, 8, 0), 4);
    JoinedPartsFile missing({{dir.file("a"), 4}, {dir.file("gone"), 2}}, RealFiles());
    EXPECT_EQ(missing.ReadAt(bytes, 6, 0), -1);
    EXPECT_EQ(missing.LastError(), ENOENT);

    const JoinedPartsFiles files("the stream", {{dir.file("a"), 4}, {dir.file("c"), 6}});
    const std::unique_ptr<NFile> opened = files.Open("the stream", NFilePSDK::Form::Reading);
    EXPECT_EQ(opened->ReadAt(bytes, 16, 2), 8);
    EXPECT_EQ(std::string(bytes, 8), "23456789");
    EXPECT_EQ(files.Status("the stream", Links::Follow).size, 10);
    EXPECT_EQ(files.Open(dir.file("a"), NFilePSDK::Form::Reading)->GetSize(), 4);
}

}  // namespace
}  // namespace tessera
