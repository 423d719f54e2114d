#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fileio/FileSystem.h"

namespace tessera {

// A split writes its parts at stem + ".000" to stem + ".999", where stem is
// the source's path (or the source's name inside another folder).
inline constexpr int kPartNumbers = 1000;

// The stem of a split's part names: the source's path, or its name inside
// the folder the parts go to (partFolder, when not empty).
[[nodiscard]] std::string PartStem(const std::string& source, const std::string& partFolder);

// stem + "." + number in three digits.
[[nodiscard]] std::string PartName(const std::string& stem, int number);

// The lowest part name under which nothing exists. A name the file system
// cannot look up (too long, a folder that cannot be searched) stops the probe
// and is returned, so that creating it fails and names it. Empty when every
// name is taken. Names are looked up through files.
[[nodiscard]] std::string ProbeOutputName(const std::string& stem, const FileSystem& files = RealFiles());

struct FreeParts {
    // Names under which nothing exists, counted up to the number asked for.
    std::size_t count = 0;
    // The name the first part would get, as ProbeOutputName gives it.
    std::string first;
    // errno of a name the file system could not look up (ENAMETOOLONG, a
    // folder that cannot be searched); 0 when every name was looked up.
    int error = 0;
    // Those names, lowest first: the ones the parts will take, unless
    // another program takes one meanwhile.
    std::vector<std::string> names;
};

// How many of the part names are free, counted until `wanted` are found.
[[nodiscard]] FreeParts CountFreeParts(const std::string& stem, std::size_t wanted,
                                       const FileSystem& files = RealFiles());

// The highest number from 000 to 999 under which something exists, -1 when
// none does. A name that cannot be looked up stops the search: its errno in
// *error, when given (0 otherwise).
[[nodiscard]] int HighestTakenPart(const std::string& stem, const FileSystem& files = RealFiles(),
                                   int* error = nullptr);

}  // namespace tessera
