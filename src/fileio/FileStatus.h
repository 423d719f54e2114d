#pragma once

#include <cstdint>

namespace tessera {

// What the file system says of a name or of an open file.
struct FileStatus {
    // 0, or the errno of the look-up that failed (ENOENT: no entry of that
    // name; ENAMETOOLONG, EACCES, ...: the name cannot be looked up).
    int error = 0;
    // The S_IFMT bits of the mode; 0 when the look-up failed.
    std::uint32_t type = 0;
    // The length the file system gives; -1 when the look-up failed.
    std::int64_t size = -1;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    [[nodiscard]] bool Found() const { return error == 0; }
    // The same file (device and inode), both found.
    [[nodiscard]] bool SameFileAs(const FileStatus& other) const
    {
        return error == 0 && other.error == 0 && device == other.device && inode == other.inode;
    }
};

}  // namespace tessera
