#include "Series.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tessera::cli {

namespace {

int PartNumber(const std::string& path)
{
    const std::size_t n = path.size();
    if (n < 4 || path[n - 4] != '.')
        return -1;
    int number = 0;
    for (std::size_t i = n - 3; i < n; ++i) {
        if (path[i] < '0' || path[i] > '9')
            return -1;
        number = number * 10 + (path[i] - '0');
    }
    // "a/.000" names no part of a source.
    if (n == 4 || path[n - 5] == '/')
        return -1;
    return number;
}

}  // namespace

SeriesFound FindSeries(const std::string& first)
{
    SeriesFound found;
    const int number = PartNumber(first);
    if (number < 0) {
        found.error = "--series '" + first + "': the first part must end in .000 to .999";
        return found;
    }
    const std::string stem = first.substr(0, first.size() - 4);
    struct stat st;
    if (::stat(first.c_str(), &st) != 0) {
        found.error = "cannot open '" + first + "': " + std::strerror(errno);
        return found;
    }
    found.parts.push_back(first);
    for (int n = number + 1; n < 1000; ++n) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", n);
        const std::string part = stem + suffix;
        if (::lstat(part.c_str(), &st) != 0 && errno == ENOENT)
            break;
        found.parts.push_back(part);
    }
    return found;
}

}  // namespace tessera::cli
