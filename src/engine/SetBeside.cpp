#include "SetBeside.h"

#include "Manifest.h"
#include "engine/recovery/Par2Check.h"
#include "fileio/FileQuery.h"

namespace tessera {

std::string RecoverySetBesideInputs(const std::vector<std::string>& inputs, const FileSystem& files)
{
    if (inputs.empty())
        return {};
    const std::string manifest = ManifestBesidePart(inputs.front());
    if (manifest.empty())
        return {};
    std::string set = RecoverySetBeside(manifest);
    if (set.empty() || !IsRegularFile(set, files))
        return {};
    return set;
}

}  // namespace tessera
