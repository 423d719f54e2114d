#include "OpenFile.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "Retry.h"

namespace tessera {

namespace {

int Flags(const OpenRequest& request) { return (request.flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC; }

// Each step of a relative name, or false for a name that is absolute or has
// an empty, "." or ".." step.
bool Steps(const std::string& name, std::vector<std::string>& steps)
{
    if (name.empty() || name.front() == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        std::string step = name.substr(start, end - start);
        if (step.empty() || step == "." || step == "..")
            return false;
        steps.push_back(std::move(step));
        start = end + 1;
    }
    return true;
}

// openat2 beneath dirfd without links; -1 with errno ENOSYS where the kernel
// has none.
int OpenAt2(int dirfd, const std::string& name, int flags)
{
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = (flags & O_CREAT) != 0 ? 0666 : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return RetryOnEintr([&] { return static_cast<int>(::syscall(SYS_openat2, dirfd, name.c_str(), &how, sizeof how)); });
}

// The same step by step: each folder opened with O_NOFOLLOW, then the last
// step with O_NOFOLLOW too.
int OpenStepByStep(int dirfd, const std::string& name, int flags)
{
    std::vector<std::string> steps;
    if (!Steps(name, steps)) {
        errno = EXDEV;
        return -1;
    }
    int at = dirfd;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        const int next = RetryOnEintr([&] {
            return ::openat(at, steps[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        });
        int saved = errno;
        struct stat st;
        // A link where a folder should be.
        if (next < 0 && saved == ENOTDIR && ::fstatat(at, steps[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            saved = ELOOP;
        if (at != dirfd)
            ::close(at);
        if (next < 0) {
            errno = saved;
            return -1;
        }
        at = next;
    }
    const int fd = RetryOnEintr([&] { return ::openat(at, steps.back().c_str(), flags | O_NOFOLLOW, 0666); });
    const int saved = errno;
    if (at != dirfd)
        ::close(at);
    errno = saved;
    return fd;
}

int OpenBeneath(int dirfd, const std::string& name, int flags)
{
    std::vector<std::string> steps;
    if (!Steps(name, steps)) {
        errno = EXDEV;
        return -1;
    }
    const int fd = OpenAt2(dirfd, name, flags);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
        return fd;
    return OpenStepByStep(dirfd, name, flags);
}

// What every opening does once it has a descriptor: look at it, lock and
// empty a regular file as asked, make it blocking again.
int FinishOpen(int fd, const OpenRequest& request, std::uint32_t* type)
{
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

}  // namespace

int OpenFile(const std::string& path, const OpenRequest& request, std::uint32_t* type)
{
    const int flags = Flags(request);
    const int fd = RetryOnEintr([&] { return ::open(path.c_str(), flags, 0666); });
    if (fd < 0)
        return -1;
    return FinishOpen(fd, request, type);
}

int OpenFileBeneath(int dirfd, const std::string& name, const OpenRequest& request, std::uint32_t* type)
{
    const int fd = OpenBeneath(dirfd, name, Flags(request));
    if (fd < 0)
        return -1;
    return FinishOpen(fd, request, type);
}

int OpenParentBeneath(int dirfd, const std::string& name, std::string& leaf)
{
    const std::size_t slash = name.rfind('/');
    leaf = slash == std::string::npos ? name : name.substr(slash + 1);
    if (leaf.empty() || leaf == "." || leaf == ".." || (slash != std::string::npos && slash == 0)) {
        errno = EXDEV;
        return -1;
    }
    if (slash == std::string::npos)
        return RetryOnEintr([&] { return ::openat(dirfd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC); });
    return OpenBeneath(dirfd, name.substr(0, slash), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace tessera
