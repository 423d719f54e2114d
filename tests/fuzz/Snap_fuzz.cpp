// The record-keeping planner, fed the payload in blocks of sizes the input
// chooses, against the rule applied by a plain scan of each part's bytes; and
// the promise a stream writer relies on: no part ends before what was said to
// be settled in it.
#include <algorithm>
#include <vector>

#include "FuzzInput.h"
#include "plan/SnapPlanner.h"
#include "support/PlainScan.h"

using namespace tessera;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const auto piece = static_cast<std::int64_t>(1 + in.Take(2) % 300);
    const std::size_t length = 1 + in.Take(1) % 8;
    std::vector<std::uint8_t> pattern;
    for (std::size_t i = 0; i < length; ++i)
        pattern.push_back(static_cast<std::uint8_t>(in.Take(1)));
    std::vector<std::size_t> blocks;
    for (int i = 0; i < 4; ++i)
        blocks.push_back(1 + in.Take(1) % 97);
    const std::vector<std::uint8_t> payload(in.data(), in.data() + in.size());
    const auto n = static_cast<std::int64_t>(payload.size());

    std::vector<std::int64_t> model;
    for (std::int64_t start = 0; start < n;) {
        std::int64_t end = n;
        if (n - start >= piece) {
            const std::vector<std::size_t> found = test::PlainScan(
                std::span(payload).subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(piece)), pattern);
            end = found.empty() ? start + piece : start + static_cast<std::int64_t>(found.back() + pattern.size());
        }
        model.push_back(end);
        start = end;
    }

    SnapPlanner planner(piece, pattern);
    std::vector<std::int64_t> ends;
    std::int64_t settled = 0;
    const auto decided = [&](std::size_t before) {
        if (ends.size() > before)
            Check(ends[before] >= settled, "a part ended before bytes settled in it");
        settled = planner.Settled();
        Check(settled >= planner.PartStart() && settled <= planner.Fed(), "settled outside the part fed");
    };
    std::size_t pos = 0;
    for (std::size_t k = 0; pos < payload.size(); ++k) {
        const std::size_t count = std::min(blocks[k % blocks.size()], payload.size() - pos);
        const std::size_t before = ends.size();
        planner.Feed(std::span(payload).subspan(pos, count), ends);
        decided(before);
        pos += count;
    }
    const std::size_t before = ends.size();
    planner.Finish(ends);
    decided(before);
    Check(ends == model, "the planner's parts differ from the rule's");
    return 0;
}
