#include "OpenFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Retry.h"

namespace tessera {

int OpenFile(const std::string& path, const OpenRequest& request, std::uint32_t* type)
{
    const int flags = (request.flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = RetryOnEintr([&] { return ::open(path.c_str(), flags, 0666); });
    if (fd < 0)
        return -1;

    struct stat st;
    int rc = ::fstat(fd, &st);
    const bool regular = rc == 0 && S_ISREG(st.st_mode);
    // Only regular files are locked and emptied: a device such as /dev/full
    // has no length, and a lock on its node would only shut out other users.
    if (regular && request.lock != FileLock::None)
        rc = RetryOnEintr([&] {
            return ::flock(fd, (request.lock == FileLock::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
        });
    // An empty file is left as it is (its size taken once the lock is held):
    // ext4 takes the truncation of a file to zero for a rewrite in place and
    // writes the new data back at close, making a join's close wait for the
    // disk.
    if (rc == 0 && regular && request.truncate) {
        struct stat locked;
        rc = ::fstat(fd, &locked);
        if (rc == 0 && locked.st_size > 0)
            rc = RetryOnEintr([&] { return ::ftruncate(fd, 0); });
    }
    // A pipe or device stays non-blocking: a read or write that cannot
    // proceed then returns at once, and the caller decides how long to wait.
    if (rc == 0 && regular) {
        const int fl = ::fcntl(fd, F_GETFL);
        rc = fl < 0 ? -1 : ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    }
    if (rc != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    if (type)
        *type = st.st_mode & S_IFMT;
    return fd;
}

}  // namespace tessera
