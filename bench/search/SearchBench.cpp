// Speed of the pattern search and of the equal-split planner, as ratios to
// references measured in the same run:
//   - the search for a rare pattern against `cat file > /dev/null` and against
//     the plain forward double loop over the same windows;
//   - "aa" over a file of only "a"s: the list limit stops the read at once,
//     and the search stays linear in the data size;
//   - planning and formatting an equal split into 1,000,000 pieces.
//
// Usage: search_bench FOLDER [SIZE_MIB]
// The data files are made in FOLDER (three files of SIZE_MIB, 1024 by default)
// and removed at the end.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fileio/NFileStdio.h"
#include "plan/PatternSearch.h"
#include "plan/RangeBuilders.h"
#include "plan/SplitEntry.h"

namespace {

using namespace tessera;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& run)
{
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double MedianOf(int runs, const std::function<void()>& run)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(Seconds(run));
    return Median(times);
}

// Bytes read by this process so far (page cache included).
long long BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return -1;
}

struct Random {
    std::uint64_t state;
    std::uint64_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

// The filler of each kind of file, written in blocks; patterns are placed
// into it afterwards at a few hundred offsets.
void MakeFile(const std::string& path, std::int64_t size, const std::function<void(Bytes&, Random&)>& fill)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        std::perror(path.c_str());
        std::exit(2);
    }
    Random random{0x9E3779B97F4A7C15ull};
    Bytes block(16 << 20);
    for (std::int64_t done = 0; done < size;) {
        fill(block, random);
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), size - done));
        std::fwrite(block.data(), 1, n, out);
        done += static_cast<std::int64_t>(n);
    }
    std::fclose(out);
}

// Random bytes 0..254: 0xFF never occurs, so it can serve as a rare 1-byte
// pattern.
void FillRandom(Bytes& block, Random& random)
{
    for (std::size_t i = 0; i < block.size(); i += 8) {
        std::uint64_t r = random.Next();
        for (int k = 0; k < 8 && i + k < block.size(); ++k, r >>= 8)
            block[i + k] = static_cast<std::uint8_t>((r & 0xFF) % 255);
    }
}

// English-like words, spaces, punctuation and line breaks; no "z" or "q".
void FillText(Bytes& block, Random& random)
{
    static const char* const words[] = {
        "the",   "of",     "and",   "a",      "to",     "in",     "is",     "you",   "that",   "it",
        "he",    "was",    "for",   "on",     "are",    "as",     "with",   "his",   "they",   "at",
        "be",    "this",   "have",  "from",   "or",     "one",    "had",    "by",    "word",   "but",
        "not",   "what",   "all",   "were",   "we",     "when",   "your",   "can",   "said",   "there",
        "use",   "an",     "each",  "which",  "she",    "do",     "how",    "their", "if",     "will",
        "up",    "other",  "about", "out",    "many",   "then",   "them",   "these", "so",     "some",
        "her",   "would",  "make",  "like",   "him",    "into",   "time",   "has",   "look",   "two",
        "more",  "write",  "go",    "see",    "number", "no",     "way",    "could", "people", "my",
        "than",  "first",  "water", "been",   "call",   "who",    "oil",    "its",   "now",    "find",
        "long",  "down",   "day",   "did",    "get",    "come",   "made",   "may",   "part",   "over",
        "seven", "sixteen", "harbour", "master", "counted", "morning", "tide", "came", "before", "Station",
    };
    constexpr std::size_t kWords = sizeof(words) / sizeof(words[0]);
    std::size_t i = 0;
    while (i < block.size()) {
        const std::uint64_t r = random.Next();
        const char* w = words[r % kWords];
        while (*w && i < block.size())
            block[i++] = static_cast<std::uint8_t>(*w++);
        if (i < block.size())
            block[i++] = (r >> 32) % 13 == 0 ? '\n' : ((r >> 40) % 17 == 0 ? ',' : ' ');
    }
}

void FillA(Bytes& block, Random&)
{
    std::fill(block.begin(), block.end(), 'a');
}

void Place(const std::string& path, std::int64_t size, const Bytes& pattern, int count, std::uint64_t seed)
{
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    Random random{seed};
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<long>(random.Next() % static_cast<std::uint64_t>(size - 4096));
        std::fseek(f, at, SEEK_SET);
        std::fwrite(pattern.data(), 1, pattern.size(), f);
    }
    std::fclose(f);
}

// The plain forward scan of the same windows the search reads, through the
// same file class: the double loop is the only difference.
std::size_t PlainWindows(const std::string& path, std::int64_t size, const Bytes& pattern)
{
    NFileStdio file(path, "rbS");
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kSearchWindow]);
    std::size_t found = 0;
    std::int64_t last = -1;
    const std::size_t m = pattern.size();
    for (std::int64_t pos = 0;; pos += static_cast<std::int64_t>(kSearchStride)) {
        const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(kSearchWindow, size - pos));
        file.Seek(pos, 0);
        if (file.Read(buffer.get(), want) != want)
            return found;
        const std::uint8_t* d = buffer.get();
        for (std::size_t p = 0; p + m <= want; ++p) {
            std::size_t k = 0;
            while (k < m && d[p + k] == pattern[k])
                ++k;
            if (k == m && pos + static_cast<std::int64_t>(p) > last) {
                last = pos + static_cast<std::int64_t>(p);
                ++found;
            }
        }
        if (size - pos == want)
            return found;
    }
}

// Counts every occurrence over the windows of the file without keeping
// them, so a search with a hit at every byte can run to the end.
std::size_t CountWindows(const std::string& path, std::int64_t size, const Bytes& pattern)
{
    NFileStdio file(path, "rbS");
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kSearchWindow]);
    std::size_t found = 0;
    std::int64_t last = -1;
    for (std::int64_t pos = 0;; pos += static_cast<std::int64_t>(kSearchStride)) {
        const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(kSearchWindow, size - pos));
        file.Seek(pos, 0);
        if (file.Read(buffer.get(), want) != want)
            return found;
        FindAll({buffer.get(), want}, pattern, [&](std::size_t p) {
            if (pos + static_cast<std::int64_t>(p) > last) {
                last = pos + static_cast<std::int64_t>(p);
                ++found;
            }
            return true;
        });
        if (size - pos == want)
            return found;
    }
}

double CatSeconds(const std::string& path)
{
    const std::string command = "cat '" + path + "' > /dev/null";
    return MedianOf(5, [&] {
        if (std::system(command.c_str()) != 0)
            std::exit(2);
    });
}

std::string HexOf(const Bytes& b, std::size_t max = 8)
{
    std::string s;
    char two[3];
    for (std::size_t i = 0; i < b.size() && i < max; ++i) {
        std::snprintf(two, sizeof two, "%02x", b[i]);
        s += two;
    }
    if (b.size() > max)
        s += "..";
    return s;
}

bool SearchRows(const char* kind, const std::string& path, std::int64_t size, const std::vector<Bytes>& patterns)
{
    const double cat = CatSeconds(path);
    std::printf("\n%s data, %lld MiB: cat %.3f s (%.2f GB/s)\n", kind, static_cast<long long>(size >> 20), cat,
                static_cast<double>(size) / cat / 1e9);
    std::printf("  %-6s %-20s %9s %9s %9s %9s %11s %11s\n", "length", "pattern", "found", "search s", "plain s",
                "GB/s", "search/cat", "plain/search");
    bool ok = true;
    for (const Bytes& pattern : patterns) {
        SearchOutcome outcome;
        const double search = MedianOf(3, [&] { outcome = SearchFile(path, size, pattern, kMaxSplitLines); });
        std::size_t plainFound = 0;
        const double plain = MedianOf(1, [&] { plainFound = PlainWindows(path, size, pattern); });
        const bool same = outcome.status == Reason::None && outcome.offsets.size() == plainFound;
        const double vsCat = search / cat;
        const double vsPlain = plain / search;
        std::printf("  %-6zu %-20s %9zu %9.3f %9.3f %9.2f %10.2fx %10.1fx%s%s%s\n", pattern.size(),
                    HexOf(pattern).c_str(), outcome.offsets.size(), search, plain,
                    static_cast<double>(size) / search / 1e9, vsCat, vsPlain, vsCat <= 1.5 ? "" : "  [> 1.5x cat]",
                    vsPlain >= 3.0 ? "" : "  [< 3x plain]", same ? "" : "  [COUNTS DIFFER]");
        ok = ok && same;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [SIZE_MIB]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::int64_t size = (argc > 2 ? std::atoll(argv[2]) : 1024) << 20;
    const std::string randomPath = folder + "/random.bin";
    const std::string textPath = folder + "/text.txt";
    const std::string aPath = folder + "/a.txt";

    std::printf("making %lld MiB files in %s ...\n", static_cast<long long>(size >> 20), folder.c_str());
    std::fflush(stdout);
    MakeFile(randomPath, size, FillRandom);
    MakeFile(textPath, size, FillText);
    MakeFile(aPath, size, FillA);

    // Rare patterns, placed 200 times each (random data: 0xFF never occurs
    // otherwise; text: "z" never occurs otherwise).
    std::vector<Bytes> randomPatterns;
    Random r{12345};
    for (const std::size_t length : {1, 2, 4, 16, 64}) {
        Bytes p(length);
        for (auto& b : p)
            b = static_cast<std::uint8_t>(r.Next() % 255);
        p[length / 2] = 0xFF;
        randomPatterns.push_back(p);
        Place(randomPath, size, p, 200, length);
    }
    const std::string sentence = "the harbour master counted seventeen zebras before the morning tide came in, slowly";
    const std::size_t z = sentence.find('z');
    std::vector<Bytes> textPatterns;
    for (const std::size_t length : {1, 2, 4, 16, 64}) {
        const std::size_t from = z - std::min(z, length / 2);
        const std::string piece = sentence.substr(from, length);
        textPatterns.emplace_back(piece.begin(), piece.end());
        Place(textPath, size, textPatterns.back(), 200, 100 + length);
    }
    // Warm the page cache.
    CatSeconds(randomPath);
    CatSeconds(textPath);
    CatSeconds(aPath);

    bool ok = SearchRows("random", randomPath, size, randomPatterns);
    ok = SearchRows("text-like", textPath, size, textPatterns) && ok;

    // "aa" over only "a"s through the whole tool: the list limit must stop the
    // read within the first window.
    std::printf("\nonly \"a\", %lld MiB:\n", static_cast<long long>(size >> 20));
    const Bytes aa{'a', 'a'};
    bool refused = false;
    std::size_t planned = 0;
    const long long readBefore = BytesRead();
    const double bounded = Seconds([&] {
        const Planned<std::vector<SplitEntry>> plan = PlanSearch(aPath, size, aa, kMaxSplitLines);
        refused = plan.reason() == Reason::TooManyLines;
        planned = plan ? plan->size() : 0;
    });
    const long long readBytes = BytesRead() - readBefore;
    // /proc/self/io counts its own reading too: a little slack.
    const bool stopped = refused && readBytes <= static_cast<long long>(kSearchWindow) + 65536;
    std::printf("  PlanSearch \"aa\" with a limit of %zu lines: %.3f s, %lld bytes read (one window: %zu), %zu "
                "entries%s\n",
                kMaxSplitLines, bounded, readBytes, kSearchWindow, planned, stopped ? "" : "  [DID NOT STOP]");
    ok = ok && stopped;

    // Linear in the data size: every occurrence counted (none kept) over a
    // quarter of the file and over all of it.
    for (const Bytes& pattern : {aa, Bytes(1024, 'a')}) {
        std::size_t quarterFound = 0;
        std::size_t wholeFound = 0;
        const double quarter = MedianOf(3, [&] { quarterFound = CountWindows(aPath, size / 4, pattern); });
        const double whole = MedianOf(3, [&] { wholeFound = CountWindows(aPath, size, pattern); });
        const bool right = wholeFound == static_cast<std::size_t>(size) - pattern.size() + 1 &&
                           quarterFound == static_cast<std::size_t>(size / 4) - pattern.size() + 1;
        std::printf("  %zu \"a\"s, every occurrence counted: %lld MiB %.3f s (%.2f GB/s), %lld MiB %.3f s "
                    "(%.2f GB/s), time ratio %.2f for 4x the data%s\n",
                    pattern.size(), static_cast<long long>((size / 4) >> 20), quarter,
                    static_cast<double>(size / 4) / quarter / 1e9, static_cast<long long>(size >> 20), whole,
                    static_cast<double>(size) / whole / 1e9, whole / quarter, right ? "" : "  [WRONG COUNT]");
        ok = ok && right;
    }

    // An equal split into a million pieces, lines formatted.
    std::size_t chars = 0;
    const double equal = MedianOf(5, [&] {
        const std::vector<SplitEntry> entries = *PlanEqualSplit(1'000'000'000'000, 1'000'000, kMaxSplitLines);
        std::vector<std::string> lines;
        lines.reserve(entries.size());
        for (const SplitEntry& e : entries)
            lines.push_back(FormatEntry(e));
        chars = lines.size();
    });
    std::printf("\nPlanEqualSplit + FormatEntry of %zu pieces: %.3f s\n", chars, equal);

    std::remove(randomPath.c_str());
    std::remove(textPath.c_str());
    std::remove(aPath.c_str());
    return ok ? 0 : 1;
}
