#include <gtest/gtest.h>

#include <string>

#include "Manifest.h"
#include "Series.h"
#include "support/TempDir.h"

namespace tessera::cli {
namespace {

TEST(Sha256, KnownDigestsAndStartingOver)
{
    Sha256 digest;
    EXPECT_EQ(digest.Finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    digest.Update("ab", 2);
    digest.Update("c", 1);
    EXPECT_EQ(digest.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    digest.Update("abc", 3);
    EXPECT_EQ(digest.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Manifest, LinesReadBackAsWritten)
{
    test::TempDir dir;
    const std::string digest(64, 'a');
    const ManifestLine lines[] = {
        {digest, "big.iso.000"}, {digest, "with space"}, {digest, "back\\slash"}, {digest, "line\nfeed"},
    };
    std::string text;
    for (const ManifestLine& line : lines)
        text += FormatManifestLine(line);
    EXPECT_EQ(FormatManifestLine(lines[2]), "\\" + digest + "  back\\\\slash\n");
    // sha256sum's binary marker and upper-case digits are read as well
    text += std::string(64, 'B') + " *bin\n\n";
    const std::string path = dir.file("m.sha256");
    test::WriteFile(path, text);
    const ManifestRead read = ReadManifest(path);
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.lines.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(read.lines[i], lines[i]);
    EXPECT_EQ(read.lines[4], (ManifestLine{std::string(64, 'b'), "bin"}));
}

TEST(Manifest, BadLinesAreRefusedWithTheirNumber)
{
    test::TempDir dir;
    const std::string path = dir.file("m.sha256");
    const std::string digest(64, '0');
    for (const std::string& bad : {digest.substr(1) + "  x", digest + " x", digest + "  ", "\\" + digest + "  a\\tb",
                                   std::string(63, '0') + "g  x"}) {
        test::WriteFile(path, digest + "  ok\n" + bad + "\n");
        const ManifestRead read = ReadManifest(path);
        EXPECT_EQ(read.error, path + ":2: no SHA-256 checksum line") << bad;
        EXPECT_TRUE(read.lines.empty());
    }
    EXPECT_EQ(ReadManifest(dir.file("none")).error, "cannot open '" + dir.file("none") + "': No such file or directory");
}

TEST(Manifest, Paths)
{
    EXPECT_EQ(ManifestPath("big.iso", ""), "big.iso.sha256");
    EXPECT_EQ(ManifestPath("/a/b/big.iso", ""), "/a/b/big.iso.sha256");
    EXPECT_EQ(ManifestPath("/a/b/big.iso", "/media/usb"), "/media/usb/big.iso.sha256");
    EXPECT_EQ(ManifestPath("big.iso", "/media/usb/"), "/media/usb/big.iso.sha256");
    EXPECT_EQ(ResolveFromManifest("/media/usb/big.iso.sha256", "big.iso.000"), "/media/usb/big.iso.000");
    EXPECT_EQ(ResolveFromManifest("big.iso.sha256", "big.iso.000"), "big.iso.000");
    EXPECT_EQ(ResolveFromManifest("/m/x.sha256", "/abs/p"), "/abs/p");
}

TEST(Series, RunsFromTheFirstPartToTheFirstGap)
{
    test::TempDir dir;
    for (const char* name : {"s.000", "s.001", "s.002", "s.004", "s.998", "s.999", "s.1000", "s.1002"})
        test::WriteFile(dir.file(name), "x");
    const SeriesFound from0 = FindSeries(dir.file("s.000"));
    EXPECT_EQ(from0.error, "");
    EXPECT_EQ(from0.parts, (std::vector<std::string>{dir.file("s.000"), dir.file("s.001"), dir.file("s.002")}));
    // past .999 the numbers grow a digit, as in the join list
    EXPECT_EQ(FindSeries(dir.file("s.998")).parts,
              (std::vector<std::string>{dir.file("s.998"), dir.file("s.999"), dir.file("s.1000")}));
    EXPECT_EQ(FindSeries(dir.file("s.003")).error,
              "cannot open '" + dir.file("s.003") + "': No such file or directory");
    EXPECT_NE(FindSeries(dir.file("s")).error, "");
    EXPECT_NE(FindSeries(dir.file("s.0a1")).error, "");
    EXPECT_NE(FindSeries(dir.path().string() + "/.000").error, "");
}

}  // namespace
}  // namespace tessera::cli
