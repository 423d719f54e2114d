#include "engine/recovery/Par2Packets.h"

#include <algorithm>
#include <cstring>

namespace tessera::par2 {

namespace {

// Fixed fields of a file description: id, MD5, MD5 of the first 16 KiB, length.
constexpr std::size_t kDescriptionFixed = 16 + 16 + 16 + 8;
// A slice checksum packet: the file id, then each slice's MD5 and CRC-32.
constexpr std::size_t kChecksumsFixed = 16;
constexpr std::size_t kChecksumSize = 20;

// Text padded with zero bytes to a multiple of 4.
void PutPadded(std::string& out, const std::string& text)
{
    out += text;
    out.append((4 - text.size() % 4) % 4, '\0');
}

}  // namespace

std::uint64_t Le64(const std::uint8_t* p)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

Md5Digest DigestAt(const std::uint8_t* p)
{
    Md5Digest digest;
    std::memcpy(digest.data(), p, 16);
    return digest;
}

void Put(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

void Put(std::string& out, const Md5Digest& digest) { out.append(reinterpret_cast<const char*>(digest.data()), 16); }

Header ParseHeader(const std::uint8_t* p)
{
    Header header;
    header.length = Le64(p + 8);
    header.md5 = DigestAt(p + 16);
    header.setId = DigestAt(p + 32);
    std::memcpy(header.type.data(), p + 48, 16);
    return header;
}

std::string Packet(const Md5Digest& setId, const Type& type, const std::string& body)
{
    std::string packet(kMagic, sizeof kMagic);
    Put(packet, kHeader + body.size(), 8);
    packet.append(16, '\0');  // its MD5, below
    Put(packet, setId);
    packet.append(type.data(), type.size());
    packet += body;
    const Md5Digest md5 = Md5Of(packet.data() + 32, packet.size() - 32);
    std::memcpy(packet.data() + 16, md5.data(), 16);
    return packet;
}

Md5Digest FileId(const Md5Digest& md5First16k, std::uint64_t length, const std::string& name)
{
    std::string text;
    Put(text, md5First16k);
    Put(text, length, 8);
    text += name;
    return Md5Of(text.data(), text.size());
}

bool FileIdBefore(const Md5Digest& a, const Md5Digest& b)
{
    for (int i = 15; i >= 0; --i)
        if (a[i] != b[i])
            return a[i] < b[i];
    return false;
}

std::string BuildMain(const MainBody& main)
{
    std::string body;
    Put(body, main.sliceSize, 8);
    Put(body, main.fileIds.size(), 4);
    for (const Md5Digest& id : main.fileIds)
        Put(body, id);
    return body;
}

Md5Digest SetIdOf(const std::string& mainBody) { return Md5Of(mainBody.data(), mainBody.size()); }

std::optional<MainBody> ParseMain(const std::uint8_t* body, std::size_t size, const Md5Digest& setId)
{
    if (size < 12 || Md5Of(body, size) != setId)
        return std::nullopt;
    // The ids of the files that recovery covers, then, in a set that has
    // them, of files it only describes: both 16 bytes each.
    const std::uint64_t count = Le32(body + 8);
    if (count > (size - 12) / 16 || (size - 12) % 16 != 0)
        return std::nullopt;
    MainBody main;
    main.sliceSize = Le64(body);
    main.fileIds.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i)
        main.fileIds.push_back(DigestAt(body + 12 + 16 * i));
    return main;
}

std::string BuildFileDescription(const FileDescription& file)
{
    std::string body;
    Put(body, file.id);
    Put(body, file.md5);
    Put(body, file.md5First16k);
    Put(body, file.length, 8);
    PutPadded(body, file.name);
    return body;
}

std::optional<FileDescription> ParseFileDescription(const std::uint8_t* body, std::size_t size)
{
    if (size < kDescriptionFixed)
        return std::nullopt;
    FileDescription file;
    file.id = DigestAt(body);
    file.md5 = DigestAt(body + 16);
    file.md5First16k = DigestAt(body + 32);
    file.length = Le64(body + 48);
    const char* name = reinterpret_cast<const char*>(body + kDescriptionFixed);
    file.name.assign(name, std::find(name, name + (size - kDescriptionFixed), '\0'));
    return file;
}

Md5Digest DescribedId(const std::uint8_t* body) { return DigestAt(body); }

std::string BuildSliceChecksums(const Md5Digest& fileId, const std::vector<SliceChecksum>& slices)
{
    std::string body;
    Put(body, fileId);
    for (const SliceChecksum& slice : slices) {
        Put(body, slice.md5);
        Put(body, slice.crc32, 4);
    }
    return body;
}

bool SliceChecksumsSize(std::size_t size)
{
    return size >= kChecksumsFixed && (size - kChecksumsFixed) % kChecksumSize == 0;
}

std::optional<std::vector<SliceChecksum>> ParseSliceChecksums(const std::uint8_t* body, std::size_t size,
                                                              std::uint64_t count)
{
    if (!SliceChecksumsSize(size) || (size - kChecksumsFixed) / kChecksumSize != count)
        return std::nullopt;
    std::vector<SliceChecksum> slices;
    slices.reserve(static_cast<std::size_t>(count));
    for (const std::uint8_t* p = body + kChecksumsFixed; p < body + size; p += kChecksumSize)
        slices.push_back({DigestAt(p), Le32(p + 16)});
    return slices;
}

std::string BuildRecoveryHead(const Md5Digest& setId, std::uint32_t exponent, std::uint64_t sliceSize,
                              const Md5Digest& packetMd5)
{
    std::string head(kMagic, sizeof kMagic);
    Put(head, kHeader + kRecoveryBody + sliceSize, 8);
    Put(head, packetMd5);
    Put(head, setId);
    head.append(kRecoverySlice.data(), kRecoverySlice.size());
    Put(head, exponent, 4);
    return head;
}

Md5 RecoveryMd5(const Md5Digest& setId, std::uint32_t exponent)
{
    std::string head;
    Put(head, setId);
    head.append(kRecoverySlice.data(), kRecoverySlice.size());
    Put(head, exponent, 4);
    Md5 md5;
    md5.Update(head.data(), head.size());
    return md5;
}

std::uint32_t ParseRecoveryExponent(const std::uint8_t* body) { return Le32(body); }

std::string BuildCreator(const std::string& text)
{
    std::string body;
    PutPadded(body, text);
    return body;
}

std::string ParseCreator(const std::uint8_t* body, std::size_t size, std::size_t longest)
{
    const char* text = reinterpret_cast<const char*>(body);
    const char* end = text + std::min(size, longest);
    return std::string(text, std::find(text, end, '\0'));
}

}  // namespace tessera::par2
