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

namespace {

// The folder that holds name's last step, beneath folder, closed when it
// goes.
class Parent {
public:
    Parent(const Folder& folder, const std::string& name) : fd_(OpenParentBeneath(folder.Descriptor(), name, leaf_))
    {
        error_ = fd_ < 0 ? errno : 0;
    }
    ~Parent()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Parent(const Parent&) = delete;
    Parent& operator=(const Parent&) = delete;
    [[nodiscard]] int Fd() const { return fd_; }
    [[nodiscard]] int Error() const { return error_; }
    [[nodiscard]] const char* Leaf() const { return leaf_.c_str(); }

private:
    std::string leaf_;
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace

std::unique_ptr<NFile> FileSystem::OpenBeneath(const Folder& folder, const std::string& name,
                                               NFilePSDK::Form form) const
{
    return std::make_unique<NFilePSDK>(folder, name, form);
}

FileStatus FileSystem::StatusBeneath(const Folder& folder, const std::string& name) const
{
    FileStatus status;
    const Parent parent(folder, name);
    struct stat st;
    if (parent.Fd() < 0 || ::fstatat(parent.Fd(), parent.Leaf(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        status.error = parent.Fd() < 0 ? parent.Error() : errno;
        return status;
    }
    status.type = st.st_mode & S_IFMT;
    status.size = st.st_size;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    return status;
}

int FileSystem::RenameBeneath(const Folder& folder, const std::string& from, const std::string& to,
                              bool replace) const
{
    const Parent source(folder, from);
    const Parent target(folder, to);
    if (source.Fd() < 0 || target.Fd() < 0)
        return source.Fd() < 0 ? source.Error() : target.Error();
    if (replace)
        return ::renameat(source.Fd(), source.Leaf(), target.Fd(), target.Leaf()) == 0 ? 0 : errno;
    if (::renameat2(source.Fd(), source.Leaf(), target.Fd(), target.Leaf(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::linkat(source.Fd(), source.Leaf(), target.Fd(), target.Leaf(), 0) != 0)
        return errno;
    ::unlinkat(source.Fd(), source.Leaf(), 0);
    return 0;
}

int FileSystem::RemoveBeneath(const Folder& folder, const std::string& name) const
{
    const Parent parent(folder, name);
    if (parent.Fd() < 0)
        return parent.Error();
    return ::unlinkat(parent.Fd(), parent.Leaf(), 0) == 0 ? 0 : errno;
}

const FileSystem& RealFiles()
{
    static const FileSystem real;
    return real;
}

}  // namespace tessera
