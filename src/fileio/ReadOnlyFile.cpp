#include "ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "Retry.h"

namespace tessera {

ReadOnlyFile::ReadOnlyFile(const std::string& path)
    : fd_(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY); }))
{
    if (fd_ < 0)
        error_ = errno;
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_)
{
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
    }
    return *this;
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ReadOnlyFile::Stat(std::uint32_t& type, std::uint64_t& size)
{
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        error_ = fd_ < 0 ? EBADF : errno;
        return false;
    }
    type = info.st_mode & S_IFMT;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

ssize_t ReadOnlyFile::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const
{
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = RetryOnEintr(
            [&] { return ::pread(fd_, bytes + done, size - done, static_cast<off_t>(offset + done)); });
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace tessera
