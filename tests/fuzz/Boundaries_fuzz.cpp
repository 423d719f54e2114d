// The boundary tool against a model: tokens cut by the stream's own white
// space rule (the same six characters in the C locale), all or nothing.
#include <algorithm>
#include <set>
#include <sstream>

#include "FuzzInput.h"
#include "plan/Boundaries.h"
#include "plan/ParseNumber.h"
#include "plan/Tokens.h"

using namespace tessera;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    // Sizes around the offsets a short text can name, sometimes none at all.
    const std::uint64_t raw = in.Take(2);
    const std::int64_t fileSize = raw == 0xFFFF ? -1 : static_cast<std::int64_t>(raw * 7);
    const std::size_t room = static_cast<std::size_t>(in.Take(1)) * 2;
    const std::string_view text = in.rest();

    std::istringstream tokens{std::string(text)};
    tokens.imbue(std::locale::classic());
    std::set<std::int64_t> cuts;
    bool refused = fileSize < 0;
    bool anyToken = false;
    for (std::string token; tokens >> token;) {
        anyToken = true;
        const std::int64_t v = ParseNumber(token);
        if (v < 0 || v > fileSize)
            refused = true;
        cuts.insert(v);
    }
    cuts.insert(0);
    cuts.insert(fileSize);
    if (!refused && anyToken && cuts.size() - 1 > room)
        refused = true;

    const auto plan = PlanBoundaries(text, fileSize, room);
    if (refused) {
        Check(!plan.has_value(), "accepted a text the model refuses");
        const Refusal why = plan.error();
        if (fileSize < 0) {
            Check(why.reason == Reason::NoSource, "no source, another reason");
        } else if (why.reason == Reason::NotANumber || why.reason == Reason::BeyondEnd) {
            // The token named is the text's own, where it stands.
            Check(why.at < text.size() && text.substr(why.at, why.token.size()) == why.token &&
                      (why.at + why.token.size() == text.size() || IsAsciiSpace(text[why.at + why.token.size()])),
                  "the refused token is not where it is said to be");
            const std::int64_t v = ParseNumber(why.token);
            Check(why.reason == Reason::NotANumber ? v < 0 : v > fileSize, "the token does not fit the reason");
        } else {
            Check(why.reason == Reason::TooManyLines, "an unexpected reason");
        }
        return 0;
    }
    Check(plan.has_value(), "refused a text the model accepts");
    if (!anyToken) {
        Check(plan->empty(), "entries from a text without tokens");
        return 0;
    }
    const std::vector<std::int64_t> sorted(cuts.begin(), cuts.end());
    Check(plan->size() == sorted.size() - 1, "entry count");
    for (std::size_t i = 0; i < plan->size(); ++i)
        Check((*plan)[i] == SplitEntry{sorted[i], sorted[i + 1]}, "entry");
    Check(BoundariesToEntries(std::vector<std::int64_t>(sorted.rbegin(), sorted.rend()), fileSize) == *plan,
          "conversion of the same cuts in another order");
    return 0;
}
