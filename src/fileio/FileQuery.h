#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessera {

// An existing file that could not be opened, with the cause as the dialog
// shows it: Message() is e.g. "Access to /x/y was denied.".
class FileError : public std::runtime_error {
public:
    enum class Cause {
        Generic,
        FileNotFound,
        BadPath,
        TooManyOpenFiles,
        AccessDenied,
        SharingViolation,
        HardIO,
        DiskFull,
    };
    FileError(Cause cause, std::string path, int osError);

    Cause cause() const { return cause_; }
    const std::string& path() const { return path_; }
    int osError() const { return osError_; }

    static Cause CauseOf(int osError);

private:
    Cause cause_;
    std::string path_;
    int osError_;
};

// True when the path names an existing entry (symlinks followed) that is not a
// directory. Empty, missing, over-long and unreadable paths give false.
bool IsRegularFile(const std::string& path);

// The size of the regular file at path, or -1 when there is none (see
// IsRegularFile). A regular file that exists but cannot be opened for reading,
// or that another opening holds for writing, throws FileError.
std::int64_t FileSize(const std::string& path);

// True only when the file system says that no entry of that name exists
// (ENOENT from lstat): a dangling symlink, a directory or a name too long to
// look up is taken.
bool NameIsFree(const std::string& path);

// True when both paths name the same file (device and inode), whatever the
// spelling. False when either cannot be looked up.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace tessera
