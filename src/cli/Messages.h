#pragma once

#include <string>
#include <string_view>

#include "fileio/Admission.h"

namespace tessera::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// A name or value as a message shows it: in single quotes, each control byte
// written as an escape (\n, \r, \t, \xHH), so a name cannot break the line it
// is shown on. Other bytes are kept as they are.
[[nodiscard]] std::string Quoted(std::string_view text);

// Tells standard error "tessera-cli: message", after what standard output
// holds, and gives the exit status of a command that failed.
int Fail(const std::string& message);

// "what: strerror(error)", or what alone when error is 0.
[[nodiscard]] std::string WithError(const std::string& what, int error);

// Why the file at path was not admitted for reading (Admission.h), worded
// the one way the command line says it: "cannot open 'x': <cause>" when it
// cannot be looked up or opened, "cannot read 'x': it is a named pipe, not a
// regular file", "cannot read 'x': it is a folder", "cannot read 'x': it
// holds more than the N bytes its size says (...)", "cannot read 'x':
// <cause>". Empty for an admitted file.
[[nodiscard]] std::string RefusalText(const std::string& path, const Admission& admission);

}  // namespace tessera::cli
