#include "Arguments.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace tessera {

namespace {

constexpr int kUsageError = 2;

bool Set(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

std::string AbsolutePath(const std::string& path, const std::string& cwd)
{
    if (path.empty() || (path.front() != '/' && cwd.empty()))
        return path;
    std::string whole = path.front() == '/' ? path : cwd + "/" + path;
    // Only "." goes: ".." after a symbolic link means its target's parent, so
    // it stays for the file system to resolve.
    std::string out;
    out.reserve(whole.size());
    std::size_t i = 0;
    while (i < whole.size()) {
        const std::size_t slash = whole.find('/', i);
        const std::size_t end = slash == std::string::npos ? whole.size() : slash;
        const std::string_view part(whole.data() + i, end - i);
        if (!part.empty() && part != ".") {
            out += '/';
            out += part;
        }
        i = end + 1;
    }
    if (out.empty())
        out = "/";
    // A trailing slash says "a folder": keep it, so such a name is not taken
    // for a file.
    if (whole.back() == '/' && out.back() != '/')
        out += '/';
    return out;
}

std::string CurrentDirectory()
{
    std::string buffer(4096, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.data()));
            // Linux marks a folder outside the process's root this way.
            return buffer.front() == '/' ? buffer : std::string();
        }
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

bool HasDisplay(const std::vector<std::string>& args)
{
    if (Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM"))
        return true;
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (arg == "-platform" || arg == "--platform" || arg.starts_with("-platform=") || arg.starts_with("--platform="))
            return true;
    }
    return false;
}

ParsedArguments ParseArguments(const std::vector<std::string>& args, const std::string& cwd)
{
    CLI::App app{"Tessera: cuts a file into byte-range pieces and joins files back together.", "tessera"};
    app.footer("A single FILE opens as the source to split; two or more are listed for joining, in the given order.");
    std::string split;
    std::vector<std::string> join;
    std::vector<std::string> files;
    CLI::Option* splitOption = app.add_option("--split", split, "the file to split")->type_name("FILE");
    CLI::Option* joinOption =
        app.add_option("--join", join, "the files to join, in this order")->type_name("FILE...")->expected(1, -1);
    app.add_option("files", files, "a file to split, or the files to join")
        ->type_name("FILE")
        ->excludes(splitOption)
        ->excludes(joinOption);

    std::vector<const char*> argv{"tessera"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());

    ParsedArguments parsed;
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& error) {
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(error, out, err);
        parsed.exitCode = code == 0 ? 0 : kUsageError;
        parsed.message = code == 0 ? out.str() : err.str();
        return parsed;
    }

    if (files.size() == 1) {
        parsed.files.split.push_back(AbsolutePath(files.front(), cwd));
    } else {
        for (const std::string& file : files)
            parsed.files.join.push_back(AbsolutePath(file, cwd));
    }
    if (splitOption->count() > 0)
        parsed.files.split.push_back(AbsolutePath(split, cwd));
    for (const std::string& file : join)
        parsed.files.join.push_back(AbsolutePath(file, cwd));
    return parsed;
}

}  // namespace tessera
