#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/kernels/Md5.h"
#include "engine/recovery/Par2Packets.h"
#include "fileio/FileSystem.h"

// Reading a recovery set: the packets of "<base>.par2" and its volumes, found
// by their magic wherever they lie, each checked by its MD5 before it is
// believed. Damaged and unknown packets are passed over and recorded as
// faults; what is left is assembled into one set. Memory stays bounded
// whatever the input: recovery data is located, never loaded, and no size
// read from a file is allocated before it has been found possible.
namespace tessera {

// The format's limits on what a set may hold.
inline constexpr std::uint64_t kPar2MaxInputSlices = 32768;
inline constexpr std::uint32_t kPar2MaxExponent = 65534;
// A set's slices are no longer than its longest file (rounded up to a
// multiple of 4), or than this.
inline constexpr std::uint64_t kPar2SliceSlack = 1u << 20;
// The largest packet other than a recovery slice that is read into memory:
// a slice checksum packet for every input slice of one file.
inline constexpr std::uint64_t kPar2MaxSmallPacket = 64 + 16 + 20 * kPar2MaxInputSlices;

enum class Par2Fault {
    Open,             // a file of the set could not be opened or read (error in errorNumber)
    BadLength,        // a packet's length is under its header, not a multiple of 4, or past the file
    BadChecksum,      // a packet's MD5 does not match its bytes
    Unknown,          // a packet of a type this reader does not know (skipped)
    Malformed,        // a known packet whose body cannot be (too short, a bad count, a set id not its own)
    OtherSet,         // a packet of another recovery set (skipped)
    BadSliceSize,     // the main packet's slice size is 0, not a multiple of 4, or longer than any file needs
    TooManySlices,    // the files need more input slices than the format allows
    NoMainPacket,     // no usable main packet: the set cannot be used
    MissingFileDescription,  // a file of the set has no description packet
    MissingSliceChecksums,   // a file of the set has no slice checksum packet
    RecoverySliceSize,       // a recovery slice packet whose data is not one slice
};

struct Par2FaultAt {
    Par2Fault fault;
    std::size_t file = 0;       // index into Par2Set::paths
    std::uint64_t offset = 0;   // the packet's offset in that file
    int errorNumber = 0;
    std::uint32_t fileType = 0;  // Open: what stands at the name when it is no regular file (S_IFMT)
};

using Par2SliceChecksum = par2::SliceChecksum;

struct Par2File {
    Md5Digest id{};
    Md5Digest md5{};       // of the whole file
    Md5Digest md5First16k{};
    std::uint64_t length = 0;
    std::string name;      // as stored: a relative path with '/' between folders
    bool described = false;
    std::vector<Par2SliceChecksum> slices;  // empty until its checksum packet is read
    std::uint64_t firstSlice = 0;           // its index among all input slices of the set
};

struct Par2RecoverySlice {
    std::uint32_t exponent = 0;
    std::size_t file = 0;          // index into Par2Set::paths
    std::uint64_t dataOffset = 0;  // where the slice's bytes start in that file
};

struct Par2Set {
    std::vector<std::string> paths;  // the files read
    bool usable = false;             // a main packet was found and every file of the set is described
    Md5Digest setId{};
    std::uint64_t sliceSize = 0;
    std::vector<Par2File> files;     // the recovery set's files, in the main packet's order
    std::uint64_t inputSlices = 0;   // over all files
    std::vector<Par2RecoverySlice> recovery;  // one per exponent, in ascending order
    std::string creator;
    std::vector<Par2FaultAt> faults;
};

// A source of bytes to scan: a file, or memory in tests and fuzzing.
struct Par2Source {
    std::uint64_t size = 0;
    // Reads exactly size bytes at offset; false on a read error.
    std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)> read;
    int openError = 0;  // the source could not be opened (errno)
    std::uint32_t openType = 0;  // or is no regular file: what it is (S_IFMT)
};

// Reads the packets of each source in turn (paths[i] names sources[i]) and
// assembles the set.
[[nodiscard]] Par2Set ReadPar2Sources(const std::vector<std::string>& paths, const std::vector<Par2Source>& sources);

// The base name of the set a .par2 file belongs to, without its folder:
// "b" for "d/b.par2" and for "d/b.vol03+04.par2".
[[nodiscard]] std::string Par2BaseName(const std::string& named);

// The files of the set named by "<base>.par2" (or any of its volumes): that
// file and every "<base>.vol*.par2" beside it, sorted.
[[nodiscard]] std::vector<std::string> Par2SetFiles(const std::string& named, const FileSystem& files = RealFiles());

// Reads the set named by a .par2 file and its volumes from disk.
[[nodiscard]] Par2Set ReadPar2Set(const std::string& named, const FileSystem& files = RealFiles());

}  // namespace tessera
