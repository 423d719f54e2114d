#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tessera {

// Why a planner gave no plan. The window adds nothing and says nothing; the
// command line turns the reason into its message.
enum class Reason {
    None,
    // Typed values.
    Empty,             // nothing given where a value is needed
    NotANumber,        // token: the text that is no number
    NotASizeSuffix,    // token: the letters after the number
    TooLarge,          // token: a number past 2^63 - 1 (or past what the value can be)
    Zero,              // a piece size or a piece count of 0
    BeyondEnd,         // token: the offset past the end; at: the size
    StartAfterEnd,     // a range that runs backwards
    OddHexDigits,      // an odd number of hex digits
    NotAHexDigit,      // token: the byte; at: its offset in the text
    NoCodePage932Form, // token: the character; at: its offset in the text
    TooManyLines,      // the list would pass kMaxSplitLines
    // The source and its reading.
    NoSource,          // no source size: the source could not be sized
    OpenFailed,
    ReadFailed,
    NoMemory,
    // Plan text lines; at: the line number.
    NotAnEntry,        // not two whole numbers
    NegativeStart,
    Backwards,         // end before start
    LineTooLong,       // more than kMaxPlanLineLength bytes
};

// The enumerator's name, for tests and diagnostics.
[[nodiscard]] constexpr std::string_view ReasonName(Reason reason)
{
    switch (reason) {
    case Reason::None: return "None";
    case Reason::Empty: return "Empty";
    case Reason::NotANumber: return "NotANumber";
    case Reason::NotASizeSuffix: return "NotASizeSuffix";
    case Reason::TooLarge: return "TooLarge";
    case Reason::Zero: return "Zero";
    case Reason::BeyondEnd: return "BeyondEnd";
    case Reason::StartAfterEnd: return "StartAfterEnd";
    case Reason::OddHexDigits: return "OddHexDigits";
    case Reason::NotAHexDigit: return "NotAHexDigit";
    case Reason::NoCodePage932Form: return "NoCodePage932Form";
    case Reason::TooManyLines: return "TooManyLines";
    case Reason::NoSource: return "NoSource";
    case Reason::OpenFailed: return "OpenFailed";
    case Reason::ReadFailed: return "ReadFailed";
    case Reason::NoMemory: return "NoMemory";
    case Reason::NotAnEntry: return "NotAnEntry";
    case Reason::NegativeStart: return "NegativeStart";
    case Reason::Backwards: return "Backwards";
    case Reason::LineTooLong: return "LineTooLong";
    }
    return "?";
}

struct Refusal {
    Reason reason = Reason::None;
    // The offending text (a token, a character, a plan line cut short), when
    // there is one.
    std::string token;
    // A byte offset into the refused text or a 1-based line number, as the
    // reason says; 0 when it says nothing.
    std::size_t at = 0;
    friend bool operator==(const Refusal&, const Refusal&) = default;
};

[[nodiscard]] inline Refusal Refuse(Reason reason, std::string_view token = {}, std::size_t at = 0)
{
    return {reason, std::string(token), at};
}

// A planner's answer: its value, or the one reason it refused. Read like an
// optional: test it, then take *result; error() holds the refusal.
template <typename T>
class Planned {
public:
    Planned(T value) : value_(std::in_place_index<0>, std::move(value)) {}
    Planned(Refusal refusal) : value_(std::in_place_index<1>, std::move(refusal)) {}

    [[nodiscard]] bool has_value() const { return value_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& operator*() { return std::get<0>(value_); }
    const T& operator*() const { return std::get<0>(value_); }
    T* operator->() { return &std::get<0>(value_); }
    const T* operator->() const { return &std::get<0>(value_); }

    // The refusal; Reason::None when there is a value.
    [[nodiscard]] Refusal error() const { return has_value() ? Refusal{} : std::get<1>(value_); }
    [[nodiscard]] Reason reason() const { return has_value() ? Reason::None : std::get<1>(value_).reason; }

private:
    std::variant<T, Refusal> value_;
};

}  // namespace tessera
