#include "NFileStdio.h"

#include "OpenFile.h"
#include "Sigpipe.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace {

constexpr std::uint32_t kFallbackBufferSize = 4096;
constexpr std::int64_t kMaxStride = 2147483647;  // 2^31 - 1

struct ParsedMode {
    int flags = 0;
    bool truncate = false;
    bool readOnly = false;
    bool sequential = false;
    std::string stdioMode;  // what fdopen is given
};

bool ParseMode(const std::string& mode, ParsedMode& out)
{
    if (mode.empty())
        return false;
    bool plus = mode.find('+') != std::string::npos;
    out.sequential = mode.find('S') != std::string::npos;
    switch (mode[0]) {
    case 'r':
        out.flags |= plus ? O_RDWR : O_RDONLY;
        out.readOnly = !plus;
        break;
    case 'w':
        out.flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT;
        out.truncate = true;
        break;
    case 'a':
        out.flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        break;
    default:
        return false;
    }
    if (mode.find('x') != std::string::npos)
        out.flags |= O_EXCL;
    out.stdioMode = std::string(1, mode[0]);
    if (plus)
        out.stdioMode += '+';
    out.stdioMode += 'b';
    return true;
}

}  // namespace

NFileStdio::NFileStdio(const std::string& path, const std::string& mode)
    : path_(path)
{
    ParsedMode m;
    if (!ParseMode(mode, m))
        return;
    // Readers share a regular file, writers hold it alone.
    std::uint32_t type = 0;
    const int fd = tessera::OpenFile(
        path, {m.flags, m.readOnly ? tessera::FileLock::Shared : tessera::FileLock::Exclusive, m.truncate}, &type);
    if (fd < 0)
        return;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        st.st_blksize = 0;
    pipeWrites_ = !m.readOnly && type != S_IFREG;
    if (m.sequential)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    bufferSize_ = kFallbackBufferSize;
    if (st.st_blksize > 0)
        bufferSize_ = static_cast<std::uint32_t>(st.st_blksize);

    stream_ = ::fdopen(fd, m.stdioMode.c_str());
    if (!stream_) {
        ::close(fd);
        return;
    }
    std::setvbuf(stream_, nullptr, _IOFBF, bufferSize_);
}

NFileStdio::NFileStdio(NFileStdio&& other) noexcept
    : NFile(std::move(other)),
      stream_(std::exchange(other.stream_, nullptr)),
      path_(std::move(other.path_)),
      bufferSize_(other.bufferSize_),
      pipeWrites_(other.pipeWrites_)
{
}

NFileStdio& NFileStdio::operator=(NFileStdio&& other) noexcept
{
    if (this != &other) {
        Close();
        stream_ = std::exchange(other.stream_, nullptr);
        path_ = std::move(other.path_);
        bufferSize_ = other.bufferSize_;
        pipeWrites_ = other.pipeWrites_;
    }
    return *this;
}

NFileStdio::~NFileStdio()
{
    Close();
}

void NFileStdio::Close()
{
    if (!stream_)
        return;
    const tessera::detail::SigpipeBlock quiet(pipeWrites_);
    std::fclose(stream_);
    stream_ = nullptr;
}

std::uint32_t NFileStdio::Read(void* buffer, std::uint32_t count)
{
    if (!stream_)
        return 0;
    return static_cast<std::uint32_t>(std::fread(buffer, 1, count, stream_));
}

std::uint32_t NFileStdio::Write(const void* buffer, std::uint32_t count)
{
    if (!stream_)
        return 0;
    const tessera::detail::SigpipeBlock quiet(pipeWrites_);
    return static_cast<std::uint32_t>(std::fwrite(buffer, 1, count, stream_));
}

bool NFileStdio::Seek(std::int64_t offset, int origin)
{
    if (!stream_)
        return false;
    const tessera::detail::SigpipeBlock quiet(pipeWrites_);
    const off_t start = ::ftello(stream_);
    if (start < 0)
        return false;
    std::int64_t base = 0;
    switch (origin) {
    case 0: break;
    case 1: base = start; break;
    case 2: {
        struct stat st;
        if (std::fflush(stream_) != 0 || ::fstat(::fileno(stream_), &st) != 0)
            return false;
        base = st.st_size;
        break;
    }
    default: return false;
    }
    std::int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) {
        errno = EINVAL;
        return false;
    }

    // From the origin towards the target in strides: every position passed
    // lies between the two, so none of them is negative.
    std::uint64_t distance = offset < 0 ? 0 - static_cast<std::uint64_t>(offset) : static_cast<std::uint64_t>(offset);
    const int direction = offset < 0 ? -1 : 1;
    bool ok = true;
    switch (origin) {
    case 0: ok = ::fseeko(stream_, 0, SEEK_SET) == 0; break;
    case 2: ok = ::fseeko(stream_, 0, SEEK_END) == 0; break;
    default: break;
    }
    while (ok && distance > 0) {
        const std::int64_t step = distance < static_cast<std::uint64_t>(kMaxStride)
                                      ? static_cast<std::int64_t>(distance)
                                      : kMaxStride;
        ok = ::fseeko(stream_, static_cast<off_t>(direction * step), SEEK_CUR) == 0;
        distance -= static_cast<std::uint64_t>(step);
    }
    if (!ok) {
        const int saved = errno;
        ::fseeko(stream_, start, SEEK_SET);
        errno = saved;
    }
    return ok;
}

void NFileStdio::SetBufferSize(std::uint32_t size)
{
    if (!stream_)
        return;
    if (std::setvbuf(stream_, nullptr, _IOFBF, size) == 0)
        bufferSize_ = size;
}

std::int64_t NFileStdio::GetSize()
{
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0)
        return -1;
    return st.st_size;
}

bool NFileStdio::Flush()
{
    if (!stream_)
        return false;
    const tessera::detail::SigpipeBlock quiet(pipeWrites_);
    return std::fflush(stream_) == 0;
}
