#include "FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "OpenFile.h"
#include "Retry.h"

namespace tessera {

std::unique_ptr<NFile> FileSystem::Open(const std::string& path, NFilePSDK::Form form) const
{
    return std::make_unique<NFilePSDK>(path, form);
}

FileStatus FileSystem::Status(const std::string& path, Links links) const
{
    FileStatus status;
    struct stat st;
    if (path.empty()) {
        status.error = ENOENT;
        return status;
    }
    const int rc = links == Links::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0) {
        status.error = errno;
        return status;
    }
    status.type = st.st_mode & S_IFMT;
    status.size = st.st_size;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    return status;
}

int FileSystem::Rename(const std::string& from, const std::string& to, bool replace) const
{
    if (replace)
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // Where the file system cannot refuse a rename onto a taken name in one
    // call, a hard link (which never replaces) and an unlink do it.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

int FileSystem::Remove(const std::string& path) const
{
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int FileSystem::List(const std::string& folder, std::vector<std::string>& names) const
{
    names.clear();
    // O_NONBLOCK and O_DIRECTORY: whatever took the folder's name, opening
    // it never waits.
    const int fd = OpenFile(folder.empty() ? "." : folder, {O_RDONLY | O_DIRECTORY, FileLock::None, false});
    if (fd < 0)
        return errno;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    if (error != 0)
        names.clear();
    return error;
}

const FileSystem& RealFiles()
{
    static const FileSystem real;
    return real;
}

}  // namespace tessera
