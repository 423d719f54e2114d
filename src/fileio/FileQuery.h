#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "FileSystem.h"

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

// True when the path names a regular file (symlinks followed). Folders,
// pipes, sockets and devices give false, as do empty, missing, over-long and
// unreadable paths.
bool IsRegularFile(const std::string& path, const FileSystem& files = RealFiles());

// The kind of file at path (symlinks followed), as the S_IFMT bits of its
// mode; 0 when it cannot be looked up, with the errno in *error if given.
std::uint32_t FileTypeAt(const std::string& path, int* error = nullptr, const FileSystem& files = RealFiles());

// What lstat says of the name (symlinks not followed): 0 when an entry of
// that name exists, ENOENT when none does, else the error that kept it from
// being looked up (ENAMETOOLONG, EACCES, ...).
int NameState(const std::string& path, const FileSystem& files = RealFiles());

// The kind of entry at path itself (a symlink is S_IFLNK), as the S_IFMT
// bits of its mode; 0 when there is none or it cannot be looked up.
std::uint32_t EntryTypeAt(const std::string& path, const FileSystem& files = RealFiles());

// The length of the file at path as the file system gives it, -1 when it
// cannot be looked up.
std::int64_t SizeAt(const std::string& path, const FileSystem& files = RealFiles());

// "a folder", "a named pipe", "a socket", "a character device", "a block
// device", "a symbolic link", "a regular file" for S_IFMT bits; "not a
// regular file" for anything else.
const char* FileTypeName(std::uint32_t type);

// Why FileSize gave no size.
enum class Unsized {
    None,
    NotRegular,    // missing, a folder, a pipe, a device, ...: see IsRegularFile
    MoreThanSize,  // a regular file that reads past the size it reports (a
                   // /proc or /sys file reports 0, a growing file its old size)
};

// The size of the regular file at path, or -1 when there is none (see
// IsRegularFile) or when the file holds more bytes than its size says: one
// byte is read at that size, and a file that gives it cannot be planned by
// its size (AdmitFile, Admission.h). *why, when given, says which. A regular
// file that exists but cannot be opened or read, or that another opening
// holds for writing, throws FileError.
std::int64_t FileSize(const std::string& path, Unsized* why = nullptr, const FileSystem& files = RealFiles());

// True only when the file system says that no entry of that name exists
// (ENOENT from lstat): a dangling symlink, a directory or a name too long to
// look up is taken.
bool NameIsFree(const std::string& path, const FileSystem& files = RealFiles());

// True when both paths name the same file (device and inode), whatever the
// spelling. False when either cannot be looked up.
bool SameFile(const std::string& a, const std::string& b, const FileSystem& files = RealFiles());

}  // namespace tessera
