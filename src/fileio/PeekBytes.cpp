#include "PeekBytes.h"

#include <sys/stat.h>

#include <algorithm>

namespace tessera {

std::optional<std::string> PeekBytes(const std::string& path, std::int64_t offset, std::size_t count,
                                     const FileSystem& files)
{
    if (offset < 0)
        return std::nullopt;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, static_cast<std::uint64_t>(INT64_MAX - offset)));
    const std::unique_ptr<NFile> file = files.Open(path, NFilePSDK::Form::Peeking);
    if (!file->IsOpen() || file->Status().type != S_IFREG)
        return std::nullopt;
    std::string bytes(count, '\0');
    const std::int64_t got = file->ReadAt(bytes.data(), count, static_cast<std::uint64_t>(offset));
    if (got < 0)
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

}  // namespace tessera
