#include "support/TempDir.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace tessera::test {

bool MakeSocket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}


TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tessera-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(std::string_view name) const
{
    return (path_ / std::string(name)).string();
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string PatternBytes(std::int64_t offset, std::int64_t length)
{
    std::string bytes(static_cast<std::size_t>(length), '\0');
    for (std::int64_t i = 0; i < length; ++i) {
        const std::int64_t at = offset + i;
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((at * 131 + at / 251) & 0xff);
    }
    return bytes;
}

void WritePatternFile(const std::string& path, std::int64_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    constexpr std::int64_t kChunk = 1 << 20;
    for (std::int64_t at = 0; at < size; at += kChunk) {
        const std::string bytes = PatternBytes(at, std::min(kChunk, size - at));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace tessera::test
