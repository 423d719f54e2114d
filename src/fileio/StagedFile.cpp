#include "StagedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace tessera {

namespace {

// Names taken by other files are skipped this many times before giving up.
constexpr int kNameAttempts = 100;

std::string RandomSuffix()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string suffix(6, 'x');
    for (char& c : suffix)
        c = kLetters[pick(generator)];
    return suffix;
}

// Renames from to to unless to exists. Where the file system cannot do that
// in one call, a hard link (which never replaces) and an unlink do it.
int RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

StagedFile::~StagedFile()
{
    Discard();
}

std::unique_ptr<NFile> StagedFile::Create(const std::string& target, const FileOpener& files)
{
    Discard();
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::unique_ptr<NFile> file;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string path = folder + "." + name + ".tessera-" + RandomSuffix();
        file = files.Open(path, NFilePSDK::Form::CreateNew);
        if (file->IsOpen()) {
            target_ = target;
            temporary_ = path;
            break;
        }
        if (file->LastError() != EEXIST)
            break;
    }
    return file;
}

int StagedFile::Commit(bool replace)
{
    if (temporary_.empty())
        return ENOENT;
    const int error = replace ? (::rename(temporary_.c_str(), target_.c_str()) == 0 ? 0 : errno)
                              : RenameNoReplace(temporary_, target_);
    if (error != 0) {
        Discard();
        return error;
    }
    temporary_.clear();
    return 0;
}

void StagedFile::Discard()
{
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

ReservedFile::~ReservedFile()
{
    Discard();
}

int ReservedFile::Open(const std::string& path, bool replace, const FileOpener& files)
{
    Discard();
    path_ = path;
    replace_ = replace;
    file_ = replace ? staged_.Create(path, files) : files.Open(path, NFilePSDK::Form::CreateNew);
    open_ = file_->IsOpen();
    return open_ ? 0 : file_->LastError();
}

int ReservedFile::Commit()
{
    if (!open_)
        return EBADF;
    file_->Close();
    const int error = replace_ ? staged_.Commit(true) : 0;
    if (error != 0) {
        Discard();
        return error;
    }
    open_ = false;
    return 0;
}

void ReservedFile::Discard()
{
    if (!open_)
        return;
    open_ = false;
    if (replace_) {
        file_->Close();
        staged_.Discard();
        return;
    }
    // Removed only while the name is still the file this object created.
    const auto* real = dynamic_cast<NFilePSDK*>(file_.get());
    struct stat mine;
    struct stat named;
    const bool same = real && real->IsOpen() && ::fstat(real->Descriptor(), &mine) == 0 &&
                      ::lstat(path_.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
                      mine.st_ino == named.st_ino;
    file_->Close();
    if (same || !real)
        ::unlink(path_.c_str());
}

ReservedNames::~ReservedNames()
{
    Release();
}

int ReservedNames::Take(const std::vector<std::string>& names, const FileOpener& files, std::size_t* failed)
{
    Release();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::unique_ptr<NFile> file = files.Open(names[i], NFilePSDK::Form::CreateNew);
        if (!file->IsOpen()) {
            const int error = file->LastError() != 0 ? file->LastError() : EIO;
            Release();
            if (failed)
                *failed = i;
            return error;
        }
        Name name;
        name.path = names[i];
        const auto* real = dynamic_cast<const NFilePSDK*>(file.get());
        struct stat st;
        if (real && ::fstat(real->Descriptor(), &st) == 0) {
            name.device = st.st_dev;
            name.inode = st.st_ino;
            name.known = true;
        }
        names_.push_back(std::move(name));
    }
    return 0;
}

void ReservedNames::Filled(std::size_t index)
{
    if (index < names_.size())
        names_[index].filled = true;
}

void ReservedNames::Release()
{
    for (const Name& name : names_) {
        if (name.filled)
            continue;
        struct stat st;
        if (::lstat(name.path.c_str(), &st) != 0)
            continue;
        // Only the empty file created here: whatever took its place stays.
        const bool mine = name.known ? st.st_dev == name.device && st.st_ino == name.inode && st.st_size == 0
                                     : S_ISREG(st.st_mode) && st.st_size == 0;
        if (mine)
            ::unlink(name.path.c_str());
    }
    names_.clear();
}

}  // namespace tessera
