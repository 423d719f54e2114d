#include "Folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "Retry.h"

namespace tessera {

Folder::Folder(const std::string& path) : path_(path)
{
    fd_ = RetryOnEintr(
        [&] { return ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
    if (fd_ < 0)
        error_ = errno;
}

Folder::Folder(Folder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_), path_(std::move(other.path_))
{
}

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        path_ = std::move(other.path_);
    }
    return *this;
}

Folder::~Folder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string Folder::PathOf(const std::string& name) const
{
    if (path_.empty() || path_ == ".")
        return name;
    return path_.ends_with('/') ? path_ + name : path_ + "/" + name;
}

}  // namespace tessera
