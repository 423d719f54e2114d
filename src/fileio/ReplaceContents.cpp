#include "ReplaceContents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "LockedOpen.h"
#include "Retry.h"

namespace tessera {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

ReplaceResult Failure(int error)
{
    return {ReplaceResult::Outcome::Failed, error, 0};
}

}  // namespace

ReplaceResult ReplaceContents(const std::string& path, std::string_view text, const std::vector<std::string>& keep)
{
    // A folder cannot be opened for writing (EISDIR); a FIFO without a reader
    // fails at once (ENXIO) instead of holding the caller.
    const Descriptor file(detail::OpenLocked(path, O_WRONLY | O_CREAT, /*shared=*/false, /*truncate=*/false));
    if (file.get() < 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            return {ReplaceResult::Outcome::InUse, error, 0};
        if (error == EISDIR || error == ENXIO)
            return {ReplaceResult::Outcome::NotRegular, error, 0};
        return Failure(error);
    }
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0)
        return Failure(errno);
    if (!S_ISREG(opened.st_mode))
        return {ReplaceResult::Outcome::NotRegular, 0, 0};
    for (std::size_t i = 0; i < keep.size(); ++i) {
        struct stat kept {};
        if (!keep[i].empty() && ::stat(keep[i].c_str(), &kept) == 0 && kept.st_dev == opened.st_dev &&
            kept.st_ino == opened.st_ino)
            return {ReplaceResult::Outcome::Kept, 0, i};
    }

    if (RetryOnEintr([&] { return ::ftruncate(file.get(), 0); }) != 0)
        return Failure(errno);
    while (!text.empty()) {
        const ssize_t wrote = RetryOnEintr([&] { return ::write(file.get(), text.data(), text.size()); });
        if (wrote < 0)
            return Failure(errno);
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
    if (::fsync(file.get()) != 0)
        return Failure(errno);
    return {ReplaceResult::Outcome::Written, 0, 0};
}

}  // namespace tessera
