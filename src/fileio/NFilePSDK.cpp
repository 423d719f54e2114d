#include "NFilePSDK.h"

#include "Folder.h"
#include "OpenFile.h"
#include "Retry.h"
#include "Sigpipe.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace {

constexpr std::uint32_t kWritebackPiece = 2 * 1024 * 1024;
// The longest a waiting Read or Write goes without looking at the abort flag.
constexpr int kWaitSliceMs = 50;
// Larger writes into the page cache make the kernel look for large runs of
// free memory: 16 MiB at once cost three to six times the system time of the
// same bytes in 1 MiB writes on the development machine.
constexpr std::uint32_t kWritePiece = 1024 * 1024;

// The descriptor, locked as the form asks, or -1 with errno set.
template <typename Opener>
int OpenForm(Opener&& open, NFilePSDK::Form form, std::uint32_t& type)
{
    using tessera::FileLock;
    int fd = -1;
    switch (form) {
    case NFilePSDK::Form::Reading:
    case NFilePSDK::Form::Stream:
        fd = open({O_RDONLY, FileLock::Shared, false}, &type);
        if (fd >= 0)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        break;
    case NFilePSDK::Form::Peeking:
        fd = open({O_RDONLY, FileLock::None, false}, &type);
        break;
    case NFilePSDK::Form::Writing:
        fd = open({O_WRONLY | O_CREAT, FileLock::Exclusive, true}, &type);
        break;
    case NFilePSDK::Form::CreateNew:
        fd = open({O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, FileLock::Exclusive, false}, &type);
        break;
    }
    return fd;
}

}  // namespace

NFilePSDK::NFilePSDK(const std::string& path, Form form)
{
    std::uint32_t type = 0;
    fd_ = OpenForm([&](const tessera::OpenRequest& request,
                       std::uint32_t* found) { return tessera::OpenFile(path, request, found); },
                   form, type);
    if (fd_ < 0)
        error_ = errno;
    writing_ = form == Form::Writing || form == Form::CreateNew;
    regular_ = fd_ >= 0 && type == S_IFREG;
    waitForData_ = form == Form::Stream;
}

NFilePSDK::NFilePSDK(const tessera::Folder& folder, const std::string& name, Form form)
{
    std::uint32_t type = 0;
    fd_ = OpenForm(
        [&](const tessera::OpenRequest& request, std::uint32_t* found) {
            return tessera::OpenFileBeneath(folder.Descriptor(), name, request, found);
        },
        form, type);
    if (fd_ < 0)
        error_ = errno;
    writing_ = form == Form::Writing || form == Form::CreateNew;
    regular_ = fd_ >= 0 && type == S_IFREG;
    waitForData_ = form == Form::Stream;
}

NFilePSDK NFilePSDK::Adopt(int fd, bool writing)
{
    NFilePSDK file;
    file.fd_ = fd;
    struct stat st {};
    file.regular_ = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    file.writing_ = writing;
    file.waitForData_ = !writing;
    if (fd < 0)
        file.error_ = EBADF;
    return file;
}

NFilePSDK NFilePSDK::Scratch(const std::string& folder)
{
    std::uint32_t type = 0;
    const int fd = tessera::OpenFile(folder, {O_RDWR | O_TMPFILE, tessera::FileLock::None, false}, &type);
    const int error = errno;
    NFilePSDK file = Adopt(fd, true);
    file.cacheUse_ = CacheUse::Cached;
    if (fd < 0)
        file.error_ = error;
    return file;
}

namespace {

// A pipe's room grows to size where it is smaller and the system allows it;
// anything else is left as it is.
void WidenPipe(int fd, int size)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    const int now = ::fcntl(fd, F_GETPIPE_SZ);
    if (now >= 0 && now < size)
        (void)::fcntl(fd, F_SETPIPE_SZ, size);
}

// The errors with which the kernel says it does not copy between two kinds
// of files at all.
bool KernelRefuses(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF ||
           error == ETXTBSY || error == ESPIPE;
}

}  // namespace

NFilePSDK NFilePSDK::StandardInput()
{
    const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    NFilePSDK file = Adopt(fd, false);
    if (fd < 0)
        file.error_ = error;
    WidenPipe(fd, kStandardPipeSize);
    return file;
}

NFilePSDK NFilePSDK::StandardOutput()
{
    const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    NFilePSDK file = Adopt(fd, true);
    if (fd < 0)
        file.error_ = error;
    return file;
}

NFilePSDK::NFilePSDK(NFilePSDK&& other) noexcept
    : NFile(std::move(other)),
      fd_(std::exchange(other.fd_, -1)),
      error_(other.error_),
      writing_(other.writing_),
      regular_(other.regular_),
      waitForData_(other.waitForData_),
      abort_(other.abort_),
      cacheUse_(other.cacheUse_),
      flushedUpTo_(other.flushedUpTo_),
      dirtyFrom_(other.dirtyFrom_)
{
}

NFilePSDK& NFilePSDK::operator=(NFilePSDK&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        writing_ = other.writing_;
        regular_ = other.regular_;
        waitForData_ = other.waitForData_;
        abort_ = other.abort_;
        cacheUse_ = other.cacheUse_;
        flushedUpTo_ = other.flushedUpTo_;
        dirtyFrom_ = other.dirtyFrom_;
    }
    return *this;
}

NFilePSDK::~NFilePSDK()
{
    Close();
}

void NFilePSDK::Close()
{
    if (fd_ < 0)
        return;
    // Not retried on EINTR: the descriptor is gone either way.
    ::close(fd_);
    fd_ = -1;
}

std::uint32_t NFilePSDK::Read(void* buffer, std::uint32_t count)
{
    if (fd_ < 0)
        return 0;
    auto* p = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        // A pipe is read once it has data or has ended: a blocking one never
        // holds the abort flag unseen, and a named one waits for its writer.
        if (waitForData_ && !regular_ && !WaitReady(POLLIN))
            break;
        const ssize_t n = tessera::RetryOnEintr([&] { return ::read(fd_, p + done, count - done); });
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                error_ = errno;
                break;
            }
            if (!WaitReady(POLLIN))
                break;
            continue;
        }
        if (n == 0)
            break;
        done += static_cast<std::uint32_t>(n);
    }
    if (!writing_ && regular_ && done > 0 && cacheUse_ == CacheUse::Streaming) {
        // Readers go through a file once, block by block. The pages just
        // copied out are let go, so that the next allocations reuse them
        // rather than fresh memory, and the next block is asked for now, so
        // that it arrives while the caller is busy elsewhere.
        off_t next = ::lseek(fd_, 0, SEEK_CUR);
        if (next >= 0) {
            ::posix_fadvise(fd_, next - done, done, POSIX_FADV_DONTNEED);
            if (done == count)
                ::posix_fadvise(fd_, next, count, POSIX_FADV_WILLNEED);
        }
    }
    return done;
}

std::uint32_t NFilePSDK::Write(const void* buffer, std::uint32_t count)
{
    if (fd_ < 0)
        return 0;
    auto* p = static_cast<const char*>(buffer);
    off_t at = writing_ && cacheUse_ == CacheUse::Streaming ? ::lseek(fd_, 0, SEEK_CUR) : -1;
    std::uint32_t done = 0;
    while (done < count) {
        // A writer hands the disk its data piece by piece, so the disk is
        // already writing while the rest is being copied, and Flush has
        // little left to wait for.
        const std::uint32_t piece = std::min(count - done, at >= 0 ? kWritebackPiece : kWritePiece);
        ssize_t n;
        {
            const tessera::detail::SigpipeBlock quiet(!regular_);
            n = tessera::RetryOnEintr([&] { return ::write(fd_, p + done, piece); });
        }
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                error_ = errno;
                break;
            }
            if (!WaitReady(POLLOUT))
                break;
            continue;
        }
        if (n == 0) {
            error_ = ENOSPC;
            break;
        }
        if (at >= 0)
            ::sync_file_range(fd_, at + done, n, SYNC_FILE_RANGE_WRITE);
        done += static_cast<std::uint32_t>(n);
    }
    if (at >= 0 && done > 0 && at < dirtyFrom_)
        dirtyFrom_ = at;
    return done;
}

bool NFilePSDK::WaitReady(short events)
{
    pollfd watched{fd_, events, 0};
    for (;;) {
        if (abort_ && abort_->load()) {
            error_ = ECANCELED;
            return false;
        }
        const int rc = tessera::RetryOnEintr([&] { return ::poll(&watched, 1, kWaitSliceMs); });
        if (rc < 0) {
            error_ = errno;
            return false;
        }
        if (watched.revents & POLLNVAL) {
            error_ = EBADF;
            return false;
        }
        // Ready, or the other end has gone: the next call tells which.
        if (rc > 0)
            return true;
    }
}

bool NFilePSDK::Seek(std::int64_t offset, int origin)
{
    int whence;
    switch (origin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default:
        error_ = EINVAL;
        return false;
    }
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    if (::lseek(fd_, static_cast<off_t>(offset), whence) < 0) {
        error_ = errno;
        return false;
    }
    return true;
}

std::int64_t NFilePSDK::GetSize()
{
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        error_ = fd_ < 0 ? EBADF : errno;
        return -1;
    }
    return st.st_size;
}

bool NFilePSDK::Flush()
{
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    const int rc = tessera::RetryOnEintr([&] { return ::fdatasync(fd_); });
    // EINVAL and EROFS: a device or pipe with nothing to synchronise.
    if (rc != 0 && errno != EINVAL && errno != EROFS) {
        error_ = errno;
        return false;
    }
    if (writing_ && cacheUse_ == CacheUse::Streaming) {
        // What is on disk need not stay in the page cache: left there, the
        // flushed pages of a long job crowd the cache and slow later writes.
        off_t end = ::lseek(fd_, 0, SEEK_CUR);
        std::int64_t from = dirtyFrom_ < flushedUpTo_ ? dirtyFrom_ : flushedUpTo_;
        if (end > from)
            ::posix_fadvise(fd_, from, end - from, POSIX_FADV_DONTNEED);
        if (end >= 0)
            flushedUpTo_ = end;
        dirtyFrom_ = INT64_MAX;
    }
    return true;
}

tessera::FileStatus NFilePSDK::Status() const
{
    tessera::FileStatus status;
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        status.error = fd_ < 0 ? EBADF : errno;
        return status;
    }
    status.type = st.st_mode & S_IFMT;
    status.size = st.st_size;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    return status;
}

std::int64_t NFilePSDK::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const
{
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = tessera::RetryOnEintr(
            [&] { return ::pread(fd_, bytes + done, size - done, static_cast<off_t>(offset + done)); });
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

std::uint32_t NFilePSDK::FileType()
{
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        error_ = fd_ < 0 ? EBADF : errno;
        return 0;
    }
    return st.st_mode & S_IFMT;
}

std::int64_t NFilePSDK::CopyTo(NFile& other, std::uint32_t count)
{
    auto* target = dynamic_cast<NFilePSDK*>(&other.Backing());
    if (target == nullptr || fd_ < 0 || target->fd_ < 0)
        return -1;
    NFilePSDK& to = *target;
    if (!regular_)
        return SpliceTo(to, count);
    if (!to.regular_) {
        struct stat st {};
        if (::fstat(to.fd_, &st) != 0)
            return -1;
        return SendTo(to, count, S_ISFIFO(st.st_mode));
    }
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::copy_file_range(fd_, nullptr, to.fd_, nullptr, count - done, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // Kinds of files or file systems the kernel does not copy between.
            const bool refused = errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                                 errno == EBADF || errno == ETXTBSY;
            if (done == 0 && refused)
                return -1;
            error_ = errno;
            to.error_ = errno;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

std::int64_t NFilePSDK::SpliceTo(NFilePSDK& to, std::uint32_t count)
{
    // Neither end blocks: an empty pipe, or a full one written to, is waited
    // for in slices that see the abort flag.
    const tessera::detail::SigpipeBlock quiet(!to.regular_);
    std::uint32_t done = 0;
    bool waited = false;
    while (done < count) {
        const ssize_t n = tessera::RetryOnEintr(
            [&] { return ::splice(fd_, nullptr, to.fd_, nullptr, count - done, SPLICE_F_MOVE | SPLICE_F_NONBLOCK); });
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            waited = false;
            continue;
        }
        if (n == 0) {
            // Ended; or a named pipe whose writer has not come yet, which is
            // waited for as Read waits for it.
            if (waitForData_ && !waited) {
                if (!WaitReady(POLLIN))
                    break;
                waited = true;
                continue;
            }
            break;
        }
        if (errno == EAGAIN) {
            if (!WaitReady(POLLIN))
                break;
            if (!to.regular_ && !to.WaitReady(POLLOUT)) {
                error_ = to.error_;
                break;
            }
            continue;
        }
        if (done == 0 && KernelRefuses(errno))
            return -1;
        to.error_ = errno;
        break;
    }
    return done;
}

std::int64_t NFilePSDK::SendTo(NFilePSDK& to, std::uint32_t count, bool toPipe)
{
    const tessera::detail::SigpipeBlock quiet(true);
    std::uint32_t done = 0;
    while (done < count) {
        // Into a pipe without blocking, so that a full one is waited for in
        // slices that see the abort flag; into a device as it takes them.
        const ssize_t n = tessera::RetryOnEintr([&] {
            return toPipe ? ::splice(fd_, nullptr, to.fd_, nullptr, count - done, SPLICE_F_MOVE | SPLICE_F_NONBLOCK)
                          : ::sendfile(to.fd_, fd_, nullptr, count - done);
        });
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n == 0)
            break;
        if (errno == EAGAIN) {
            if (!to.WaitReady(POLLOUT)) {
                error_ = to.error_;
                break;
            }
            continue;
        }
        if (done == 0 && KernelRefuses(errno))
            return -1;
        error_ = errno;
        to.error_ = errno;
        break;
    }
    return done;
}
