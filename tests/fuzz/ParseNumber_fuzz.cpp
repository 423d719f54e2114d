// The number parser against a model written from its rules, digit by digit;
// and the range tools fed the numbers it makes.
#include <limits>

#include "FuzzInput.h"
#include "plan/RangeBuilders.h"
#include "plan/ParseNumber.h"
#include "plan/SplitEntry.h"

using namespace tessera;
using fuzz::Check;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

std::int64_t Model(std::string_view t)
{
    if (t.substr(0, 2) == "0x") {
        t.remove_prefix(2);
        if (t.size() > 16)
            return -1;
        std::uint64_t v = 0;
        for (const char c : t) {
            if (fuzz::ModelHexValue(c) < 0)
                return -1;
            v = v * 16 + static_cast<std::uint64_t>(fuzz::ModelHexValue(c));
        }
        return static_cast<std::int64_t>(v);
    }
    if (t.empty())
        return -1;
    std::int64_t v = 0;
    for (const char c : t) {
        if (c < '0' || c > '9')
            return -1;
        const int d = c - '0';
        v = v > (kMax - d) / 10 ? kMax : v * 10 + d;
    }
    return v;
}

void CheckCover(const std::vector<SplitEntry>& entries, std::int64_t size)
{
    std::int64_t at = 0;
    for (const SplitEntry& e : entries) {
        Check(e.start == at, "pieces not contiguous");
        Check(e.start <= e.end && e.end <= size, "piece outside the file");
        at = e.end;
    }
    Check(entries.empty() || at == size, "pieces do not reach the end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    // Three texts separated by NUL bytes: source size, and two field numbers.
    const std::string_view all = in.rest();
    std::string_view parts[3];
    std::size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t cut = i < 2 ? all.find('\0', from) : std::string_view::npos;
        parts[i] = all.substr(std::min(from, all.size()), cut == std::string_view::npos ? std::string_view::npos : cut - from);
        from = cut == std::string_view::npos ? all.size() : cut + 1;
    }
    std::int64_t n[3];
    for (int i = 0; i < 3; ++i) {
        n[i] = ParseNumber(parts[i]);
        const std::int64_t expected = Model(parts[i]);
        Check(n[i] == expected, "ParseNumber differs from the model");
    }
    // The whole input as one text too, NUL bytes and all.
    Check(ParseNumber(all) == Model(all), "ParseNumber differs from the model on the whole input");

    // A small room keeps the planned lists short whatever the numbers.
    const std::int64_t fileSize = n[0];
    if (auto e = PlanExtract(fileSize, n[1], n[2])) {
        Check(e->start == n[1] && e->end - e->start == n[2] && e->end <= fileSize, "extract");
    } else {
        Check(fileSize < 0 || n[1] < 0 || n[2] < 0 || n[1] > fileSize || n[2] > fileSize - n[1], "extract refused");
    }
    if (auto e = PlanRange(fileSize, n[1], n[2])) {
        Check(e->start == n[1] && e->end == n[2] && n[2] <= fileSize, "range");
    } else {
        Check(fileSize < 0 || n[1] < 0 || n[2] < 0 || n[1] > n[2] || n[2] > fileSize, "range refused");
    }
    constexpr std::size_t kRoom = 4096;
    const Planned<std::vector<SplitEntry>> fixedPlan = PlanFixedSize(fileSize, n[1], kRoom);
    const std::vector<SplitEntry> fixed = fixedPlan ? *fixedPlan : std::vector<SplitEntry>{};
    CheckCover(fixed, fileSize);
    Check(fixedPlan || fixed.empty(), "fixed size refused with entries");
    if (fixed.empty()) {
        Check(fileSize <= 0 || n[1] <= 0 || (fileSize - 1) / n[1] + 1 > static_cast<std::int64_t>(kRoom),
              "fixed size refused");
        // The reason follows the first rule broken.
        const Reason expected = fileSize < 0 ? Reason::NoSource
                                : n[1] < 0   ? Reason::NotANumber
                                : n[1] == 0  ? Reason::Zero
                                : fileSize == 0 ? Reason::None
                                                : Reason::TooManyLines;
        Check(fixedPlan.reason() == expected, "fixed size reason");
    } else {
        for (std::size_t k = 0; k + 1 < fixed.size(); ++k)
            Check(fixed[k].end - fixed[k].start == n[1], "fixed piece size");
    }
    const std::int32_t count = NarrowPieceCount(n[2]);
    Check(count == static_cast<std::int32_t>(static_cast<std::uint32_t>(n[2])), "narrowing");
    const Planned<std::vector<SplitEntry>> equalPlan = PlanEqualSplit(fileSize, count, kRoom);
    const std::vector<SplitEntry> equal = equalPlan ? *equalPlan : std::vector<SplitEntry>{};
    Check(!equalPlan == (equalPlan.reason() != Reason::None), "a reason without a refusal");
    CheckCover(equal, fileSize);
    if (fileSize >= 0 && count > 0 && static_cast<std::size_t>(count) <= kRoom)
        Check(equal.size() == static_cast<std::size_t>(count), "equal split count");
    else
        Check(equal.empty(), "equal split refused");
    for (const SplitEntry& e : equal) {
        SplitEntry back;
        Check(ReadEntry(FormatEntry(e), back) && back == e, "entry line round trip");
    }
    return 0;
}
