#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FileStatus.h"
#include "Folder.h"
#include "NFilePSDK.h"

namespace tessera {

// Whether a look-up of a name follows a symlink at its end.
enum class Links { Follow, NoFollow };

// Every access of the program's layers to the file system: opening, looking
// a name up, renaming, removing, listing a folder. The real one does these
// on the disk; a test hands a job, a check or a repair another, which fails
// where it chooses (tests/engine/FaultyFiles.h). Nothing above the file layer
// reaches the disk but through one of these.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Opens path in one of NFilePSDK's forms (reading, peeking, writing,
    // creating exclusively). Never nullptr: a failed open gives a closed file
    // with the cause in LastError().
    [[nodiscard]] virtual std::unique_ptr<NFile> Open(const std::string& path, NFilePSDK::Form form) const;

    // What the file system says of the name (stat, or lstat with NoFollow).
    [[nodiscard]] virtual FileStatus Status(const std::string& path, Links links) const;

    // Renames from to to. With replace, a plain rename: the directory entry
    // at to is replaced, never the file it named. Without, an entry at to is
    // never replaced (EEXIST), even one that appears meanwhile. 0 or the
    // errno.
    [[nodiscard]] virtual int Rename(const std::string& from, const std::string& to, bool replace) const;

    // Removes the name (not a folder). 0 or the errno.
    virtual int Remove(const std::string& path) const;

    // The names in folder, "." and ".." left out, in no particular order.
    // 0 or the errno (names is then empty).
    [[nodiscard]] virtual int List(const std::string& folder, std::vector<std::string>& names) const;

    // The same beneath a folder held open: name is relative to it, and every
    // step of it is resolved inside it, none through a symbolic link (ELOOP
    // for a link on the way or at the end, EXDEV for a name that would leave
    // the folder). What a set of files names, for reading and for writing.
    [[nodiscard]] virtual std::unique_ptr<NFile> OpenBeneath(const Folder& folder, const std::string& name,
                                                             NFilePSDK::Form form) const;
    // The name itself, a link at its end not followed.
    [[nodiscard]] virtual FileStatus StatusBeneath(const Folder& folder, const std::string& name) const;
    [[nodiscard]] virtual int RenameBeneath(const Folder& folder, const std::string& from, const std::string& to,
                                            bool replace) const;
    virtual int RemoveBeneath(const Folder& folder, const std::string& name) const;
};

// The real files.
[[nodiscard]] const FileSystem& RealFiles();

}  // namespace tessera
