#include "ReadOnlyFile.h"

#include <cerrno>

namespace tessera {

ReadOnlyFile::ReadOnlyFile(const std::string& path, const FileSystem& files)
    : file_(files.Open(path, NFilePSDK::Form::Reading))
{
    if (!file_->IsOpen())
        error_ = file_->LastError();
}

ReadOnlyFile::ReadOnlyFile(const Folder& folder, const std::string& name, const FileSystem& files)
    : file_(files.OpenBeneath(folder, name, NFilePSDK::Form::Reading))
{
    if (!file_->IsOpen())
        error_ = file_->LastError();
}

bool ReadOnlyFile::Stat(std::uint32_t& type, std::uint64_t& size)
{
    if (!IsOpen()) {
        error_ = EBADF;
        return false;
    }
    const FileStatus status = file_->Status();
    if (!status.Found()) {
        error_ = status.error;
        return false;
    }
    type = status.type;
    size = static_cast<std::uint64_t>(status.size);
    return true;
}

ssize_t ReadOnlyFile::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const
{
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    return static_cast<ssize_t>(file_->ReadAt(buffer, size, offset));
}

}  // namespace tessera
