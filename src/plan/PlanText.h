#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Refusal.h"
#include "SplitEntry.h"

namespace tessera {

// A plan as text: what the split list's copy and paste carry and what a plan
// file holds. One split list line per text line, each "start end" and ended
// by "\n"; the command line reads the same files.

// The lines, each followed by "\n".
[[nodiscard]] std::string FormatPlanText(const std::vector<std::string>& lines);

// Why a plan text was refused: None, NotAnEntry (not two whole numbers),
// NegativeStart, Backwards (end before start), TooManyLines (the list would
// hold more than kMaxSplitLines), BeyondEnd (an end past the source size, when
// the reader was given one), LineTooLong (more than kMaxPlanLineLength bytes).
using PlanFault = Reason;

// A text line longer than this is refused unread, so a file that is no plan
// never fills the memory.
inline constexpr std::size_t kMaxPlanLineLength = 1024;

// Reads a plan text given in pieces of any size. A line is taken when it
// reads back as the split worker reads it (ReadEntry: white space, start,
// end) with nothing but white space after the end, start >= 0 and
// end >= start. Lines end with "\n" or "\r\n"; blank lines are skipped but
// counted. The first line that fails refuses the whole text: all or nothing.
// A line refuses the text as soon as it passes kMaxPlanLineLength bytes,
// without waiting for its end.
class PlanTextReader {
public:
    // `listed` lines are in the list already and count toward kMaxSplitLines.
    // With a source size >= 0, a line that ends past it refuses the text.
    explicit PlanTextReader(std::size_t listed = 0, std::int64_t sourceSize = -1)
        : listed_(listed), sourceSize_(sourceSize)
    {
    }

    // False once the text is refused; later pieces are ignored.
    bool Feed(std::string_view piece);
    // The end of the text (a last line without "\n" is read here).
    bool Finish();

    // The reason; an over-long line reads as NotAnEntry here (it is no
    // "start end" line), and as LineTooLong in Refused().
    [[nodiscard]] PlanFault Fault() const
    {
        return fault_ == Reason::LineTooLong ? Reason::NotAnEntry : fault_;
    }
    // The refusal: its reason, the line's text as FaultText() and its number.
    [[nodiscard]] Refusal Refused() const
    {
        return fault_ == Reason::None ? Refusal{} : Refusal{fault_, line_, faultLine_};
    }
    // The refused line's 1-based number and its text (cut at
    // kMaxPlanLineLength bytes, without its line end); 0 and empty when none.
    [[nodiscard]] std::size_t FaultLine() const { return faultLine_; }
    [[nodiscard]] const std::string& FaultText() const { return line_; }
    // The entries read, in text order; empty when the text was refused.
    [[nodiscard]] const std::vector<SplitEntry>& Entries() const { return entries_; }

private:
    bool EndLine();
    bool Fail(PlanFault fault);

    std::size_t listed_;
    std::int64_t sourceSize_;
    std::vector<SplitEntry> entries_;
    std::string line_;
    std::size_t lineNumber_ = 1;
    PlanFault fault_ = PlanFault::None;
    std::size_t faultLine_ = 0;
};

// One plan line on its own, without its line end: PlanFault::None and the
// entry when the line is taken (the cap is the reader's matter).
[[nodiscard]] PlanFault ReadPlanLine(std::string_view line, SplitEntry& entry);

}  // namespace tessera
