#include "PlanTools.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "Messages.h"
#include "SizeText.h"
#include "plan/Boundaries.h"
#include "plan/ParseNumber.h"
#include "plan/PatternSearch.h"
#include "plan/PlanText.h"
#include "plan/RangeBuilders.h"
#include "plan/ShiftJis.h"
#include "plan/SplitEntry.h"
#include "plan/TextOrder.h"

namespace tessera::cli {

namespace {

constexpr std::string_view kSpace = " \t\r\n\v\f";

// "A:B" as two sizes; nullopt when either half does not parse.
std::optional<std::pair<std::int64_t, std::int64_t>> SizePair(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::int64_t a = ParseSize(text.substr(0, colon));
    const std::int64_t b = ParseSize(text.substr(colon + 1));
    if (a < 0 || b < 0)
        return std::nullopt;
    return std::pair{a, b};
}

std::vector<std::string_view> Tokens(std::string_view text)
{
    std::vector<std::string_view> tokens;
    std::size_t pos = 0;
    while ((pos = text.find_first_not_of(kSpace, pos)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(kSpace, pos), text.size());
        tokens.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return tokens;
}

std::vector<std::uint8_t> SjisPattern(const std::string& text)
{
    const std::optional<std::string> bytes = EncodeShiftJis(text);
    if (!bytes)
        return {};
    return {bytes->begin(), bytes->end()};
}

// The next line of in, without its "\n"; false at the end. A line longer
// than a plan line can be is read no further than that, so a file that is no
// plan never fills the memory.
bool NextLine(std::istream& in, std::string& line)
{
    line.clear();
    bool any = false;
    for (int c; (c = in.get()) != std::char_traits<char>::eof();) {
        any = true;
        if (c == '\n')
            break;
        line.push_back(static_cast<char>(c));
        if (line.size() > kMaxPlanLineLength + 1)
            break;
    }
    return any;
}

class Planner {
public:
    Planner(const std::string& source, std::int64_t size, std::istream& input)
        : source_(source), size_(size), input_(input)
    {
    }

    bool Apply(const ToolOption& option);
    PlanResult Take()
    {
        if (!error_.empty())
            lines_.clear();
        return {std::move(lines_), std::move(error_)};
    }

private:
    std::size_t Room() const { return lines_.size() >= kMaxSplitLines ? 0 : kMaxSplitLines - lines_.size(); }
    bool Fail(const ToolOption& option, const std::string& why)
    {
        error_ = std::string(ToolFlag(option.tool)) + " " + Quoted(option.value) + ": " + why;
        return false;
    }
    std::string BeyondEnd() const
    {
        return "beyond the end of " + Quoted(source_) + " (" + std::to_string(size_) + " bytes)";
    }
    std::string TooMany() const { return "the plan would pass " + std::to_string(kMaxSplitLines) + " lines"; }
    bool Append(const ToolOption& option, const std::vector<SplitEntry>& entries)
    {
        if (entries.size() > Room())
            return Fail(option, TooMany());
        for (const SplitEntry& e : entries)
            lines_.push_back(FormatEntry(e));
        return true;
    }
    bool Search(const ToolOption& option, const std::vector<std::uint8_t>& pattern);
    bool ReadPlanFile(const ToolOption& option);

    const std::string& source_;
    std::int64_t size_;
    std::istream& input_;
    std::vector<std::string> lines_;
    std::string error_;
};

bool Planner::Apply(const ToolOption& option)
{
    if (const std::optional<std::string> wrong = CheckTool(option)) {
        error_ = *wrong;
        return false;
    }
    switch (option.tool) {
    case Tool::Extract: {
        const auto pair = SizePair(option.value);
        const std::optional<SplitEntry> entry = PlanExtract(size_, pair->first, pair->second);
        if (!entry)
            return Fail(option, BeyondEnd());
        if (Room() == 0)
            return Fail(option, TooMany());
        const std::string line = FormatEntry(*entry);
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(TextOrderPosition(lines_, line)), line);
        return true;
    }
    case Tool::Range: {
        const auto pair = SizePair(option.value);
        const std::optional<SplitEntry> entry = PlanRange(size_, pair->first, pair->second);
        if (!entry)
            return Fail(option, pair->first > pair->second ? "the start lies after the end" : BeyondEnd());
        return Append(option, {*entry});
    }
    case Tool::Size: {
        // An empty source gives no pieces, as in the window.
        if (size_ == 0)
            return true;
        const std::vector<SplitEntry> entries = PlanFixedSize(size_, ParseSize(option.value), Room());
        return entries.empty() ? Fail(option, TooMany()) : Append(option, entries);
    }
    case Tool::Pieces: {
        const std::vector<SplitEntry> entries =
            PlanEqualSplit(size_, NarrowPieceCount(ParseNumber(option.value)), Room());
        return entries.empty() ? Fail(option, TooMany()) : Append(option, entries);
    }
    case Tool::At: {
        std::vector<std::int64_t> offsets;
        for (std::string_view token : Tokens(option.value)) {
            offsets.push_back(ParseSize(token));
            if (offsets.back() > size_)
                return Fail(option, Quoted(token) + " lies " + BeyondEnd());
        }
        return Append(option, size_ == 0 ? std::vector<SplitEntry>{} : BoundariesToEntries(offsets, size_));
    }
    case Tool::Hex:
        return Search(option, ParseHexPattern(option.value));
    case Tool::Sjis:
        return Search(option, SjisPattern(option.value));
    case Tool::PlanFile:
        return ReadPlanFile(option);
    }
    return false;
}

bool Planner::Search(const ToolOption& option, const std::vector<std::uint8_t>& pattern)
{
    if (size_ == 0)
        return true;
    // Every offset found makes one more line.
    const SearchOutcome found = SearchFile(source_, size_, pattern, Room());
    switch (found.status) {
    case SearchOutcome::Status::Done:
        return Append(option, BoundariesToEntries(found.offsets, size_));
    case SearchOutcome::Status::TooMany:
        return Fail(option, TooMany());
    case SearchOutcome::Status::NoMemory:
        return Fail(option, "no memory for the search");
    case SearchOutcome::Status::OpenFailed:
        return Fail(option, "cannot open " + Quoted(source_));
    case SearchOutcome::Status::ReadFailed:
        return Fail(option, "cannot read " + Quoted(source_) + " to its end");
    }
    return false;
}

bool Planner::ReadPlanFile(const ToolOption& option)
{
    std::ifstream file;
    std::istream* in = &input_;
    const std::string name = option.value == "-" ? "standard input" : option.value;
    if (option.value != "-") {
        file.open(option.value, std::ios::binary);
        if (!file) {
            const int err = errno;
            error_ = WithError("cannot open " + Quoted(option.value), err);
            return false;
        }
        in = &file;
    }
    std::string text;
    for (std::size_t number = 1; NextLine(*in, text); ++number) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.find_first_not_of(kSpace) == std::string::npos)
            continue;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        // The rule of the split list's pasted and opened plans.
        SplitEntry entry;
        const PlanFault fault = text.size() > kMaxPlanLineLength ? PlanFault::NotAnEntry : ReadPlanLine(text, entry);
        const std::string shown = Quoted(text.substr(0, std::min<std::size_t>(text.size(), 80)));
        if (fault == PlanFault::NotAnEntry) {
            error_ = where + shown + " is no \"start end\" line";
            return false;
        }
        if (fault == PlanFault::NegativeStart) {
            error_ = where + shown + " starts before the file";
            return false;
        }
        if (fault != PlanFault::None) {
            error_ = where + shown + " runs backwards";
            return false;
        }
        if (entry.end > size_) {
            error_ = where + Quoted(text) + " ends " + BeyondEnd();
            return false;
        }
        if (Room() == 0) {
            error_ = where + TooMany();
            return false;
        }
        lines_.push_back(FormatEntry(entry));
    }
    if (in->bad()) {
        error_ = "cannot read " + Quoted(name);
        return false;
    }
    return true;
}

}  // namespace

std::string_view ToolFlag(Tool tool)
{
    switch (tool) {
    case Tool::Extract: return "--extract";
    case Tool::Range: return "--range";
    case Tool::Size: return "--size";
    case Tool::Pieces: return "--pieces";
    case Tool::At: return "--at";
    case Tool::Hex: return "--hex";
    case Tool::Sjis: return "--sjis";
    case Tool::PlanFile: return "--plan";
    }
    return "";
}

std::optional<std::string> CheckTool(const ToolOption& option)
{
    const auto fail = [&](const std::string& why) {
        return std::string(ToolFlag(option.tool)) + " " + Quoted(option.value) + ": " + why;
    };
    switch (option.tool) {
    case Tool::Extract:
        if (!SizePair(option.value))
            return fail("expected OFFSET:SIZE, two numbers");
        break;
    case Tool::Range:
        if (!SizePair(option.value))
            return fail("expected START:END, two numbers");
        break;
    case Tool::Size:
        if (ParseSize(option.value) <= 0)
            return fail("expected a piece size of at least 1 byte");
        break;
    case Tool::Pieces: {
        const std::int64_t count = ParseNumber(option.value);
        if (count <= 0 || NarrowPieceCount(count) != count)
            return fail("expected a piece count from 1 to 2147483647");
        break;
    }
    case Tool::At: {
        const std::vector<std::string_view> tokens = Tokens(option.value);
        if (tokens.empty())
            return fail("expected one or more offsets");
        for (std::string_view token : tokens) {
            if (ParseSize(token) < 0)
                return fail(Quoted(token) + " is not an offset");
        }
        break;
    }
    case Tool::Hex:
        if (option.value.empty())
            return fail("expected hex digits");
        if (option.value.size() % 2 != 0)
            return fail("an odd number of hex digits");
        if (ParseHexPattern(option.value).empty())
            return fail("expected hex digits only (0-9, a-f, A-F)");
        break;
    case Tool::Sjis:
        if (option.value.empty())
            return fail("expected a text");
        if (!EncodeShiftJis(option.value))
            return fail("the text has no Shift_JIS (code page 932) form");
        break;
    case Tool::PlanFile:
        break;
    }
    return std::nullopt;
}

PlanResult BuildPlan(const std::string& source, std::int64_t size, const std::vector<ToolOption>& tools,
                     std::istream& input)
{
    Planner planner(source, size, input);
    for (const ToolOption& option : tools) {
        if (!planner.Apply(option))
            break;
    }
    return planner.Take();
}

std::string PlanJson(const std::vector<std::string>& lines)
{
    std::string out = "[";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SplitEntry e;
        if (!ReadEntry(lines[i], e))
            continue;
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"start\": " + std::to_string(e.start) + ", \"end\": " + std::to_string(e.end) + "}";
    }
    out += lines.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace tessera::cli
