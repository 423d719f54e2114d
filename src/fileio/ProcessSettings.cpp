#include "ProcessSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <vector>

#include "OpenFile.h"

namespace tessera {
namespace {

// The log file: open from start-up to the end of the process, never written.
class LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() { Close(); }

    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Creates or empties path, if it is a regular file or nothing yet.
    void Open(const std::string& path)
    {
        Close();
        std::uint32_t type = 0;
        fd_ = OpenFile(path, {O_WRONLY | O_CREAT | O_NOFOLLOW, FileLock::None, /*truncate=*/true}, &type);
        if (fd_ >= 0 && type != S_IFREG)
            Close();
    }

private:
    int fd_ = -1;
};

LogFile& Log()
{
    static LogFile log;
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

    Log().Open(logName);
}

}  // namespace tessera
