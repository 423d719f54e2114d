#include "Arguments.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "fileio/FileQuery.h"

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

namespace {

// Qt's own command line options (QGuiApplication, QApplication and the
// platform plugins), each with one dash or two, "-name value" or
// "-name=value" where it takes a value.
constexpr std::string_view kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "display", "geometry", "name", "title", "visual", "style", "stylesheet",
    "qmljsdebugger", "font", "fn", "bg", "background", "fg", "foreground", "btn", "button", "ncols", "cmap"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

// The option's name without its dashes and value; empty for no Qt option.
std::string_view QtOptionName(std::string_view arg, bool& takesValue, bool& valueInline)
{
    if (!arg.starts_with('-'))
        return {};
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    const std::size_t equals = arg.find('=');
    valueInline = equals != std::string_view::npos;
    const std::string_view name = arg.substr(0, equals);
    for (const std::string_view option : kQtOptionsWithValue) {
        if (name == option) {
            takesValue = true;
            return name;
        }
    }
    for (const std::string_view flag : kQtFlags) {
        if (name == flag && !valueInline) {
            takesValue = false;
            return name;
        }
    }
    return {};
}

bool Exists(const std::string& path)
{
    return !path.empty() && NameState(path) == 0;
}

}  // namespace

DividedArguments DivideArguments(const std::vector<std::string>& args, const std::string& cwd)
{
    DividedArguments out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            out.program.insert(out.program.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        bool takesValue = false;
        bool valueInline = false;
        // A name that is an existing file stays a name.
        if (QtOptionName(arg, takesValue, valueInline).empty() || Exists(cwd.empty() ? arg : AbsolutePath(arg, cwd))) {
            out.program.push_back(arg);
            continue;
        }
        out.qt.push_back(arg);
        if (takesValue && !valueInline && i + 1 < args.size())
            out.qt.push_back(args[++i]);
    }
    return out;
}

bool HasDisplay(const std::vector<std::string>& qtArgs)
{
    if (Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM"))
        return true;
    for (const std::string& arg : qtArgs) {
        if (arg == "-platform" || arg == "--platform" || arg.starts_with("-platform=") || arg.starts_with("--platform="))
            return true;
    }
    return false;
}

namespace {

constexpr char kHelp[] =
    "Usage: tessera [FILE...]\n"
    "       tessera [--split FILE] [--join FILE...]\n"
    "Opens the window that cuts one file into byte-range pieces and joins files\n"
    "back together, with the named files in place.\n"
    "\n"
    "  FILE            one FILE becomes the source to split; two or more are\n"
    "                  listed for joining, in the order given\n"
    "  --split FILE    the file to split\n"
    "  --join FILE...  the files to join, in the order given\n"
    "  -h, --help      print this help and end\n"
    "  --              every later argument is a file name, also one that\n"
    "                  begins with \"-\"\n"
    "\n"
    "FILE alone cannot go with --split or --join. Names that are no regular file\n"
    "are left out and named in the status line. Relative names, and a relative\n"
    "join destination typed in the window, are taken from the folder the program\n"
    "was started in. Qt's own options (-platform, -style, ...) are taken before\n"
    "\"--\". To split or join without a window: tessera-cli (man tessera-cli).\n";

bool IsOurOption(std::string_view arg)
{
    for (const std::string_view option : {"--split", "--join"}) {
        if (arg == option || (arg.starts_with(option) && arg.size() > option.size() && arg[option.size()] == '='))
            return true;
    }
    return arg == "-h" || arg == "--help";
}

std::string Usage(const std::string& what)
{
    return "tessera: " + what + "\nTry 'tessera --help' for more information.\n";
}

// The message for a command line CLI11 refused, in the program's words.
std::string Describe(const CLI::ParseError& error, const std::vector<std::string>& args)
{
    const std::string text = error.what();
    if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr || dynamic_cast<const CLI::ExtrasError*>(&error))
        return "a FILE given on its own cannot go with --split or --join; name each file after one of them";
    for (const std::string option : {"--split", "--join"}) {
        if (!text.starts_with(option))
            continue;
        const bool twice = std::count(args.begin(), args.end(), option) > 1;
        if (twice && option == "--split")
            return "option '--split' may be given only once";
        return "option '" + option + "' requires " + (option == "--split" ? "a FILE" : "at least one FILE");
    }
    return text;
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args, const std::string& cwd)
{
    ParsedArguments parsed;
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (arg.size() > 1 && arg.front() == '-' && !IsOurOption(arg)) {
            parsed.exitCode = kUsageError;
            std::string what = "unrecognized option '" + arg + "'";
            if (Exists(AbsolutePath(arg, cwd)))
                what += "; a file of that name goes after \"--\": tessera -- " + arg;
            parsed.message = Usage(what);
            return parsed;
        }
    }

    CLI::App app{"tessera", "tessera"};
    std::string split;
    std::vector<std::string> join;
    std::vector<std::string> files;
    CLI::Option* splitOption = app.add_option("--split", split)->type_name("FILE");
    CLI::Option* joinOption = app.add_option("--join", join)->type_name("FILE...")->expected(1, -1);
    app.add_option("files", files)->type_name("FILE")->excludes(splitOption)->excludes(joinOption);

    std::vector<const char*> argv{"tessera"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());

    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        parsed.exitCode = 0;
        parsed.message = kHelp;
        return parsed;
    } catch (const CLI::ParseError& error) {
        parsed.exitCode = kUsageError;
        parsed.message = Usage(Describe(error, args));
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
