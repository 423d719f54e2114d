// The plan text reader against a model that cuts lines and tokens on its
// own, whatever the sizes of the pieces the text comes in.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "plan/PlanText.h"

using namespace tessera;
using fuzz::Check;

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The integer a stream reads from the whole token, if any.
bool Integer(std::string_view token, std::int64_t& value)
{
    bool negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        negative = token[0] == '-';
        token.remove_prefix(1);
    }
    if (token.empty())
        return false;
    unsigned __int128 magnitude = 0;
    for (const char c : token) {
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
        if (magnitude > (static_cast<unsigned __int128>(1) << 64))
            return false;
    }
    const unsigned __int128 limit = (static_cast<unsigned __int128>(1) << 63) - (negative ? 0 : 1);
    if (magnitude > limit)
        return false;
    value = negative ? static_cast<std::int64_t>(-static_cast<__int128>(magnitude))
                     : static_cast<std::int64_t>(magnitude);
    return true;
}

struct Model {
    PlanFault fault = PlanFault::None;
    std::size_t line = 0;
    std::vector<SplitEntry> entries;
};

Model Read(std::string_view text, std::size_t listed, std::int64_t sourceSize)
{
    Model m;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const auto refuse = [&](PlanFault fault) {
            m = {fault, number, {}};
            return m;
        };
        if (line.size() > kMaxPlanLineLength + 1)
            return refuse(PlanFault::LineTooLong);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > kMaxPlanLineLength)
            return refuse(PlanFault::LineTooLong);
        std::vector<std::string_view> tokens;
        for (std::size_t i = 0; i < line.size();) {
            if (IsSpace(line[i])) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < line.size() && !IsSpace(line[j]))
                ++j;
            tokens.push_back(line.substr(i, j - i));
            i = j;
        }
        if (tokens.empty())
            continue;
        SplitEntry e;
        if (tokens.size() != 2 || !Integer(tokens[0], e.start) || !Integer(tokens[1], e.end))
            return refuse(PlanFault::NotAnEntry);
        if (e.start < 0)
            return refuse(PlanFault::NegativeStart);
        if (e.end < e.start)
            return refuse(PlanFault::Backwards);
        if (listed + m.entries.size() >= kMaxSplitLines)
            return refuse(PlanFault::TooManyLines);
        if (sourceSize >= 0 && e.end > sourceSize)
            return refuse(PlanFault::BeyondEnd);
        m.entries.push_back(e);
    }
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::size_t listed = kMaxSplitLines - static_cast<std::size_t>(in.Take(1)) * 4;
    const std::size_t piece = 1 + static_cast<std::size_t>(in.Take(1));
    // No source size (0xFF), or one a short line can pass.
    const std::uint64_t rawSize = in.Take(1);
    const std::int64_t sourceSize = rawSize == 0xFF ? -1 : static_cast<std::int64_t>(rawSize * 4);
    const std::string_view text = in.rest();

    const Model model = Read(text, listed, sourceSize);
    PlanTextReader whole(listed, sourceSize);
    whole.Feed(text);
    whole.Finish();
    PlanTextReader pieces(listed, sourceSize);
    bool stopped = false;
    for (std::size_t i = 0; i < text.size(); i += piece) {
        const bool fed = pieces.Feed(text.substr(i, piece));
        // Once refused, it stays refused: nothing more is read.
        Check(!stopped || !fed, "fed after a refusal");
        stopped = stopped || !fed;
    }
    pieces.Finish();
    for (const PlanTextReader* r : {&whole, &pieces}) {
        Check(r->Refused().reason == model.fault, "reason");
        Check(r->Fault() == (model.fault == PlanFault::LineTooLong ? PlanFault::NotAnEntry : model.fault), "fault");
        Check(r->Refused().at == model.line, "refusal line");
        Check(r->FaultLine() == model.line, "fault line");
        Check(r->Entries() == model.entries, "entries");
        Check(r->FaultText().size() <= kMaxPlanLineLength, "fault text beyond the limit");
    }
    Check(whole.FaultText() == pieces.FaultText(), "fault text depends on the pieces");
    return 0;
}
