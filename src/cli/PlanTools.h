#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/SplitEntry.h"

namespace tessera::cli {

// The planning tools of the command line, one option each. Every one adds
// lines to the plan exactly as the window's tool of the same kind does, through
// the same planner.
enum class Tool {
    Extract,   // --extract OFFSET:SIZE, inserted at its place in text order
    Range,     // --range START:END
    Size,      // --size N: pieces of N bytes
    Pieces,    // --pieces N: N equal pieces
    At,        // --at "OFFSET...": cuts at white-space separated offsets
    Hex,       // --hex BYTES: cuts in front of every occurrence
    Sjis,      // --sjis TEXT: the same for the text's code page 932 bytes
    PlanFile,  // --plan FILE: "start end" lines; "-" is standard input
    Snap,      // --snap HEX: every --size piece ends just after the bytes' last occurrence in it
};

// The one list of the tools: the option parser, --help, the bash completion
// and the manual page all name exactly these (the completion and the manual
// are checked against it by a test).
struct ToolInfo {
    Tool tool;
    std::string_view flag;   // "--size"
    std::string_view value;  // "SIZE", the value's name in help and messages
    std::string_view help;   // one line for --help
};

inline constexpr ToolInfo kToolTable[] = {
    {Tool::Extract, "--extract", "OFFSET:SIZE", "Add SIZE bytes from OFFSET, at its place in text order"},
    {Tool::Range, "--range", "START:END", "Add the bytes from START up to END"},
    {Tool::Size, "--size", "SIZE", "Add pieces of SIZE bytes, the last one shorter"},
    {Tool::Pieces, "--pieces", "N", "Add N equal pieces"},
    {Tool::At, "--at", "OFFSETS", "Cut at every offset of a white-space separated list"},
    {Tool::Hex, "--hex", "HEX",
     "Cut in front of every occurrence of the bytes written in hex (white space between byte pairs allowed)"},
    {Tool::Sjis, "--sjis", "TEXT", "Cut in front of every occurrence of TEXT in Shift_JIS (code page 932)"},
    {Tool::PlanFile, "--plan", "FILE", "Add the \"start end\" lines of FILE (- reads standard input)"},
    {Tool::Snap, "--snap", "HEX",
     "End each --size piece just after the last occurrence of the bytes written in hex (0A: whole lines)"},
};

struct ToolOption {
    Tool tool;
    std::string value;
};

// "--size" and so on.
[[nodiscard]] std::string_view ToolFlag(Tool tool);

// What can be told wrong without the source: a number or suffix that does not
// parse, a number too large, a piece size or count of 0, a range that runs
// backwards, a hex digit that is none, a text without a code page 932 form,
// an empty file name. The message names the option and its value.
[[nodiscard]] std::optional<std::string> CheckTool(const ToolOption& option);

struct PlanResult {
    // Empty after a refusal.
    std::vector<SplitEntry> entries;
    // Empty when every tool was applied; otherwise why one was refused.
    std::string error;
    // What the user should know of a plan that was made (a search that found
    // nothing planned the whole file), one message each, for standard error.
    std::vector<std::string> notices;
};

// Applies the tools in order to the source of `size` bytes at `source`, each
// adding entries as its window tool does (PlanBuilder.h), the plan held to
// kMaxSplitLines lines. A --snap (at most one, and only with --size) makes every --size
// piece end just after the last occurrence of its bytes (SnapPlanner). A tool that the window would refuse silently refuses the whole plan
// here, with the reason. `input` serves "--plan -".
[[nodiscard]] PlanResult BuildPlan(const std::string& source, std::int64_t size,
                                   const std::vector<ToolOption>& tools, std::istream& input);

// The plan as a JSON array of {"start": n, "end": n} objects, one a line.
[[nodiscard]] std::string PlanJson(const std::vector<SplitEntry>& entries);

}  // namespace tessera::cli
