#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FileSystem.h"

namespace tessera {

// A file written under a temporary name in the folder of the path it is
// meant for, and put in its place by a rename only once it is complete: a
// reader of that path sees the old file or the whole new one, never a part,
// and a failed or stopped job leaves the old file as it was. The temporary
// file is removed unless committed.
class StagedFile {
public:
    StagedFile() = default;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // Creates the temporary file ("." + the target's name + ".tessera-" and
    // six random characters, in the target's folder) exclusively, never
    // through a symlink, trying other names while they are taken. The open
    // file, or a closed one with the cause in LastError(). Commit and Discard
    // rename and remove through the same file system, which must outlive
    // this object.
    [[nodiscard]] std::unique_ptr<NFile> Create(const std::string& target, const FileSystem& files = RealFiles());

    // The same for a name beneath a folder held open: the temporary file
    // beside it, its creation, renaming and removal all resolved beneath the
    // folder and through no symbolic link (FileSystem's ...Beneath). The
    // folder must outlive this object.
    [[nodiscard]] std::unique_ptr<NFile> Create(const Folder& folder, const std::string& name,
                                                const FileSystem& files = RealFiles());

    // As paths (beneath a folder: the folder's path and the name).
    [[nodiscard]] const std::string& TemporaryPath() const { return temporary_; }
    [[nodiscard]] const std::string& Target() const { return target_; }
    // Beneath a folder: the temporary file's name relative to it.
    [[nodiscard]] const std::string& TemporaryName() const { return temporaryName_; }

    // Renames the temporary file to the target. With replace, a plain rename
    // (the directory entry is replaced, never the file it named: a hard link
    // to the old file keeps the old bytes). Without, a file that appeared at
    // the target meanwhile is never replaced: the rename fails with EEXIST.
    // 0, or the errno; a failed commit removes the temporary file.
    [[nodiscard]] int Commit(bool replace);
    // Removes the temporary file if it is still there: 0, or the errno of a
    // removal that failed (the file is then left where it was).
    int Discard();

private:
    const FileSystem* files_ = &RealFiles();
    std::string target_;
    std::string temporary_;
    // Beneath a folder: it, and both names relative to it.
    const Folder* folder_ = nullptr;
    std::string targetName_;
    std::string temporaryName_;
};

// A new file whose name is taken when it is opened and whose contents count
// only once committed: what a job writes at its end (a checksum file) holds
// its name from the start, so that a second job is refused at once, and a
// job that fails leaves nothing of it.
class ReservedFile {
public:
    ReservedFile() = default;
    ReservedFile(const ReservedFile&) = delete;
    ReservedFile& operator=(const ReservedFile&) = delete;
    ~ReservedFile();

    // Without replace, path is created exclusively, never through a symlink
    // (EEXIST when the name is taken). With replace, a temporary file beside
    // it is created, which Commit renames over path: a file that path named
    // (or that a hard link or symlink at path reaches) is never written. 0 or
    // the errno.
    // The file system must outlive this object.
    [[nodiscard]] int Open(const std::string& path, bool replace, const FileSystem& files = RealFiles());
    [[nodiscard]] NFile& File() { return *file_; }

    // Closes the file and puts it in place; 0 or the errno (the file is
    // removed then). What was written is not flushed here: the caller flushes
    // when it wants the data on the disk.
    [[nodiscard]] int Commit();
    // Closes and removes what Open created, if it is still there.
    void Discard();

private:
    const FileSystem* files_ = &RealFiles();
    std::string path_;
    std::unique_ptr<NFile> file_;
    StagedFile staged_;
    bool replace_ = false;
    bool open_ = false;
};

// Names taken for files that are written later, each under a staged file
// renamed over it (StagedFile::Commit with replace): every name is created
// empty and exclusively, never through a symlink, and closed at once (a
// split holds up to a thousand). A name not yet filled is removed by Release
// and by the destructor, only while it is still the empty file created here.
class ReservedNames {
public:
    ReservedNames() = default;
    ReservedNames(const ReservedNames&) = delete;
    ReservedNames& operator=(const ReservedNames&) = delete;
    ~ReservedNames();

    // Takes every one of names, in order. 0, or the errno of the first that
    // could not be taken (EEXIST: something is there), its index in *failed;
    // the names taken before it are given back then.
    [[nodiscard]] int Take(const std::vector<std::string>& names, const FileSystem& files = RealFiles(),
                           std::size_t* failed = nullptr);
    // Name index has been filled: it is no longer the reservation's to remove.
    void Filled(std::size_t index);
    // Removes every name not filled.
    void Release();

private:
    struct Name {
        std::string path;
        FileStatus created;
        bool filled = false;
    };
    const FileSystem* files_ = nullptr;
    std::vector<Name> names_;
};

}  // namespace tessera
