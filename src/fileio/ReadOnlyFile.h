#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FileSystem.h"

namespace tessera {

// A file opened only to be read at given offsets (pread), by several threads
// at once if need be: the recovery sets' files and the files they describe.
// It opens in the reading form, through the file system given: a pipe or
// device never holds the opening, and what another opening holds for
// writing is refused (EWOULDBLOCK).
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    // Opens path for reading; when that fails, the file is closed and Error()
    // says why.
    explicit ReadOnlyFile(const std::string& path, const FileSystem& files = RealFiles());
    // The name beneath the folder, resolved inside it and through no link.
    ReadOnlyFile(const Folder& folder, const std::string& name, const FileSystem& files = RealFiles());
    ReadOnlyFile(ReadOnlyFile&& other) noexcept = default;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept = default;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile() = default;

    [[nodiscard]] bool IsOpen() const { return file_ && file_->IsOpen(); }
    // errno of the failed open, or of a failed Stat.
    [[nodiscard]] int Error() const { return error_; }
    // The file's type (the S_IFMT bits) and size; false when it cannot be
    // looked at.
    [[nodiscard]] bool Stat(std::uint32_t& type, std::uint64_t& size);
    // Reads up to size bytes at offset, fewer only where the file ends: the
    // count, or -1 with errno set.
    [[nodiscard]] ssize_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const;

private:
    std::unique_ptr<NFile> file_;
    int error_ = 0;
};

}  // namespace tessera
