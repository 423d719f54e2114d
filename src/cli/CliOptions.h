#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Messages.h"
#include "PlanTools.h"
#include "engine/recovery/Par2Layout.h"

namespace tessera::cli {

enum class Command { Plan, Split, Join, Verify, Repair };

// The command line, read.
struct Options {
    Command command = Command::Plan;
    // plan, split: the tools in command-line order, and the file to cut.
    std::vector<ToolOption> tools;
    std::string source;
    bool json = false;
    bool checksum = false;
    // split: the recovery set's size (PERCENT, PERCENT% or Npart(s)) and its
    // grain (--slices, --slice-size), as given; empty: none. Read into
    // recoveryAsk.
    std::string recovery;
    std::string slices;
    std::string sliceSize;
    Par2Ask recoveryAsk;
    std::string into;
    // join: the destination, the inputs or the first part of a series, and
    // the checksum file to check against.
    std::string output;
    std::vector<std::string> inputs;
    std::string series;
    std::string check;
    // join: no check against the checksum file beside the first input.
    bool noCheck = false;
    // verify: the checksum file.
    std::string manifest;
    // repair: the recovery set (BASE.par2 or one of its volumes).
    std::string recoverySet;
    // split: the parts' name when the source is standard input ("-"); the
    // command each part is handed to instead of a file; finishing an
    // interrupted split of the same plan.
    std::string name;
    std::string filter;
    bool resume = false;
    bool force = false;
    // split: the parts are numbered after the highest part that exists.
    bool afterExisting = false;
    bool quiet = false;
    bool pace = false;
    bool sync = false;
};

struct ParsedCommandLine {
    std::optional<Options> options;
    // When there are no options: the status to exit with (--help and
    // --version 0, a bad command line kExitUsage), everything already said.
    int exitStatus = kExitDone;
};

// Reads the command line with CLI11. Help and the version go to out, the
// refusal of a bad command line ("tessera-cli: why", then a hint) to err.
// Tool values that are wrong whatever the file (CheckTool) are refused here.
// A command line CLI11 refuses is told in the manner of GNU tools: an
// unrecognized option or unknown command with the nearest known one, an
// option without its value. Help or the version that cannot be written
// exits kExitFailed.
[[nodiscard]] ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                                 std::ostream& err);

// The long options of a command ("plan", "split", "join", "verify", "repair"), --help
// included, sorted: what its completion and its manual name.
[[nodiscard]] std::vector<std::string> CommandOptionNames(std::string_view command);

}  // namespace tessera::cli
