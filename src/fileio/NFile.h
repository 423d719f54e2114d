#pragma once

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FileStatus.h"

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

    // errno of the failed open, or of the last failed call; 0 when none is
    // known.
    virtual int LastError() const { return 0; }
    // The kind of the open file, as the S_IFMT bits of its mode; 0 when
    // unknown.
    virtual std::uint32_t FileType() { return 0; }
    // What the file system says of the open file (never of its name); error
    // ENOSYS when this kind of file cannot tell.
    virtual tessera::FileStatus Status() const
    {
        tessera::FileStatus status;
        status.error = ENOSYS;
        return status;
    }
    // Reads up to size bytes at offset without moving the position, fewer
    // only where the file ends; several threads may read one file at once.
    // The count, or -1 with errno set (ENOSYS when this kind of file cannot
    // read at an offset).
    virtual std::int64_t ReadAt(void* /*buffer*/, std::size_t /*size*/, std::uint64_t /*offset*/) const
    {
        errno = ENOSYS;
        return -1;
    }
    // Copies up to count bytes from this file's position to to's position
    // without passing them through the caller, both positions advancing. The
    // bytes copied: fewer at the end of this file, or when an error stopped
    // the copy (LastError()). -1 when the files cannot be copied between this
    // way at all; nothing was copied then, and the caller reads and writes.
    virtual std::int64_t CopyTo(NFile& /*to*/, std::uint32_t /*count*/) { return -1; }
    // The file whose descriptor this one reads and writes through: itself,
    // or, for a file that lends another, that one. A copy inside the kernel
    // goes to it.
    virtual NFile& Backing() { return *this; }

    // How the file uses the page cache. Streaming: a reader lets go of the
    // pages it has read and asks for the next block ahead; a writer starts
    // writing each piece back at once and lets go of what Flush has put on
    // disk. Cached: the kernel's own caching.
    enum class CacheUse { Streaming, Cached };
    virtual void SetCacheUse(CacheUse /*use*/) {}
    // The flag that ends a Read or Write waiting on a pipe or device (with
    // LastError() ECANCELED); nullptr for none. It must outlive the file's use
    // of it.
    virtual void WatchAbort(const std::atomic<bool>* /*abort*/) {}

protected:
    NFile() = default;
    NFile(NFile&&) = default;
    NFile& operator=(NFile&&) = default;
};
