#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessera {

// Files named on the command line, as the dialog takes them: each split file
// in turn becomes the source (the last regular one stays), the join files are
// appended to the join list in this order.
struct StartFiles {
    std::vector<std::string> split;
    std::vector<std::string> join;
};

// The command line read: the files, or an end without a window (help or a
// usage error) with the text to print.
struct ParsedArguments {
    StartFiles files;
    std::optional<int> exitCode;
    // For standard output when exitCode is 0, for standard error otherwise.
    std::string message;
};

// Reads the arguments after the program name:
//   tessera FILE                  FILE is the source to split
//   tessera FILE1 FILE2 ...       the files to join, in this order
//   tessera --split FILE          the source to split
//   tessera --join FILE...        the files to join
// --split and --join may be given together; bare files go with neither. Names
// are kept byte for byte and made absolute against cwd (see AbsolutePath).
[[nodiscard]] ParsedArguments ParseArguments(const std::vector<std::string>& args, const std::string& cwd);

// path when it is absolute; else cwd + "/" + path, without "." components.
// With an empty cwd a relative path stays relative: the dialog leaves such a
// name out rather than look it up in the program's folder.
[[nodiscard]] std::string AbsolutePath(const std::string& path, const std::string& cwd);

// The process's current directory; empty when it cannot be found (a removed
// folder, or no permission on a parent).
[[nodiscard]] std::string CurrentDirectory();

// The command line divided between Qt and the program. Qt takes its own
// options out of what it is given, a file name that happens to read as one
// among them (a file named "-reverse"), so it is given only options meant for
// it: one of its known options, with its value, before "--" and not naming an
// existing file (looked up against cwd). Everything else goes to the program,
// in its order.
struct DividedArguments {
    std::vector<std::string> qt;
    std::vector<std::string> program;
};
[[nodiscard]] DividedArguments DivideArguments(const std::vector<std::string>& args, const std::string& cwd);

// True when a window can be opened: a display is named (DISPLAY or
// WAYLAND_DISPLAY), or a Qt platform is chosen (QT_QPA_PLATFORM, or
// -platform among Qt's arguments, see DivideArguments).
[[nodiscard]] bool HasDisplay(const std::vector<std::string>& qtArgs);

}  // namespace tessera
