#pragma once

#include <cstdint>
#include <string>

// One open file, or none. Positions and sizes are 64-bit; results are counts
// and flags, never exceptions. Objects are never copied; the implementations
// can be moved, which leaves the moved-from object closed.
class NFile {
public:
    NFile(const NFile&) = delete;
    NFile& operator=(const NFile&) = delete;
    virtual ~NFile() = default;

    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
    // Bytes actually read: fewer than count only at end of file or on an error.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
    // Bytes actually written: fewer than count only on an error (disk full).
    virtual std::uint32_t Write(const void* buffer, std::uint32_t count) = 0;
    // origin: 0 from the start, 1 from the current position, 2 from the end.
    virtual bool Seek(std::int64_t offset, int origin) = 0;
    virtual void SetBufferSize(std::uint32_t size) = 0;
    // The file's length on disk, -1 when it cannot be taken.
    virtual std::int64_t GetSize() = 0;
    // True when the data written so far has reached the disk.
    virtual bool Flush() = 0;

protected:
    NFile() = default;
    NFile(NFile&&) = default;
    NFile& operator=(NFile&&) = default;
};
