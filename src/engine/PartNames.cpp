#include "PartNames.h"

#include <cerrno>
#include <cstdio>
#include <utility>

namespace tessera {

namespace {

enum class NameState { Free, Taken, Unusable };

// Free only when the file system says no entry of that name exists: a
// dangling symlink or a folder is taken, and a name it cannot look up (too
// long, a folder that cannot be searched) can be neither taken nor created.
NameState StateOf(const std::string& name, const FileSystem& files, int* error = nullptr)
{
    const int state = files.Status(name, Links::NoFollow).error;
    if (state == 0)
        return NameState::Taken;
    if (error)
        *error = state;
    return state == ENOENT ? NameState::Free : NameState::Unusable;
}

}  // namespace

std::string PartStem(const std::string& source, const std::string& partFolder)
{
    if (partFolder.empty())
        return source;
    const auto slash = source.rfind('/');
    const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    return partFolder.back() == '/' ? partFolder + name : partFolder + "/" + name;
}

std::string PartName(const std::string& stem, int number)
{
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%03d", number);
    return stem + suffix;
}

std::string ProbeOutputName(const std::string& stem, const FileSystem& files)
{
    for (int n = 0; n < kPartNumbers; ++n) {
        std::string candidate = PartName(stem, n);
        if (StateOf(candidate, files) != NameState::Taken)
            return candidate;
    }
    return {};
}

FreeParts CountFreeParts(const std::string& stem, std::size_t wanted, const FileSystem& files)
{
    FreeParts free;
    for (int n = 0; n < kPartNumbers && free.count < wanted; ++n) {
        std::string candidate = PartName(stem, n);
        int error = 0;
        const NameState state = StateOf(candidate, files, &error);
        if (state != NameState::Taken && free.first.empty())
            free.first = candidate;
        if (state == NameState::Unusable) {
            free.error = error;
            break;
        }
        if (state == NameState::Free) {
            ++free.count;
            free.names.push_back(std::move(candidate));
        }
    }
    return free;
}

int HighestTakenPart(const std::string& stem, const FileSystem& files, int* error)
{
    if (error)
        *error = 0;
    int highest = -1;
    for (int n = 0; n < kPartNumbers; ++n) {
        int why = 0;
        const NameState state = StateOf(PartName(stem, n), files, &why);
        if (state == NameState::Unusable) {
            if (error)
                *error = why;
            break;
        }
        if (state == NameState::Taken)
            highest = n;
    }
    return highest;
}

}  // namespace tessera
