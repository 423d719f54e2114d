#include "StagedFile.h"

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

}  // namespace

StagedFile::~StagedFile()
{
    Discard();
}

std::unique_ptr<NFile> StagedFile::Create(const Folder& folder, const std::string& name, const FileSystem& files)
{
    Discard();
    files_ = &files;
    const auto slash = name.rfind('/');
    const std::string within = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
    std::unique_ptr<NFile> file;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string temporary = within + "." + leaf + ".tessera-" + RandomSuffix();
        file = files.OpenBeneath(folder, temporary, NFilePSDK::Form::CreateNew);
        if (file->IsOpen()) {
            folder_ = &folder;
            targetName_ = name;
            temporaryName_ = temporary;
            target_ = folder.PathOf(name);
            temporary_ = folder.PathOf(temporary);
            break;
        }
        if (file->LastError() != EEXIST)
            break;
    }
    return file;
}

std::unique_ptr<NFile> StagedFile::Create(const std::string& target, const FileSystem& files)
{
    Discard();
    files_ = &files;
    folder_ = nullptr;
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
    const int error = folder_ != nullptr ? files_->RenameBeneath(*folder_, temporaryName_, targetName_, replace)
                                         : files_->Rename(temporary_, target_, replace);
    if (error != 0) {
        Discard();
        return error;
    }
    temporary_.clear();
    return 0;
}

int StagedFile::Discard()
{
    int error = 0;
    if (!temporary_.empty())
        error = folder_ != nullptr ? files_->RemoveBeneath(*folder_, temporaryName_) : files_->Remove(temporary_);
    temporary_.clear();
    return error;
}

ReservedFile::~ReservedFile()
{
    Discard();
}

int ReservedFile::Open(const std::string& path, bool replace, const FileSystem& files)
{
    Discard();
    files_ = &files;
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
    const FileStatus mine = file_->Status();
    const bool same = mine.SameFileAs(files_->Status(path_, Links::NoFollow));
    file_->Close();
    if (same)
        (void)files_->Remove(path_);
}

ReservedNames::~ReservedNames()
{
    Release();
}

int ReservedNames::Take(const std::vector<std::string>& names, const FileSystem& files, std::size_t* failed)
{
    Release();
    files_ = &files;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::unique_ptr<NFile> file = files.Open(names[i], NFilePSDK::Form::CreateNew);
        if (!file->IsOpen()) {
            const int error = file->LastError() != 0 ? file->LastError() : EIO;
            Release();
            if (failed)
                *failed = i;
            return error;
        }
        names_.push_back({names[i], file->Status(), false});
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
        // Only the empty file created here: whatever took its place stays.
        const FileStatus now = files_->Status(name.path, Links::NoFollow);
        if (now.SameFileAs(name.created) && now.size == 0)
            (void)files_->Remove(name.path);
    }
    names_.clear();
}

}  // namespace tessera
