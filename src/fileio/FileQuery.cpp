#include "FileQuery.h"

#include "Admission.h"

#include <cerrno>
#include <sys/stat.h>

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

bool IsRegularFile(const std::string& path, const FileSystem& files)
{
    return files.Status(path, Links::Follow).type == S_IFREG;
}

std::uint32_t FileTypeAt(const std::string& path, int* error, const FileSystem& files)
{
    const FileStatus status = files.Status(path, Links::Follow);
    if (!status.Found() && error)
        *error = status.error;
    return status.type;
}

int NameState(const std::string& path, const FileSystem& files)
{
    return files.Status(path, Links::NoFollow).error;
}

std::uint32_t EntryTypeAt(const std::string& path, const FileSystem& files)
{
    return files.Status(path, Links::NoFollow).type;
}

std::int64_t SizeAt(const std::string& path, const FileSystem& files)
{
    return files.Status(path, Links::Follow).size;
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

std::int64_t FileSize(const std::string& path, Unsized* why, const FileSystem& files)
{
    if (why)
        *why = Unsized::None;
    const Admission admission = AdmitFile(path, files);
    switch (admission.refusal) {
    case Admission::Refusal::None: return admission.size;
    case Admission::Refusal::NotFound:
    case Admission::Refusal::NotRegular:
        if (why)
            *why = Unsized::NotRegular;
        return -1;
    case Admission::Refusal::LongerThanSize:
        if (why)
            *why = Unsized::MoreThanSize;
        return -1;
    case Admission::Refusal::Open:
    case Admission::Refusal::Read: break;
    }
    // A regular file that another opening holds for writing is in use.
    throw FileError(FileError::CauseOf(admission.error), path, admission.error);
}

bool NameIsFree(const std::string& path, const FileSystem& files)
{
    return NameState(path, files) == ENOENT;
}

bool SameFile(const std::string& a, const std::string& b, const FileSystem& files)
{
    return files.Status(a, Links::Follow).SameFileAs(files.Status(b, Links::Follow));
}

}  // namespace tessera
