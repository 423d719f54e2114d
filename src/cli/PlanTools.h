#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::cli {

// The planning tools of the command line, one option each. Every one adds
// lines to the plan exactly as the window's tool of the same kind does.
enum class Tool {
    Extract,   // --extract OFFSET:SIZE, inserted at its place in text order
    Range,     // --range START:END
    Size,      // --size N: pieces of N bytes
    Pieces,    // --pieces N: N equal pieces
    At,        // --at "OFFSET...": cuts at white-space separated offsets
    Hex,       // --hex BYTES: cuts in front of every occurrence
    Sjis,      // --sjis TEXT: the same for the text's code page 932 bytes
    PlanFile,  // --plan FILE: "start end" lines; "-" is standard input
};

struct ToolOption {
    Tool tool;
    std::string value;
};

// "--size" and so on.
[[nodiscard]] std::string_view ToolFlag(Tool tool);

// What can be told wrong without the source: a number that does not parse, a
// piece size or count of 0, odd or foreign hex digits, a text without a code
// page 932 form. The message names the option and its value.
[[nodiscard]] std::optional<std::string> CheckTool(const ToolOption& option);

struct PlanResult {
    // Empty after a refusal.
    std::vector<std::string> lines;
    // Empty when every tool was applied; otherwise why one was refused.
    std::string error;
};

// Applies the tools in order to the source of `size` bytes at `source`, each
// adding lines as its window tool does, the plan held to kMaxSplitLines
// lines. A tool that the window would refuse silently refuses the whole plan
// here, with the reason. `input` serves "--plan -".
[[nodiscard]] PlanResult BuildPlan(const std::string& source, std::int64_t size,
                                   const std::vector<ToolOption>& tools, std::istream& input);

// The plan as a JSON array of {"start": n, "end": n} objects, one a line.
[[nodiscard]] std::string PlanJson(const std::vector<std::string>& lines);

}  // namespace tessera::cli
