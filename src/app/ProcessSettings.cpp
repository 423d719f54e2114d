#include "ProcessSettings.h"

#include <unistd.h>

#include <clocale>
#include <fstream>
#include <system_error>
#include <vector>

namespace tessera {
namespace {

std::ofstream& LogStream()
{
    static std::ofstream log;
    return log;
}

std::string& ModuleDirectoryStorage()
{
    static std::string directory;
    return directory;
}

std::string ExecutablePath()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string& StartDirectoryStorage()
{
    static std::string directory;
    return directory;
}

}  // namespace

const std::string& StartDirectory()
{
    return StartDirectoryStorage();
}

void SetStartDirectory(std::string folder)
{
    StartDirectoryStorage() = std::move(folder);
}

const std::string& ModuleDirectory()
{
    return ModuleDirectoryStorage();
}

void ApplyProcessSettings(const std::string& logName)
{
    const std::string exe = ExecutablePath();
    const auto slash = exe.rfind('/');
    ModuleDirectoryStorage() = slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);

    // Japanese where that locale is installed; the classification and the
    // multibyte conversions must stay UTF-8, the file system's encoding.
    if (!std::setlocale(LC_ALL, "ja_JP.UTF-8"))
        std::setlocale(LC_ALL, "C.UTF-8");
    // Numbers are always written and read in the classic form.
    std::setlocale(LC_NUMERIC, "C");

    if (!ModuleDirectory().empty())
        (void)::chdir(ModuleDirectory().c_str());

    std::ofstream& log = LogStream();
    if (log.is_open())
        log.close();
    log.clear();
    log.open(logName, std::ios::out | std::ios::trunc);
}

}  // namespace tessera
