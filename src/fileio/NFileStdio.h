#pragma once

#include <cstdio>

#include "NFile.h"

// A file over a buffered stdio stream, fully buffered with one block of the
// file system that holds it (4,096 bytes where that cannot be found).
// Mode strings are those of fopen; a trailing 'S' (sequential access) is
// accepted and becomes sequential-access advice. Reading opens take a shared
// lock, writing opens an exclusive one, as NFilePSDK does. A pipe or device
// is used without blocking: a read or write that cannot proceed ends short at
// once, and a write to a pipe whose reader has gone fails (EPIPE) without
// raising SIGPIPE.
class NFileStdio final : public NFile {
public:
    NFileStdio(const std::string& path, const std::string& mode);
    NFileStdio(NFileStdio&& other) noexcept;
    NFileStdio& operator=(NFileStdio&& other) noexcept;
    ~NFileStdio() override;

    bool IsOpen() const override { return stream_ != nullptr; }
    void Close() override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::uint32_t Write(const void* buffer, std::uint32_t count) override;
    // Moves in strides of at most 2^31 - 1 bytes from the origin. A target
    // before the start of the file fails and leaves the position, as lseek
    // does; so does a stride that fails on the way.
    bool Seek(std::int64_t offset, int origin) override;
    void SetBufferSize(std::uint32_t size) override;
    // Length on disk, by a second opening of the path; bytes still in this
    // stream's buffer are not counted. -1 when that opening fails.
    std::int64_t GetSize() override;
    bool Flush() override;

    // The buffer size chosen at open time (for tests).
    std::uint32_t BufferSize() const { return bufferSize_; }

private:
    std::FILE* stream_ = nullptr;
    std::string path_;
    std::uint32_t bufferSize_ = 0;
    // Writes (which Flush, Seek and Close can make too) may raise SIGPIPE.
    bool pipeWrites_ = false;
};
