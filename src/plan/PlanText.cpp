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
        // One byte past the limit may still be the "\r" of a full-length
        // line; anything more, or anything else, and the line is too long.
        const std::size_t room = kMaxPlanLineLength + 1 - std::min(line_.size(), kMaxPlanLineLength + 1);
        line_.append(part.substr(0, room));
        if (part.size() > room || (line_.size() > kMaxPlanLineLength && line_.back() != '\r'))
            return Fail(PlanFault::LineTooLong);
        if (newline == std::string_view::npos)
            break;
        piece.remove_prefix(newline + 1);
        EndLine();
    }
    return fault_ == PlanFault::None;
}

bool PlanTextReader::Finish()
{
    if (fault_ == PlanFault::None && !line_.empty())
        EndLine();
    return fault_ == PlanFault::None;
}

bool PlanTextReader::Fail(PlanFault fault)
{
    fault_ = fault;
    faultLine_ = lineNumber_;
    line_.resize(std::min(line_.size(), kMaxPlanLineLength));
    entries_.clear();
    entries_.shrink_to_fit();
    return false;
}

bool PlanTextReader::EndLine()
{
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    if (line_.size() > kMaxPlanLineLength)
        return Fail(PlanFault::LineTooLong);
    if (!IsBlank(line_)) {
        SplitEntry entry;
        const PlanFault fault = ReadPlanLine(line_, entry);
        if (fault != PlanFault::None)
            return Fail(fault);
        if (listed_ + entries_.size() >= kMaxSplitLines)
            return Fail(PlanFault::TooManyLines);
        if (sourceSize_ >= 0 && entry.end > sourceSize_)
            return Fail(PlanFault::BeyondEnd);
        entries_.push_back(entry);
    }
    line_.clear();
    ++lineNumber_;
    return true;
}

}  // namespace tessera
