#include "LockedOpen.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera::detail {

int OpenLocked(const std::string& path, int flags, bool shared, bool truncate)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;

    // Only regular files are locked and emptied: a device such as /dev/full
    // has no length, and a lock on its node would only shut out other users.
    struct stat st;
    int rc = ::fstat(fd, &st);
    const bool regular = rc == 0 && S_ISREG(st.st_mode);
    if (regular) {
        do {
            rc = ::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
    }
    // An empty file is left as it is: ext4 takes the truncation of a file to
    // zero for a rewrite in place and writes the new data back at close,
    // making a join's close wait for the disk.
    if (rc == 0 && regular && truncate && st.st_size > 0) {
        do {
            rc = ::ftruncate(fd, 0);
        } while (rc != 0 && errno == EINTR);
    }
    if (rc == 0) {
        const int fl = ::fcntl(fd, F_GETFL);
        rc = fl < 0 ? -1 : ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    }
    if (rc != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

}  // namespace tessera::detail
