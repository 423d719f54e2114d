#include "JoinedParts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace tessera {

JoinedPartsFile::JoinedPartsFile(std::vector<JoinedPart> parts, const FileSystem& files)
    : parts_(std::move(parts)), files_(files), opened_(parts_.size())
{
    for (const JoinedPart& part : parts_) {
        starts_.push_back(total_);
        total_ += part.length;
    }
}

void JoinedPartsFile::Close()
{
    opened_.clear();
    open_ = false;
}

std::size_t JoinedPartsFile::PartAt(std::uint64_t offset) const
{
    // The last part that starts at or before offset and holds bytes there.
    const auto after = std::upper_bound(starts_.begin(), starts_.end(), static_cast<std::int64_t>(offset));
    std::size_t index = static_cast<std::size_t>(after - starts_.begin());
    if (index == 0)
        return parts_.size();
    --index;
    while (index < parts_.size() && static_cast<std::int64_t>(offset) >= starts_[index] + parts_[index].length)
        ++index;
    return index;
}

NFile* JoinedPartsFile::Opened(std::size_t index) const
{
    if (!opened_[index]) {
        opened_[index] = files_.Open(parts_[index].path, NFilePSDK::Form::Reading);
        if (!opened_[index]->IsOpen()) {
            error_ = opened_[index]->LastError();
            opened_[index].reset();
            return nullptr;
        }
    }
    return opened_[index].get();
}

std::int64_t JoinedPartsFile::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const
{
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size && offset + done < static_cast<std::uint64_t>(total_)) {
        const std::uint64_t at = offset + done;
        const std::size_t index = PartAt(at);
        if (index >= parts_.size())
            break;
        NFile* part = Opened(index);
        if (!part) {
            errno = error_;
            return -1;
        }
        const auto within = static_cast<std::uint64_t>(static_cast<std::int64_t>(at) - starts_[index]);
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(size - done, static_cast<std::uint64_t>(parts_[index].length) - within));
        const std::int64_t got = part->ReadAt(bytes + done, want, within);
        if (got < 0) {
            error_ = errno;
            return -1;
        }
        if (static_cast<std::size_t>(got) < want) {
            // A part shorter than it was written: what a reader of the whole
            // would take for an early end.
            error_ = 0;
            return static_cast<std::int64_t>(done) + got;
        }
        done += want;
    }
    return static_cast<std::int64_t>(done);
}

std::uint32_t JoinedPartsFile::Read(void* buffer, std::uint32_t count)
{
    const std::int64_t got = ReadAt(buffer, count, static_cast<std::uint64_t>(position_));
    if (got < 0)
        return 0;
    position_ += got;
    return static_cast<std::uint32_t>(got);
}

std::uint32_t JoinedPartsFile::Write(const void*, std::uint32_t)
{
    error_ = EBADF;
    return 0;
}

bool JoinedPartsFile::Seek(std::int64_t offset, int origin)
{
    const std::int64_t base = origin == 0 ? 0 : origin == 1 ? position_ : total_;
    if (base + offset < 0) {
        error_ = EINVAL;
        return false;
    }
    position_ = base + offset;
    return true;
}

std::uint32_t JoinedPartsFile::FileType()
{
    return S_IFREG;
}

FileStatus JoinedPartsFile::Status() const
{
    FileStatus status;
    status.type = S_IFREG;
    status.size = total_;
    return status;
}

std::unique_ptr<NFile> JoinedPartsFiles::Open(const std::string& path, NFilePSDK::Form form) const
{
    if (path == joined_ && (form == NFilePSDK::Form::Reading || form == NFilePSDK::Form::Peeking))
        return std::make_unique<JoinedPartsFile>(parts_, beneath_);
    return beneath_.Open(path, form);
}

FileStatus JoinedPartsFiles::Status(const std::string& path, Links links) const
{
    if (path != joined_)
        return beneath_.Status(path, links);
    FileStatus status;
    status.type = S_IFREG;
    status.size = 0;
    for (const JoinedPart& part : parts_)
        status.size += part.length;
    return status;
}

}  // namespace tessera
