#include "SetBeside.h"

#include "Manifest.h"
#include "ManifestFiles.h"
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

InputsCheck CheckBesideInputs(const std::vector<std::string>& inputs)
{
    InputsCheck check;
    const JoinManifest manifest = ManifestBesideInputs(inputs, true);
    if (!manifest.path.empty()) {
        check.request.manifest = manifest.path;
        check.listDiffers =
            manifest.read.fault == ManifestFault::None && manifest.match.fault != JoinMatchFault::None;
        return check;
    }
    check.request.set = RecoverySetBesideInputs(inputs);
    return check;
}

bool CheckableBesideInputs(const std::vector<std::string>& inputs)
{
    if (inputs.empty())
        return false;
    const std::string manifest = ManifestBesidePart(inputs.front());
    return (!manifest.empty() && NameState(manifest) == 0) || !RecoverySetBesideInputs(inputs).empty();
}

}  // namespace tessera
