#pragma once

#include <string>
#include <string_view>

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

}  // namespace tessera::cli
