#include "engine/recovery/Par2Reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tessera {
namespace {

using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

std::string Hex(const Md5Digest& digest)
{
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

TEST(Md5, KnownDigestsWhateverThePieces)
{
    EXPECT_EQ(Hex(Md5Of("", 0)), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Hex(Md5Of("abc", 3)), "900150983cd24fb0d6963f7d28e17f72");
    const std::string text = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    EXPECT_EQ(Hex(Md5Of(text.data(), text.size())), "57edf4a22be3c955ac49da2e2107b67a");
    for (std::size_t piece : {1u, 7u, 55u, 64u, 65u}) {
        Md5 md5;
        for (std::size_t i = 0; i < text.size(); i += piece)
            md5.Update(text.data() + i, std::min(piece, text.size() - i));
        EXPECT_EQ(Hex(md5.Finish()), "57edf4a22be3c955ac49da2e2107b67a") << piece;
    }
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(Crc32(0, "1234", 4), "56789", 5), 0xCBF43926u);
}

// --- Packets made here -------------------------------------------------------------

void Put64(Bytes& out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put32(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutDigest(Bytes& out, const Md5Digest& d) { out.insert(out.end(), d.begin(), d.end()); }

Bytes Packet(const char (&type)[17], const Md5Digest& setId, const Bytes& body)
{
    Bytes packet = {'P', 'A', 'R', '2', 0, 'P', 'K', 'T'};
    Put64(packet, 64 + body.size());
    Bytes hashed;
    PutDigest(hashed, setId);
    hashed.insert(hashed.end(), type, type + 16);
    hashed.insert(hashed.end(), body.begin(), body.end());
    PutDigest(packet, Md5Of(hashed.data(), hashed.size()));
    packet.insert(packet.end(), hashed.begin(), hashed.end());
    return packet;
}

Md5Digest Id(std::uint8_t n)
{
    Md5Digest id{};
    id.fill(n);
    return id;
}

// A small set: one file of `length` bytes under slices of sliceSize, and
// `recovery` recovery slices.
struct Made {
    Md5Digest setId{};
    Bytes bytes;
};
Made MakeSet(std::uint64_t sliceSize, std::uint64_t length, int recovery, std::uint32_t fileCount = 1)
{
    Bytes main;
    Put64(main, sliceSize);
    Put32(main, fileCount);
    PutDigest(main, Id(1));
    Made made;
    made.setId = Md5Of(main.data(), main.size());
    made.bytes = Packet("PAR 2.0\0Main\0\0\0\0", made.setId, main);
    Bytes desc;
    PutDigest(desc, Id(1));
    PutDigest(desc, Id(2));
    PutDigest(desc, Id(3));
    Put64(desc, length);
    for (char c : std::string("a.bin\0\0\0", 8))
        desc.push_back(static_cast<std::uint8_t>(c));
    const Bytes descPacket = Packet("PAR 2.0\0FileDesc", made.setId, desc);
    made.bytes.insert(made.bytes.end(), descPacket.begin(), descPacket.end());
    if (sliceSize != 0 && length / sliceSize < 1000) {
        Bytes ifsc;
        PutDigest(ifsc, Id(1));
        for (std::uint64_t i = 0; i < (length + sliceSize - 1) / sliceSize; ++i) {
            PutDigest(ifsc, Id(static_cast<std::uint8_t>(10 + i)));
            Put32(ifsc, static_cast<std::uint32_t>(i));
        }
        const Bytes p = Packet("PAR 2.0\0IFSC\0\0\0\0", made.setId, ifsc);
        made.bytes.insert(made.bytes.end(), p.begin(), p.end());
    }
    for (int e = 0; e < recovery; ++e) {
        Bytes slice;
        Put32(slice, static_cast<std::uint32_t>(e));
        slice.resize(4 + sliceSize, static_cast<std::uint8_t>(e));
        const Bytes p = Packet("PAR 2.0\0RecvSlic", made.setId, slice);
        made.bytes.insert(made.bytes.end(), p.begin(), p.end());
    }
    return made;
}

Par2Set ReadBytes(const std::vector<Bytes>& files)
{
    std::vector<std::string> paths;
    std::vector<Par2Source> sources;
    for (const Bytes& bytes : files) {
        paths.push_back("x");
        Par2Source source;
        source.size = bytes.size();
        source.read = [&bytes](std::uint64_t offset, void* buffer, std::size_t size) {
            if (offset > bytes.size() || size > bytes.size() - offset)
                return false;
            std::memcpy(buffer, bytes.data() + offset, size);
            return true;
        };
        sources.push_back(std::move(source));
    }
    return ReadPar2Sources(paths, sources);
}

bool HasFault(const Par2Set& set, Par2Fault fault)
{
    for (const Par2FaultAt& f : set.faults)
        if (f.fault == fault)
            return true;
    return false;
}

TEST(Par2Reader, ReadsASetAmidGarbageCopiesAndUnknownPackets)
{
    const Made made = MakeSet(64, 200, 3);
    Bytes file = {'j', 'u', 'n', 'k'};
    file.insert(file.end(), made.bytes.begin(), made.bytes.end());
    const Bytes unknown = Packet("PAR 2.0\0Unknown!", made.setId, Bytes(8, 1));
    file.insert(file.end(), unknown.begin(), unknown.end());
    file.insert(file.end(), made.bytes.begin(), made.bytes.end());  // every packet twice
    const Par2Set set = ReadBytes({file});
    ASSERT_TRUE(set.usable);
    EXPECT_EQ(set.sliceSize, 64u);
    ASSERT_EQ(set.files.size(), 1u);
    EXPECT_EQ(set.files[0].name, "a.bin");
    EXPECT_EQ(set.files[0].length, 200u);
    ASSERT_EQ(set.files[0].slices.size(), 4u);
    EXPECT_EQ(set.files[0].slices[3].crc32, 3u);
    EXPECT_EQ(set.inputSlices, 4u);
    ASSERT_EQ(set.recovery.size(), 3u);
    EXPECT_EQ(set.recovery[2].exponent, 2u);
    EXPECT_TRUE(HasFault(set, Par2Fault::Unknown));
    EXPECT_FALSE(HasFault(set, Par2Fault::BadChecksum));
}

TEST(Par2Reader, ADamagedPacketIsPassedOverAndTheRestKept)
{
    Made made = MakeSet(64, 200, 3);
    // A byte of the last recovery slice's data changed.
    made.bytes[made.bytes.size() - 10] ^= 1;
    const Par2Set set = ReadBytes({made.bytes});
    ASSERT_TRUE(set.usable);
    EXPECT_EQ(set.recovery.size(), 2u);
    EXPECT_TRUE(HasFault(set, Par2Fault::BadChecksum));
}

// Sizes that cannot be: refused by what they say, never allocated from.
TEST(Par2Reader, ImpossibleSizesAreRefused)
{
    struct Case {
        const char* what;
        Made made;
        Par2Fault fault;
        bool usable;
    };
    const Case cases[] = {
        {"slice size 0", MakeSet(0, 200, 0), Par2Fault::BadSliceSize, false},
        {"slice size not a multiple of 4", MakeSet(6, 200, 0), Par2Fault::BadSliceSize, false},
        {"too many slices", MakeSet(4, 4ull << 40, 0), Par2Fault::TooManySlices, false},
        {"a file count past the packet", MakeSet(64, 200, 0, 0xffffffffu), Par2Fault::NoMainPacket, false},
    };
    for (const Case& c : cases) {
        const Par2Set set = ReadBytes({c.made.bytes});
        EXPECT_EQ(set.usable, c.usable) << c.what;
        EXPECT_TRUE(HasFault(set, c.fault)) << c.what;
    }
    // A packet length past the end of the file, and one not a multiple of 4.
    for (std::uint64_t length : {std::uint64_t(1) << 62, std::uint64_t(66)}) {
        Made made = MakeSet(64, 200, 0);
        for (int i = 0; i < 8; ++i)
            made.bytes[8 + i] = static_cast<std::uint8_t>(length >> (8 * i));
        const Par2Set set = ReadBytes({made.bytes});
        EXPECT_TRUE(HasFault(set, Par2Fault::BadLength)) << length;
        EXPECT_FALSE(set.usable);
    }
}

TEST(Par2Reader, TheMainPacketMayLieInAnotherFile)
{
    const Made made = MakeSet(64, 200, 2);
    const std::size_t mainLength = 64 + 8 + 4 + 16;
    const Bytes first(made.bytes.begin() + mainLength, made.bytes.end());
    const Bytes second(made.bytes.begin(), made.bytes.begin() + mainLength);
    const Par2Set set = ReadBytes({first, second});
    ASSERT_TRUE(set.usable);
    EXPECT_EQ(set.recovery.size(), 2u);
    EXPECT_EQ(set.recovery[0].file, 0u);
}

// --- Sets made by par2 -------------------------------------------------------------

bool HavePar2() { return std::system("command -v par2 >/dev/null 2>&1") == 0; }

void Write(const std::string& path, std::size_t size, unsigned seed)
{
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out.put(static_cast<char>(seed >> 16));
    }
}

TEST(Par2Reader, ReadsASetMadeByPar2)
{
    if (!HavePar2())
        GTEST_SKIP() << "par2 is not installed";
    TempDir dir;
    Write(dir.path().string() + "/one.bin", 100000, 1);
    Write(dir.path().string() + "/two.bin", 5000, 2);
    const std::string command = "cd '" + dir.path().string() + "' && par2 create -q -q -s4096 -c12 -n3 set.par2 one.bin two.bin >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<std::string> files = Par2SetFiles(dir.path().string() + "/set.par2");
    EXPECT_EQ(files.size(), 4u);
    Par2Set set = ReadPar2Set(dir.path().string() + "/set.par2");
    ASSERT_TRUE(set.usable);
    EXPECT_TRUE(set.faults.empty());
    EXPECT_EQ(set.sliceSize, 4096u);
    ASSERT_EQ(set.files.size(), 2u);
    std::vector<std::string> names = {set.files[0].name, set.files[1].name};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.bin", "two.bin"}));
    EXPECT_EQ(set.inputSlices, 25u + 2u);
    EXPECT_EQ(set.recovery.size(), 12u);
    EXPECT_FALSE(set.creator.empty());

    // A volume named instead of the index file finds the same set.
    std::string volume;
    for (const std::string& f : files)
        if (f.find(".vol") != std::string::npos)
            volume = f;
    EXPECT_EQ(ReadPar2Set(volume).recovery.size(), 12u);
}

}  // namespace
}  // namespace tessera
