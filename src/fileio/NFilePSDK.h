#pragma once

#include <atomic>

#include "NFile.h"

namespace tessera {
class Folder;
}

// A file over a POSIX descriptor, -1 when closed. Every form opens through
// OpenFile (OpenFile.h): a FIFO or terminal never holds the opening.
//
// The opening forms:
// - Reading: read-only, a shared lock (fails while another opening holds the
//   file for writing), sequential-access advice.
// - Peeking: read-only, no lock: a look at a file that a job may hold.
// - Writing: write-only, created if missing; the exclusive lock is taken before
//   the file is truncated, so an opening that finds the file locked fails and
//   leaves it untouched. Data reaches the disk on Flush.
// - CreateNew: as Writing, but the file must not exist yet: never truncates an
//   existing file and never follows a symlink (LastError() is EEXIST then).
// - Stream: as Reading, for input that may come through a pipe: a named pipe
//   whose writer has not come yet is waited for (a Read ends only with data,
//   or once a writer has come and gone), as a blocking open would, where
//   every other form reads it as ended.
// A failed open leaves the object closed, with the cause in LastError().
//
// A pipe or device is used without blocking: a Read or Write that cannot
// proceed waits for it in short slices, and gives up with what was done so
// far (LastError() == ECANCELED) once the watched abort flag is set. A Write
// to a pipe whose reader has gone fails with EPIPE; it never raises SIGPIPE.
class NFilePSDK final : public NFile {
public:
    enum class Form { Reading, Writing, CreateNew, Peeking, Stream };

    // Closed.
    NFilePSDK() = default;
    NFilePSDK(const std::string& path, Form form);
    // The name beneath the folder, every step resolved inside it and none
    // through a symbolic link (OpenFileBeneath).
    NFilePSDK(const tessera::Folder& folder, const std::string& name, Form form);
    // The process's standard input in the Stream form, and its standard
    // output for writing, each over a descriptor of its own (closing it
    // leaves the standard one open). Closed, with the cause in LastError(),
    // when there is none. A pipe on standard input is widened to
    // kStandardPipeSize where the system allows it, so that each wakeup of
    // its writer and of this reader moves more bytes. (Standard output's is
    // left as it is: its reader decides how much it holds back.)
    [[nodiscard]] static NFilePSDK StandardInput();
    [[nodiscard]] static NFilePSDK StandardOutput();
    // A file over a descriptor the caller opened (a pipe's end), which it
    // now owns: for writing, or for reading in the Stream form.
    [[nodiscard]] static NFilePSDK Adopt(int fd, bool writing);
    // A file without a name in folder, for reading and writing, gone when
    // closed (O_TMPFILE): room for bytes a job must set aside for a while.
    [[nodiscard]] static NFilePSDK Scratch(const std::string& folder);
    NFilePSDK(NFilePSDK&& other) noexcept;
    NFilePSDK& operator=(NFilePSDK&& other) noexcept;
    ~NFilePSDK() override;

    bool IsOpen() const override { return fd_ >= 0; }
    void Close() override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::uint32_t Write(const void* buffer, std::uint32_t count) override;
    bool Seek(std::int64_t offset, int origin) override;
    void SetBufferSize(std::uint32_t) override {}
    std::int64_t GetSize() override;
    bool Flush() override;

    // Copies inside the kernel to another NFilePSDK (or the file it lends):
    // between files with copy_file_range, out of a pipe with splice, from a
    // file into a pipe or device with splice or sendfile. -1 for any other
    // kind of file, or when the kernel cannot copy between the two. Out of a
    // pipe, a copy waits for the writer as Read does, and ends short at the
    // pipe's end; LastError() is ECANCELED when the watched flag stopped the
    // wait, and a failure to write is the target's LastError().
    std::int64_t CopyTo(NFile& to, std::uint32_t count) override;

    // Streaming use (see NFile::CacheUse) lets a long job at a slow pace
    // neither crowd the cache nor leave Flush much to wait for; Cached suits a
    // copy at full speed, whose source stays cached for the next reader and
    // whose writes go back in the background.
    void SetCacheUse(CacheUse use) override { cacheUse_ = use; }

    // errno of the failed open, or of the last failed Read, Write, Seek or Flush.
    int LastError() const override { return error_; }
    std::uint32_t FileType() override;
    tessera::FileStatus Status() const override;
    // pread: never moves the position, safe from several threads at once.
    std::int64_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override;
    int Descriptor() const { return fd_; }

    void WatchAbort(const std::atomic<bool>* abort) override { abort_ = abort; }

    // What a pipe on standard input is widened to.
    static constexpr int kStandardPipeSize = 1024 * 1024;

private:
    // CopyTo out of a pipe, and from a file into a pipe or device.
    std::int64_t SpliceTo(NFilePSDK& to, std::uint32_t count);
    std::int64_t SendTo(NFilePSDK& to, std::uint32_t count, bool toPipe);
    // Waits until the descriptor is ready for events, in slices that let the
    // abort flag be seen. False, with the cause in error_, when it gave up.
    bool WaitReady(short events);

    int fd_ = -1;
    int error_ = 0;
    bool writing_ = false;
    bool regular_ = false;
    // Stream: a Read of a pipe or device waits until it is readable first.
    bool waitForData_ = false;
    const std::atomic<bool>* abort_ = nullptr;
    CacheUse cacheUse_ = CacheUse::Streaming;
    std::int64_t flushedUpTo_ = 0;
    // Lowest offset written since the last Flush.
    std::int64_t dirtyFrom_ = INT64_MAX;
};
