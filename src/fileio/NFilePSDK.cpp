#include "NFilePSDK.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The descriptor, locked as the form asks, or -1 with errno set.
int OpenForm(const std::string& path, NFilePSDK::Form form)
{
    int flags = O_CLOEXEC;
    int lock = LOCK_EX | LOCK_NB;
    switch (form) {
    case NFilePSDK::Form::Reading:
        flags |= O_RDONLY;
        lock = LOCK_SH | LOCK_NB;
        break;
    case NFilePSDK::Form::Writing:
        // No O_TRUNC: the file is emptied only once the lock is ours.
        flags |= O_WRONLY | O_CREAT;
        break;
    case NFilePSDK::Form::CreateNew:
        flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
        break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;

    int rc;
    do {
        rc = ::flock(fd, lock);
    } while (rc != 0 && errno == EINTR);
    struct stat st;
    // Only a regular file is emptied; a device such as /dev/full has no length.
    if (rc == 0 && form == NFilePSDK::Form::Writing && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        do {
            rc = ::ftruncate(fd, 0);
        } while (rc != 0 && errno == EINTR);
    }
    if (rc != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    if (form == NFilePSDK::Form::Reading)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

}  // namespace

NFilePSDK::NFilePSDK(const std::string& path, Form form)
{
    fd_ = OpenForm(path, form);
    if (fd_ < 0)
        error_ = errno;
    writing_ = form != Form::Reading;
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
        ssize_t n = ::read(fd_, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

std::uint32_t NFilePSDK::Write(const void* buffer, std::uint32_t count)
{
    if (fd_ < 0)
        return 0;
    auto* p = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            break;
        }
        if (n == 0) {
            error_ = ENOSPC;
            break;
        }
        done += static_cast<std::uint32_t>(n);
    }
    if (done > 0 && writing_) {
        // Start writing the block back now; Flush then only waits for it.
        off_t end = ::lseek(fd_, 0, SEEK_CUR);
        if (end >= 0) {
            ::sync_file_range(fd_, end - done, done, SYNC_FILE_RANGE_WRITE);
            if (end - done < dirtyFrom_)
                dirtyFrom_ = end - done;
        }
    }
    return done;
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
    int rc;
    do {
        rc = ::fdatasync(fd_);
    } while (rc != 0 && errno == EINTR);
    // EINVAL and EROFS: a device or pipe with nothing to synchronise.
    if (rc != 0 && errno != EINVAL && errno != EROFS) {
        error_ = errno;
        return false;
    }
    if (writing_) {
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
