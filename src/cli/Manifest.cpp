#include "Manifest.h"

#include "Messages.h"

namespace tessera::cli {

std::string ManifestReadMessage(const std::string& path, const ManifestRead& read)
{
    const std::string where = path + ":" + std::to_string(read.line) + ": ";
    switch (read.fault) {
    case ManifestFault::None:
        return {};
    case ManifestFault::Open:
    case ManifestFault::NotRegular:
    case ManifestFault::LongerThanSize:
        return RefusalText(path, read.admission);
    case ManifestFault::Read:
        return WithError("cannot read " + Quoted(path), read.error);
    case ManifestFault::NotAChecksumLine:
        return where + "no SHA-256 checksum line";
    case ManifestFault::NameTooLong:
        return where + "a name of " + std::to_string(PATH_MAX) + " bytes or more, which no file has";
    case ManifestFault::LineTooLong:
        return where + "no SHA-256 checksum line: longer than " + std::to_string(kMaxManifestLine) + " bytes";
    }
    return "cannot read " + Quoted(path);
}

std::string JoinMatchMessage(const std::string& path, const std::vector<std::string>& inputs, const JoinMatch& match)
{
    switch (match.fault) {
    case JoinMatchFault::None:
        return {};
    case JoinMatchFault::NotListed:
        return Quoted(inputs.at(match.input)) + " is not listed in " + Quoted(path);
    case JoinMatchFault::NotInOrder:
        break;
    }
    return "the inputs are not the parts listed in " + Quoted(path) + ", in order";
}

}  // namespace tessera::cli
