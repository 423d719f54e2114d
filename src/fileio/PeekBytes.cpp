#include "PeekBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tessera {

std::optional<std::string> PeekBytes(const std::string& path, std::int64_t offset, std::size_t count)
{
    if (offset < 0)
        return std::nullopt;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, static_cast<std::uint64_t>(INT64_MAX - offset)));
    // O_NONBLOCK: opening a FIFO without a writer would wait otherwise.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return std::nullopt;
    struct stat status {};
    std::optional<std::string> bytes;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        std::string read(count, '\0');
        std::size_t got = 0;
        bool failed = false;
        while (got < count) {
            const ssize_t n = ::pread(fd, read.data() + got, count - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            failed = n < 0;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        // A read error before the first byte leaves nothing to show.
        if (!failed || got > 0) {
            read.resize(got);
            bytes = std::move(read);
        }
    }
    ::close(fd);
    return bytes;
}

}  // namespace tessera
