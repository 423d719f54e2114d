#include "FileQuery.h"

#include "LockedOpen.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera {

namespace {

std::string MessageFor(FileError::Cause cause, const std::string& path)
{
    const char* text = "An unknown error occurred while accessing %1.";
    switch (cause) {
    case FileError::Cause::Generic: break;
    case FileError::Cause::FileNotFound: text = "%1 was not found."; break;
    case FileError::Cause::BadPath: text = "%1 contains an incorrect path."; break;
    case FileError::Cause::TooManyOpenFiles: text = "Could not open %1 because there are too many open files."; break;
    case FileError::Cause::AccessDenied: text = "Access to %1 was denied."; break;
    case FileError::Cause::SharingViolation: text = "A sharing violation occurred while accessing %1."; break;
    case FileError::Cause::HardIO: text = "A hardware I/O error was reported while accessing %1."; break;
    case FileError::Cause::DiskFull: text = "Disk full while accessing %1."; break;
    }
    std::string message = text;
    message.replace(message.find("%1"), 2, path);
    return message;
}

}  // namespace

FileError::FileError(Cause cause, std::string path, int osError)
    : std::runtime_error(MessageFor(cause, path)), cause_(cause), path_(std::move(path)), osError_(osError)
{
}

FileError::Cause FileError::CauseOf(int osError)
{
    switch (osError) {
    case ENOENT: return Cause::FileNotFound;
    case ENAMETOOLONG:
    case ENOTDIR:
    case ELOOP:
    case EINVAL: return Cause::BadPath;
    case EMFILE:
    case ENFILE: return Cause::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return Cause::AccessDenied;
    case EWOULDBLOCK:
    case ETXTBSY:
    case EBUSY: return Cause::SharingViolation;
    case EIO: return Cause::HardIO;
    case ENOSPC:
    case EDQUOT: return Cause::DiskFull;
    default: return Cause::Generic;
    }
}

bool IsRegularFile(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint32_t FileTypeAt(const std::string& path, int* error)
{
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        if (error)
            *error = path.empty() ? ENOENT : errno;
        return 0;
    }
    return st.st_mode & S_IFMT;
}

int NameState(const std::string& path)
{
    struct stat st;
    if (path.empty())
        return ENOENT;
    return ::lstat(path.c_str(), &st) == 0 ? 0 : errno;
}

std::uint32_t EntryTypeAt(const std::string& path)
{
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

int RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

std::int64_t SizeAt(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

const char* FileTypeName(std::uint32_t type)
{
    switch (type) {
    case S_IFREG: return "a regular file";
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a named pipe";
    case S_IFSOCK: return "a socket";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFLNK: return "a symbolic link";
    default: return "not a regular file";
    }
}

std::int64_t FileSize(const std::string& path, Unsized* why)
{
    if (why)
        *why = Unsized::None;
    if (!IsRegularFile(path)) {
        if (why)
            *why = Unsized::NotRegular;
        return -1;
    }
    // A regular file that another opening holds for writing is in use.
    const int fd = detail::OpenLocked(path, O_RDONLY, true, false);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        throw FileError(FileError::CauseOf(err), path, err);
    }
    // The size is only worth planning by when the file ends there.
    char byte = 0;
    ssize_t got = -1;
    do
        got = ::pread(fd, &byte, 1, st.st_size);
    while (got < 0 && errno == EINTR);
    const int err = errno;
    ::close(fd);
    if (got < 0)
        throw FileError(FileError::CauseOf(err), path, err);
    if (got > 0) {
        if (why)
            *why = Unsized::MoreThanSize;
        return -1;
    }
    return st.st_size;
}

bool NameIsFree(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace tessera
