// The fast search against the plain forward double loop: FindAll over the
// payload, and SearchFile over it as a file read in windows scaled down to a
// few bytes, so that occurrences meet window borders all the time.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "plan/PatternSearch.h"
#include "support/PlainScan.h"

using namespace tessera;
using fuzz::Check;

namespace {

// The file the search reads: an in-memory file opened again by its
// /proc/self/fd path, made once per process.
const std::string& FilePath(int& fd)
{
    static int file = memfd_create("tessera-search-fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(file);
    if (file < 0)
        fuzz::Fail("memfd_create");
    fd = file;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::size_t stride = 1 + in.Take(1) % 64;
    const std::size_t window = stride + in.Take(1) % 24;
    const std::size_t maxOffsets = in.Take(1) % 4 == 0 ? in.Take(1) : SIZE_MAX;
    // The pattern is either the next bytes of the input or a piece of the
    // payload, so that it occurs.
    const std::size_t length = 1 + in.Take(1) % 40;
    const bool fromPayload = in.Take(1) % 2 == 0;
    const std::size_t at = in.Take(2);
    std::vector<std::uint8_t> pattern;
    if (!fromPayload) {
        for (std::size_t i = 0; i < length; ++i)
            pattern.push_back(static_cast<std::uint8_t>(in.Take(1)));
    }
    const std::uint8_t* payload = in.data();
    const std::size_t n = in.size();
    if (fromPayload) {
        if (n == 0)
            return 0;
        const std::size_t start = at % n;
        pattern.assign(payload + start, payload + std::min(n, start + length));
    }

    // FindAll over the whole payload, on every kernel the machine can run.
    const std::vector<std::size_t> plain = test::PlainScan({payload, n}, pattern);
    std::vector<std::size_t> fast;
    for (const SearchKernel kernel : SupportedSearchKernels()) {
        fast.clear();
        FindAll({payload, n}, pattern, [&](std::size_t p) {
            fast.push_back(p);
            return true;
        }, kernel);
        Check(fast == plain, "FindAll differs from the plain scan");
    }

    // A stop asked for is honoured at once.
    if (fast.size() >= 2) {
        std::size_t calls = 0;
        FindAll({payload, n}, pattern, [&](std::size_t) { return ++calls < 2; });
        Check(calls == 2, "FindAll went on after being stopped");
    }

    // SearchFile over the same bytes in small windows.
    int fd = -1;
    const std::string& path = FilePath(fd);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, payload, n, 0) != static_cast<ssize_t>(n))
        fuzz::Fail("writing the file");
    std::set<std::int64_t> expected;
    for (std::size_t pos = 0; n > 0; pos += stride) {
        const std::size_t part = std::min(window, n - pos);
        for (const std::size_t p : test::PlainScan({payload + pos, part}, pattern))
            expected.insert(static_cast<std::int64_t>(pos + p));
        if (pos + part == n)
            break;
    }
    const SearchOutcome outcome = SearchFile(path, static_cast<std::int64_t>(n), pattern, maxOffsets, window, stride);
    if (expected.size() > maxOffsets) {
        Check(outcome.status == Reason::TooManyLines, "more offsets than allowed, yet not TooMany");
        return 0;
    }
    Check(outcome.status == Reason::None, "search did not end");
    Check(outcome.offsets == std::vector<std::int64_t>(expected.begin(), expected.end()),
          "SearchFile differs from the plain scan of the same windows");
    return 0;
}
