#pragma once

#include <memory>
#include <string>

#include "NFilePSDK.h"

namespace tessera {

// Opens the files a job reads and writes. The real one opens NFilePSDK
// files; a test hands a job another, whose files fail where it chooses.
class FileOpener {
public:
    virtual ~FileOpener() = default;
    // Never nullptr: a failed open gives a closed file with the cause in
    // LastError().
    [[nodiscard]] virtual std::unique_ptr<NFile> Open(const std::string& path, NFilePSDK::Form form) const;
};

// The opener of the real files.
[[nodiscard]] const FileOpener& RealFiles();

}  // namespace tessera
