// The checksum file reader: the same lines and the same refusal whatever the
// sizes of the pieces the text comes in; every line read is well formed and
// reads back as written; an over-long line is refused only past the cap.
#include <algorithm>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "engine/Manifest.h"

using namespace tessera;
using fuzz::Check;

namespace {

// The longest line of text (its line feed not counted).
std::size_t LongestLine(std::string_view text)
{
    std::size_t longest = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        longest = std::max(longest, std::min(end, text.size()));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return longest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::size_t piece = 1 + static_cast<std::size_t>(in.Take(1));
    // The payload up to four times over, so that lines past the cap are met
    // within the fuzzer's length limit.
    const std::size_t copies = 1 + static_cast<std::size_t>(in.Take(1) % 4);
    std::string repeated;
    for (std::size_t i = 0; i < copies; ++i)
        repeated += in.rest();
    const std::string_view text = repeated;

    ManifestReader whole;
    whole.Feed(text);
    whole.Finish();
    ManifestReader pieces;
    for (std::size_t i = 0; i < text.size(); i += piece)
        pieces.Feed(text.substr(i, piece));
    pieces.Finish();

    Check(whole.Fault() == pieces.Fault(), "fault depends on the pieces");
    Check(whole.FaultLine() == pieces.FaultLine(), "fault line depends on the pieces");
    Check(whole.Lines() == pieces.Lines(), "lines depend on the pieces");

    const std::size_t lineFeeds = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    Check(whole.FaultLine() <= lineFeeds + 1, "fault line past the text");
    Check((whole.Fault() == ManifestFault::None) == (whole.FaultLine() == 0), "fault without a line");
    Check((whole.Fault() == ManifestFault::LineTooLong) == (LongestLine(text) > kMaxManifestLine &&
                                                            whole.Fault() != ManifestFault::NotAChecksumLine),
          "over-long line not refused as such");
    if (whole.Fault() != ManifestFault::None) {
        Check(whole.Lines().empty(), "lines kept after a refusal");
        return 0;
    }
    Check(whole.Lines().size() <= lineFeeds + 1, "more lines than the text holds");

    std::string written;
    for (const ManifestLine& line : whole.Lines()) {
        Check(line.digest.size() == 64 &&
                  line.digest.find_first_not_of("0123456789abcdef") == std::string::npos,
              "digest not 64 lowercase hex digits");
        Check(!line.name.empty() && line.name.find('\0') == std::string::npos, "name empty or holding NUL");
        const std::string shown = ShownName(line.name);
        Check(shown.find_first_of("\n\r") == std::string::npos, "a shown name breaks its line");
        written += FormatManifestLine(line);
    }
    ManifestReader again;
    again.Feed(written);
    again.Finish();
    Check(again.Fault() == ManifestFault::None, "a written manifest is refused");
    Check(again.Lines() == whole.Lines(), "a written manifest reads back otherwise");
    return 0;
}
