#include "ReplaceContents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FileSystem.h"
#include "OpenFile.h"
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
    std::uint32_t type = 0;
    const Descriptor file(OpenFile(path, {O_WRONLY | O_CREAT, FileLock::Exclusive, /*truncate=*/false}, &type));
    if (file.get() < 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            return {ReplaceResult::Outcome::InUse, error, 0};
        if (error == EISDIR || error == ENXIO)
            return {ReplaceResult::Outcome::NotRegular, error, 0};
        return Failure(error);
    }
    if (type != S_IFREG)
        return {ReplaceResult::Outcome::NotRegular, 0, 0};
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0)
        return Failure(errno);
    // The kept files are looked up through their links: a link to a kept
    // file keeps what it reaches.
    for (std::size_t i = 0; i < keep.size(); ++i) {
        const FileStatus kept = RealFiles().Status(keep[i], Links::Follow);
        if (kept.Found() && kept.device == opened.st_dev && kept.inode == opened.st_ino)
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
