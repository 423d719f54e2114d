#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/kernels/Md5.h"

// The packets of a recovery set, built and parsed one type at a time, for the
// reader and the writer alike. Every packet begins with a 64-byte header: the
// magic, the packet's length, the MD5 of what follows the MD5 itself, the
// set's id and the type. Numbers are little-endian; texts are padded with
// zero bytes to a multiple of 4.
namespace tessera::par2 {

inline constexpr char kMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
inline constexpr std::size_t kHeader = 64;

using Type = std::array<char, 16>;
constexpr Type MakeType(const char (&text)[17])
{
    Type type{};
    for (int i = 0; i < 16; ++i)
        type[i] = text[i];
    return type;
}
inline constexpr Type kMain = MakeType("PAR 2.0\0Main\0\0\0\0");
inline constexpr Type kFileDesc = MakeType("PAR 2.0\0FileDesc");
inline constexpr Type kSliceChecksums = MakeType("PAR 2.0\0IFSC\0\0\0\0");
inline constexpr Type kRecoverySlice = MakeType("PAR 2.0\0RecvSlic");
inline constexpr Type kCreator = MakeType("PAR 2.0\0Creator\0");

// A recovery slice packet's body before the slice: its exponent.
inline constexpr std::size_t kRecoveryBody = 4;

// --- Fields -----------------------------------------------------------------

[[nodiscard]] std::uint64_t Le64(const std::uint8_t* p);
[[nodiscard]] std::uint32_t Le32(const std::uint8_t* p);
[[nodiscard]] Md5Digest DigestAt(const std::uint8_t* p);
void Put(std::string& out, std::uint64_t value, int bytes);
void Put(std::string& out, const Md5Digest& digest);

// --- Headers ----------------------------------------------------------------

struct Header {
    std::uint64_t length = 0;  // of the whole packet
    Md5Digest md5{};           // of the packet from its set id on
    Md5Digest setId{};
    Type type{};
};

// The header at p (kHeader bytes that begin with the magic).
[[nodiscard]] Header ParseHeader(const std::uint8_t* p);

// A whole packet: header and body, its MD5 filled in.
[[nodiscard]] std::string Packet(const Md5Digest& setId, const Type& type, const std::string& body);

// --- Files: their ids and their order ---------------------------------------

// A file's id: the MD5 of the MD5 of its first 16 KiB, its length and its name.
[[nodiscard]] Md5Digest FileId(const Md5Digest& md5First16k, std::uint64_t length, const std::string& name);

// A set orders its files by their ids read as 128-bit little-endian numbers:
// that order gives each input slice its index, and so its constant.
[[nodiscard]] bool FileIdBefore(const Md5Digest& a, const Md5Digest& b);

// --- Main packet ------------------------------------------------------------

struct MainBody {
    std::uint64_t sliceSize = 0;
    std::vector<Md5Digest> fileIds;  // in the set's order
};

// The body, the ids as given (the caller puts them in the set's order).
[[nodiscard]] std::string BuildMain(const MainBody& main);
// The set's id: the MD5 of the main packet's body.
[[nodiscard]] Md5Digest SetIdOf(const std::string& mainBody);
// Nothing when the body is short, its count of files does not fit it, or its
// MD5 is not the set id of its header.
[[nodiscard]] std::optional<MainBody> ParseMain(const std::uint8_t* body, std::size_t size, const Md5Digest& setId);

// --- File description -------------------------------------------------------

struct FileDescription {
    Md5Digest id{};
    Md5Digest md5{};  // of the whole file
    Md5Digest md5First16k{};
    std::uint64_t length = 0;
    std::string name;  // a relative path with '/' between folders
};

[[nodiscard]] std::string BuildFileDescription(const FileDescription& file);
// Nothing when the body is shorter than the fixed fields; the name ends at
// its first zero byte.
[[nodiscard]] std::optional<FileDescription> ParseFileDescription(const std::uint8_t* body, std::size_t size);
// The file id a body describes (its first 16 bytes), for a body of at least
// 16 bytes.
[[nodiscard]] Md5Digest DescribedId(const std::uint8_t* body);

// --- Slice checksums --------------------------------------------------------

struct SliceChecksum {
    Md5Digest md5{};  // of the slice, the last padded with zeros
    std::uint32_t crc32 = 0;
};

[[nodiscard]] std::string BuildSliceChecksums(const Md5Digest& fileId, const std::vector<SliceChecksum>& slices);
// The checksums of a body that holds `count` of them; nothing otherwise.
[[nodiscard]] std::optional<std::vector<SliceChecksum>> ParseSliceChecksums(const std::uint8_t* body, std::size_t size,
                                                                            std::uint64_t count);
// True when the size can be a slice checksum body (a file id, then 20 bytes a slice).
[[nodiscard]] bool SliceChecksumsSize(std::size_t size);

// --- Recovery slice ---------------------------------------------------------

// The packet's header and exponent, which the slice's bytes follow; bodyMd5
// is the packet's MD5 (see RecoveryMd5).
[[nodiscard]] std::string BuildRecoveryHead(const Md5Digest& setId, std::uint32_t exponent, std::uint64_t sliceSize,
                                            const Md5Digest& packetMd5);
// The MD5 of a recovery slice packet as far as its slice: the slice's bytes
// are added to it, in order, and it is finished.
[[nodiscard]] Md5 RecoveryMd5(const Md5Digest& setId, std::uint32_t exponent);
// The exponent of a body (at least kRecoveryBody bytes).
[[nodiscard]] std::uint32_t ParseRecoveryExponent(const std::uint8_t* body);

// --- Creator ----------------------------------------------------------------

[[nodiscard]] std::string BuildCreator(const std::string& text);
// The text up to its first zero byte, at most `longest` bytes of it.
[[nodiscard]] std::string ParseCreator(const std::uint8_t* body, std::size_t size, std::size_t longest = 256);

}  // namespace tessera::par2
