#include "FileOpener.h"

namespace tessera {

std::unique_ptr<NFile> FileOpener::Open(const std::string& path, NFilePSDK::Form form) const
{
    return std::make_unique<NFilePSDK>(path, form);
}

const FileOpener& RealFiles()
{
    static const FileOpener real;
    return real;
}

}  // namespace tessera
