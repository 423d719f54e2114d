#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/recovery/Par2Check.h"
#include "engine/recovery/Par2Packets.h"
#include "engine/recovery/Par2Reader.h"
#include "engine/recovery/Par2Repair.h"
#include "support/TempDir.h"

// Sets made here packet by packet, as a careless or a hostile maker might
// make them: each must be refused, or handled within bounds, without a
// byte of the folder's files changed.
namespace tessera {
namespace {

using namespace par2;
using test::TempDir;

struct CraftedFile {
    std::string name;
    std::string bytes;         // what the set says the file holds
    std::uint64_t length = 0;  // its length, when bytes is empty
};

// A set of the files under sliceSize, with slice checksums where the slices
// are few, and `recovery` recovery slices of zeros (enough to be counted;
// no repair could use them).
std::string CraftSet(std::uint64_t sliceSize, const std::vector<CraftedFile>& files, std::uint32_t recovery)
{
    MainBody main;
    main.sliceSize = sliceSize;
    std::vector<FileDescription> described;
    for (const CraftedFile& file : files) {
        FileDescription d;
        d.length = file.bytes.empty() ? file.length : file.bytes.size();
        d.md5 = Md5Of(file.bytes.data(), file.bytes.size());
        d.md5First16k = Md5Of(file.bytes.data(), std::min<std::size_t>(file.bytes.size(), 16384));
        d.name = file.name;
        d.id = FileId(d.md5First16k, d.length, d.name);
        main.fileIds.push_back(d.id);
        described.push_back(d);
    }
    const std::string mainBody = BuildMain(main);
    const Md5Digest setId = SetIdOf(mainBody);
    std::string set = Packet(setId, kMain, mainBody);
    for (std::size_t i = 0; i < files.size(); ++i) {
        set += Packet(setId, kFileDesc, BuildFileDescription(described[i]));
        const std::uint64_t slices = (described[i].length + sliceSize - 1) / sliceSize;
        if (slices > 100000 || sliceSize > (1u << 20))
            continue;
        std::vector<SliceChecksum> checksums;
        for (std::uint64_t s = 0; s < slices; ++s) {
            std::string slice = files[i].bytes.substr(std::min<std::size_t>(s * sliceSize, files[i].bytes.size()),
                                                      sliceSize);
            slice.resize(sliceSize, '\0');
            checksums.push_back({Md5Of(slice.data(), slice.size()), Crc32(0, slice.data(), slice.size())});
        }
        set += Packet(setId, kSliceChecksums, BuildSliceChecksums(described[i].id, checksums));
    }
    for (std::uint32_t e = 0; e < recovery; ++e) {
        std::string body;
        Put(body, e, 4);
        body.append(sliceSize, '\0');
        set += Packet(setId, kRecoverySlice, body);
    }
    return set;
}

TEST(Par2Crafted, ANameListedTwiceIsNeitherReadNorWritten)
{
    TempDir dir;
    test::WriteFile(dir.file("victim.txt"), "the user's own bytes");
    test::WriteFile(dir.file("set.par2"),
                    CraftSet(64, {{"victim.txt", "one content"}, {"victim.txt", "another content"}}, 4));
    const Par2Set set = ReadPar2Set(dir.file("set.par2"));
    ASSERT_TRUE(set.usable);
    const Par2Check check = CheckPar2Set(set, dir.path().string());
    ASSERT_EQ(check.files.size(), 2u);
    EXPECT_EQ(check.files[0].state, Par2FileState::ListedTwice);
    EXPECT_EQ(check.files[1].state, Par2FileState::ListedTwice);
    EXPECT_EQ(check.state, Par2State::NotRepairable);
    const Par2RepairResult result = RepairPar2Set(set, check, dir.path().string());
    EXPECT_EQ(result.fault, Par2RepairFault::UnsafeName);
    EXPECT_EQ(result.path, "victim.txt");
    EXPECT_EQ(test::ReadFile(dir.file("victim.txt")), "the user's own bytes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// A slice of 2^40 bytes for a file of a hundred is refused as read; a huge
// file declared beside a small one lets such a slice pass, and the small
// file is then judged whole, its slice's terabyte of padding never hashed.
TEST(Par2Crafted, ASliceNoFileNeedsIsNeverHashed)
{
    TempDir dir;
    const std::string bytes(100, 'x');
    test::WriteFile(dir.file("small"), bytes);
    test::WriteFile(dir.file("alone.par2"), CraftSet(1ull << 40, {{"small", bytes}}, 0));
    const Par2Set alone = ReadPar2Set(dir.file("alone.par2"));
    EXPECT_FALSE(alone.usable);
    EXPECT_EQ(alone.sliceSize, 1ull << 40);

    test::WriteFile(dir.file("beside.par2"),
                    CraftSet(1ull << 40, {{"small", bytes}, {"huge", "", 1ull << 50}}, 0));
    const Par2Set beside = ReadPar2Set(dir.file("beside.par2"));
    ASSERT_TRUE(beside.usable);
    Par2Check check = CheckPar2Set(beside, dir.path().string());
    ASSERT_EQ(check.files.size(), 2u);
    const std::size_t small = beside.files[0].name == "small" ? 0 : 1;
    EXPECT_EQ(check.files[small].state, Par2FileState::Intact);
    EXPECT_EQ(check.files[1 - small].state, Par2FileState::Missing);

    test::WriteFile(dir.file("small"), std::string(100, 'y'));
    check = CheckPar2Set(beside, dir.path().string());
    EXPECT_EQ(check.files[small].state, Par2FileState::Damaged);
    EXPECT_EQ(check.files[small].badSlices, std::vector<std::uint64_t>{0});
}

// 16,384 slices lost, with as many recovery slices: the computation would
// need a gigabyte for its matrix alone. It is refused before anything of
// that size is allocated, with what it would need: in a child whose address
// space is held to twice the bound, an allocation past it would end the
// child.
TEST(Par2Crafted, TooManyLostSlicesAreRefusedBeforeAllocating)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address space limit";
#endif
    TempDir dir;
    test::WriteFile(dir.file("data.par2"), CraftSet(4, {{"data", "", 65536}}, 16384));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{2 * kPar2RepairMemory, 2 * kPar2RepairMemory};
        ::setrlimit(RLIMIT_AS, &limit);
        const Par2Set set = ReadPar2Set(dir.file("data.par2"));
        const Par2Check check = CheckPar2Set(set, dir.path().string());
        const Par2RepairResult result = RepairPar2Set(set, check, dir.path().string());
        const bool refused = check.badSlices == 16384 && result.fault == Par2RepairFault::TooLarge &&
                             result.memoryNeeded > kPar2RepairMemory;
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("data")));
}

}  // namespace
}  // namespace tessera
