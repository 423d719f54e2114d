#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessera {

// A file opened only to be read at given offsets (pread), by several threads
// at once if need be: the recovery sets' files and the files they describe.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    // Opens path for reading; when that fails, the file is closed and Error()
    // says why.
    explicit ReadOnlyFile(const std::string& path);
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
    // errno of the failed open, or of a failed Stat.
    [[nodiscard]] int Error() const { return error_; }
    // The file's type (the S_IFMT bits) and size; false when it cannot be
    // looked at.
    [[nodiscard]] bool Stat(std::uint32_t& type, std::uint64_t& size);
    // Reads up to size bytes at offset, fewer only where the file ends: the
    // count, or -1 with errno set.
    [[nodiscard]] ssize_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const;

private:
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace tessera
