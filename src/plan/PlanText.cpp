#include "PlanText.h"

#include <algorithm>

#include "Tokens.h"

namespace tessera {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A token that stream extraction reads whole as one integer: an optional
// sign, then digits.
bool IsIntegerToken(std::string_view token)
{
    if (!token.empty() && (token.front() == '+' || token.front() == '-'))
        token.remove_prefix(1);
    return !token.empty() && std::all_of(token.begin(), token.end(), IsDigit);
}

bool IsBlank(std::string_view line)
{
    return std::all_of(line.begin(), line.end(), IsAsciiSpace);
}

}  // namespace

std::string FormatPlanText(const std::vector<std::string>& lines)
{
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 1;
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

PlanFault ReadPlanLine(std::string_view line, SplitEntry& entry)
{
    // Exactly two integer tokens: ReadEntry alone would take "5 10 15" or
    // "5 10x" as 5 10 and lose the rest without a word.
    std::size_t tokens = 0;
    const bool integers = ForEachToken(line, [&](std::string_view token) {
        return ++tokens <= 2 && IsIntegerToken(token);
    });
    SplitEntry read;
    if (!integers || tokens != 2 || !ReadEntry(line, read))
        return PlanFault::NotAnEntry;  // also a number beyond 64 bits
    if (read.start < 0)
        return PlanFault::NegativeStart;
    if (read.end < read.start)
        return PlanFault::Backwards;
    entry = read;
    return PlanFault::None;
}

bool PlanTextReader::Feed(std::string_view piece)
{
    while (fault_ == PlanFault::None && !piece.empty()) {
        const std::size_t newline = piece.find('\n');
        const std::string_view part = piece.substr(0, newline);
        const std::size_t room = kMaxPlanLineLength + 1 - std::min(line_.size(), kMaxPlanLineLength + 1);
        // Keep one byte past the limit (the "\r" of a full-length line may
        // still come off).
        line_.append(part.substr(0, room));
        overlong_ = overlong_ || part.size() > room;
        if (newline == std::string_view::npos)
            break;
        piece.remove_prefix(newline + 1);
        EndLine();
    }
    return fault_ == PlanFault::None;
}

bool PlanTextReader::Finish()
{
    if (fault_ == PlanFault::None && (!line_.empty() || overlong_))
        EndLine();
    return fault_ == PlanFault::None;
}

bool PlanTextReader::EndLine()
{
    if (!overlong_ && !line_.empty() && line_.back() == '\r')
        line_.pop_back();
    PlanFault fault = PlanFault::None;
    SplitEntry entry;
    const bool blank = !overlong_ && IsBlank(line_);
    if (overlong_ || line_.size() > kMaxPlanLineLength) {
        fault = PlanFault::NotAnEntry;
    } else if (!blank) {
        fault = ReadPlanLine(line_, entry);
        if (fault == PlanFault::None && listed_ + entries_.size() >= kMaxSplitLines)
            fault = PlanFault::TooManyLines;
    }
    if (fault != PlanFault::None) {
        fault_ = fault;
        faultLine_ = lineNumber_;
        line_.resize(std::min(line_.size(), kMaxPlanLineLength));
        entries_.clear();
        entries_.shrink_to_fit();
        return false;
    }
    if (!blank)
        entries_.push_back(entry);
    line_.clear();
    overlong_ = false;
    ++lineNumber_;
    return true;
}

}  // namespace tessera
