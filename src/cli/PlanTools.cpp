#include "PlanTools.h"

#include <algorithm>
#include <limits>

#include "Messages.h"
#include "fileio/NFilePSDK.h"
#include "plan/Boundaries.h"
#include "plan/ParseNumber.h"
#include "plan/PlanBuilder.h"
#include "plan/PatternSearch.h"
#include "plan/PlanText.h"
#include "plan/RangeBuilders.h"
#include "plan/ShiftJis.h"
#include "plan/SizeText.h"
#include "plan/SnapPlanner.h"
#include "plan/SplitEntry.h"

namespace tessera::cli {

namespace {

constexpr std::int64_t kMaxPieces = std::numeric_limits<std::int32_t>::max();

// A plan file or standard input is read in pieces of this size.
constexpr std::uint32_t kPlanReadPiece = 64 * 1024;

std::string Prefix(const ToolOption& option)
{
    return std::string(ToolFlag(option.tool)) + " " + Quoted(option.value) + ": ";
}

std::string TooManyText()
{
    return "the plan would pass " + std::to_string(kMaxSplitLines) + " lines";
}

// Why a tool's value is wrong, from the planner's refusal; the source's
// matters (the end, opening and reading it) are the caller's.
std::string ValueText(const ToolOption& option, const Refusal& why)
{
    const Tool tool = option.tool;
    const bool pair = tool == Tool::Extract || tool == Tool::Range;
    const std::string pairHint = tool == Tool::Extract ? "expected OFFSET:SIZE, two numbers"
                                                       : "expected START:END, two numbers";
    switch (why.reason) {
    case Reason::Empty:
        switch (tool) {
        case Tool::Extract:
        case Tool::Range: return pairHint;
        case Tool::Size: return "expected a piece size of at least 1 byte";
        case Tool::Pieces: return "expected a piece count from 1 to 2147483647";
        case Tool::At: return "expected one or more offsets";
        case Tool::Hex: return "expected hex digits";
        case Tool::Sjis: return "expected a text";
        case Tool::PlanFile: return "expected a file name (- for standard input)";
        case Tool::Snap: return "expected hex digits";
        }
        break;
    case Reason::NotANumber:
        if (pair && why.token == option.value)
            return pairHint;
        if (tool == Tool::At)
            return Quoted(why.token) + " is not an offset";
        return Quoted(why.token) + " is not a number";
    case Reason::NotASizeSuffix:
        // "100,200": a list written with commas, not a suffix gone wrong.
        if (tool == Tool::At && why.token.find(',') != std::string::npos)
            return "offsets are separated by white space, not commas";
        return Quoted(why.token) + " is not a size suffix (" + std::string(kSizeSuffixHint) + ")";
    case Reason::TooLarge:
        if (tool == Tool::Pieces)
            return "expected a piece count from 1 to 2147483647";
        return "the number " + Quoted(why.token) + " is too large (2^63 - 1 at most)";
    case Reason::Zero:
        return tool == Tool::Pieces ? "expected a piece count from 1 to 2147483647"
                                    : "expected a piece size of at least 1 byte";
    case Reason::StartAfterEnd: return "the start lies after the end";
    case Reason::OddHexDigits: return "an odd number of hex digits";
    case Reason::NotAHexDigit: return Quoted(why.token) + " is not a hex digit";
    case Reason::NoCodePage932Form:
        if (why.token.size() == 1 && static_cast<unsigned char>(why.token[0]) >= 0x80)
            return "the text is not UTF-8";
        return Quoted(why.token) + " has no Shift_JIS (code page 932) form";
    case Reason::TooManyLines: return TooManyText();
    default: break;
    }
    return "refused";
}

class Planner {
public:
    Planner(const std::string& source, std::int64_t size, std::istream& input)
        : source_(source), size_(size), input_(input)
    {
    }

    bool Apply(const ToolOption& option);
    // The bytes every --size piece ends after.
    std::vector<std::uint8_t> snap;
    PlanResult Take()
    {
        if (!error_.empty()) {
            entries_.clear();
            notices_.clear();
        }
        return {std::move(entries_), std::move(error_), std::move(notices_)};
    }

private:
    std::size_t Room() const { return PlanRoom(entries_.size()); }
    bool Fail(const std::string& why)
    {
        error_ = why;
        return false;
    }
    std::string BeyondEnd() const
    {
        return "beyond the end of " + Quoted(source_) + " (" + std::to_string(size_) + " bytes)";
    }
    // The message of a planner's refusal.
    bool Refused(const ToolOption& option, const Refusal& why)
    {
        switch (why.reason) {
        case Reason::BeyondEnd:
            if (option.tool == Tool::At)
                return Fail(Prefix(option) + Quoted(why.token) + " lies " + BeyondEnd());
            return Fail(Prefix(option) + BeyondEnd());
        case Reason::NoSource: return Fail("cannot size " + Quoted(source_));
        case Reason::OpenFailed: return Fail(Prefix(option) + "cannot open " + Quoted(source_));
        case Reason::ReadFailed: return Fail(Prefix(option) + "cannot read " + Quoted(source_) + " to its end");
        case Reason::NoMemory: return Fail(Prefix(option) + "no memory for the search");
        default: return Fail(Prefix(option) + ValueText(option, why));
        }
    }
    bool Append(const ToolOption& option, const Planned<std::vector<SplitEntry>>& entries)
    {
        if (!entries)
            return Refused(option, entries.error());
        entries_.insert(entries_.end(), entries->begin(), entries->end());
        return true;
    }
    bool Search(const ToolOption& option, std::span<const std::uint8_t> pattern);
    bool ReadPlanFile(const ToolOption& option);

    const std::string& source_;
    std::int64_t size_;
    std::istream& input_;
    std::vector<SplitEntry> entries_;
    std::string error_;
    std::vector<std::string> notices_;
};

bool Planner::Apply(const ToolOption& option)
{
    if (const std::optional<std::string> wrong = CheckTool(option))
        return Fail(*wrong);
    switch (option.tool) {
    case Tool::Extract: {
        const auto pair = ParseSizePair(option.value);
        const Planned<PlacedEntry> placed = PlaceExtract(
            entries_.size(), [this](std::size_t row) { return FormatEntry(entries_[row]); }, size_, pair->first,
            pair->second);
        if (!placed)
            return Refused(option, placed.error());
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(placed->row), placed->entry);
        return true;
    }
    case Tool::Range: {
        const auto pair = ParseSizePair(option.value);
        const Planned<SplitEntry> entry = AppendRange(entries_.size(), size_, pair->first, pair->second);
        if (!entry)
            return Refused(option, entry.error());
        entries_.push_back(*entry);
        return true;
    }
    case Tool::Size:
        if (!snap.empty())
            return Append(option, PlanSnapped(source_, size_, *ParseSize(option.value), snap, Room()));
        return Append(option, PlanFixedSize(size_, *ParseSize(option.value), Room()));
    case Tool::Pieces:
        return Append(option, PlanEqualSplit(size_, NarrowPieceCount(ParseNumber(option.value)), Room()));
    case Tool::At:
        return Append(option, PlanBoundaries(option.value, size_, Room(), ParseSize));
    case Tool::Hex: {
        const auto pattern = ParseHexPattern(option.value, HexSpacing::BetweenPairs);
        return Search(option, *pattern);
    }
    case Tool::Sjis: {
        const Planned<std::string> bytes = EncodeShiftJis(option.value);
        return Search(option, std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
    }
    case Tool::PlanFile:
        return ReadPlanFile(option);
    case Tool::Snap:
        // Taken before the tools are applied.
        return true;
    }
    return false;
}

bool Planner::Search(const ToolOption& option, std::span<const std::uint8_t> pattern)
{
    // The manual promises every occurrence, whatever the pattern's length.
    std::size_t found = 0;
    const Planned<std::vector<SplitEntry>> entries =
        PlanSearch(source_, size_, pattern, Room(), SearchReach::Whole, &found);
    if (!Append(option, entries))
        return false;
    if (found == 0 && size_ > 0)
        notices_.push_back("no occurrence of " + Quoted(option.value) + " found: one part, the whole file");
    return true;
}

bool Planner::ReadPlanFile(const ToolOption& option)
{
    const bool standardInput = option.value == "-";
    const std::string name = standardInput ? "standard input" : option.value;
    PlanTextReader reader(entries_.size(), size_);
    std::vector<char> buffer(kPlanReadPiece);
    if (standardInput) {
        while (input_.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || input_.gcount() > 0) {
            if (!reader.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(input_.gcount()))))
                break;
        }
        if (input_.bad())
            return Fail("cannot read " + Quoted(name));
    } else {
        // A named pipe waits for its writer, as standard input does.
        NFilePSDK file(option.value, NFilePSDK::Form::Stream);
        if (!file.IsOpen())
            return Fail(WithError("cannot open " + Quoted(name), file.LastError()));
        for (;;) {
            const std::uint32_t got = file.Read(buffer.data(), kPlanReadPiece);
            if (got == 0 && file.LastError() != 0)
                return Fail(WithError("cannot read " + Quoted(name), file.LastError()));
            if (got == 0 || !reader.Feed(std::string_view(buffer.data(), got)))
                break;
        }
    }
    if (!reader.Finish()) {
        const Refusal why = reader.Refused();
        const std::string where = name + ":" + std::to_string(why.at) + ": ";
        const std::string shown = Quoted(why.token.substr(0, std::min<std::size_t>(why.token.size(), 80)));
        switch (why.reason) {
        case Reason::LineTooLong:
            return Fail(where + shown + " is no \"start end\" line (longer than " +
                        std::to_string(kMaxPlanLineLength) + " bytes)");
        case Reason::NegativeStart: return Fail(where + shown + " starts before the file");
        case Reason::Backwards: return Fail(where + shown + " runs backwards");
        case Reason::BeyondEnd: return Fail(where + shown + " ends " + BeyondEnd());
        case Reason::TooManyLines: return Fail(where + TooManyText());
        default: return Fail(where + shown + " is no \"start end\" line");
        }
    }
    // Nothing read is no plan: a writer that never came, a file emptied.
    if (reader.Entries().empty())
        return Fail(Prefix(option) + "the plan is empty (no \"start end\" line)");
    entries_.insert(entries_.end(), reader.Entries().begin(), reader.Entries().end());
    return true;
}

}  // namespace

std::string_view ToolFlag(Tool tool)
{
    for (const ToolInfo& info : kToolTable) {
        if (info.tool == tool)
            return info.flag;
    }
    return "";
}

std::optional<std::string> CheckTool(const ToolOption& option)
{
    const auto fail = [&](const Refusal& why) { return Prefix(option) + ValueText(option, why); };
    switch (option.tool) {
    case Tool::Extract:
    case Tool::Range: {
        const auto pair = ParseSizePair(option.value);
        if (!pair)
            return fail(pair.error());
        // A range that runs backwards is never right, whatever the file.
        if (option.tool == Tool::Range && pair->first > pair->second)
            return fail(Refuse(Reason::StartAfterEnd));
        break;
    }
    case Tool::Size: {
        const Planned<std::int64_t> piece = ParseSize(option.value);
        if (!piece)
            return fail(piece.error());
        if (*piece == 0)
            return fail(Refuse(Reason::Zero));
        break;
    }
    case Tool::Pieces: {
        const Planned<std::int64_t> count = ParseFieldNumber(option.value);
        if (!count)
            return fail(count.error());
        if (*count == 0 || *count > kMaxPieces)
            return fail(Refuse(Reason::Zero));
        break;
    }
    case Tool::At: {
        const auto offsets = ReadOffsets(option.value, ParseSize);
        if (!offsets)
            return fail(offsets.error());
        if (offsets->empty())
            return fail(Refuse(Reason::Empty));
        break;
    }
    case Tool::Hex:
    case Tool::Snap: {
        const auto pattern = ParseHexPattern(option.value, HexSpacing::BetweenPairs);
        if (!pattern)
            return fail(pattern.error());
        break;
    }
    case Tool::Sjis: {
        if (option.value.empty())
            return fail(Refuse(Reason::Empty));
        const Planned<std::string> bytes = EncodeShiftJis(option.value);
        if (!bytes)
            return fail(bytes.error());
        break;
    }
    case Tool::PlanFile:
        if (option.value.empty())
            return fail(Refuse(Reason::Empty));
        break;
    }
    return std::nullopt;
}

PlanResult BuildPlan(const std::string& source, std::int64_t size, const std::vector<ToolOption>& tools,
                     std::istream& input)
{
    Planner planner(source, size, input);
    for (const ToolOption& option : tools) {
        if (option.tool == Tool::Snap)
            planner.snap = *ParseHexPattern(option.value, HexSpacing::BetweenPairs);
    }
    for (const ToolOption& option : tools) {
        if (!planner.Apply(option))
            break;
    }
    return planner.Take();
}

std::string PlanJson(const std::vector<SplitEntry>& entries)
{
    std::string out = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SplitEntry& e = entries[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"start\": " + std::to_string(e.start) + ", \"end\": " + std::to_string(e.end) + "}";
    }
    out += entries.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace tessera::cli
