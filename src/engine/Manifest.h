#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/Admission.h"
#include "plan/SplitEntry.h"

// Checksum files ("manifests") in the text format of GNU sha256sum, and the
// rules that tie one to a split's parts and a join's inputs. Everything here
// but ReadManifestFile is a pure function of its arguments.
namespace tessera {

// One line of a checksum file.
struct ManifestLine {
    std::string digest;  // 64 lowercase hex digits
    std::string name;    // as written: relative to the manifest's folder, or absolute
    friend bool operator==(const ManifestLine&, const ManifestLine&) = default;
};

// The longest line a checksum file may hold, its line feed not counted: the
// longer form of line (a backslash, "SHA256 (", a path of PATH_MAX bytes each
// escaped to two, ") = ", the digest) and a carriage return. No line this
// program or sha256sum writes comes near it.
inline constexpr std::size_t kMaxManifestLine = 1 + 8 + 2 * PATH_MAX + 4 + 64 + 1;

// A name as sha256sum writes it at the start of a line: unchanged, or, when it
// holds a backslash, a line feed or a carriage return, those written as "\\",
// "\n" and "\r" behind a leading backslash. Every other byte is kept.
[[nodiscard]] std::string ShownName(std::string_view name);

// "digest  name\n"; an escaped name puts its backslash before the digest, as
// sha256sum does.
[[nodiscard]] std::string FormatManifestLine(const ManifestLine& line);

// The manifest of a split: a line for each part, in the plan's order, then,
// when sourceDigest is not empty (the plan covers the source in order, see
// CoversInOrder), the source's own line under the last name of source.
[[nodiscard]] std::string ManifestText(const std::vector<ManifestLine>& parts, const std::string& source,
                                       const std::string& sourceDigest);

enum class ManifestFault {
    None,
    Open,              // the file could not be looked up or opened (error; admission)
    NotRegular,        // a folder, pipe or device (error: EISDIR for a folder, else 0; admission)
    LongerThanSize,    // it reads past the size it reports (admission)
    Read,              // a read failed (error)
    NotAChecksumLine,  // line: not "digest  name", "digest *name" or an escaped form of them
    LineTooLong,       // line: longer than kMaxManifestLine
    NameTooLong,       // line: a name of PATH_MAX bytes or more, which no file has
};

// Reads the text of a checksum file as it comes, in pieces of any size:
// "digest  name" or "digest *name" (binary mode), or "SHA256 (name) = digest"
// (sha256sum --tag); the digest in either case, the line optionally
// indented, names escaped as ShownName writes them. Blank lines,
// comment lines ('#') and a carriage return before the line feed are passed
// over, as sha256sum does. The first bad line stops the reading; nothing
// more than one line, and never more than kMaxManifestLine bytes of it, is
// held at a time.
class ManifestReader {
public:
    // Every line read goes to sink, as it is read, instead of being kept.
    void SendLinesTo(std::function<void(ManifestLine&&)> sink) { sink_ = std::move(sink); }

    void Feed(std::string_view text);
    // The end of the text: a last line without a line feed counts.
    void Finish();

    [[nodiscard]] ManifestFault Fault() const { return fault_; }
    // The 1-based number of the line refused; 0 when none was.
    [[nodiscard]] std::size_t FaultLine() const { return faultLine_; }
    // The lines read; none once a line was refused.
    [[nodiscard]] const std::vector<ManifestLine>& Lines() const { return lines_; }
    [[nodiscard]] std::vector<ManifestLine> TakeLines() { return std::move(lines_); }

private:
    void Line(std::string_view text);
    void Refuse(ManifestFault fault);

    std::vector<ManifestLine> lines_;
    std::function<void(ManifestLine&&)> sink_;
    std::string partial_;
    std::size_t number_ = 0;
    ManifestFault fault_ = ManifestFault::None;
    std::size_t faultLine_ = 0;
};

struct ManifestRead {
    std::vector<ManifestLine> lines;  // empty unless fault is None
    ManifestFault fault = ManifestFault::None;
    std::size_t line = 0;  // for the faults of a line
    int error = 0;         // errno for Open, Read and a folder
    // Open, NotRegular, LongerThanSize: why the file was not admitted.
    Admission admission;
};

// Reads the checksum file at path through the file layer, once admitted
// (AdmitFile): only a regular file is read (a pipe or a device is refused
// before any byte is read), and the reading stops at the first bad or
// over-long line.
[[nodiscard]] ManifestRead ReadManifestFile(const std::string& path, const FileSystem& files = RealFiles());

// ReadManifestFile that keeps no line: each goes to sink as it is read (the
// lines before a bad one included), and read.lines stays empty. Memory
// stays at one block and one line whatever the file's length.
[[nodiscard]] ManifestRead StreamManifestFile(const std::string& path,
                                              const std::function<void(ManifestLine&&)>& sink,
                                              const FileSystem& files = RealFiles());

// --- Paths ----------------------------------------------------------------------

// The folder part of path ("." when it has none) and the last name of it.
[[nodiscard]] std::string FolderOf(const std::string& path);
[[nodiscard]] std::string NameOf(const std::string& path);

// The manifest of a split: "<source name>.sha256" in the parts' folder (the
// source's when partFolder is empty).
[[nodiscard]] std::string ManifestPath(const std::string& source, const std::string& partFolder);

// The manifest a split of the parts' source would have written beside a
// part: "x.sha256" for the part "x.NNN". Empty when part has no series
// number.
[[nodiscard]] std::string ManifestBesidePart(const std::string& part);

// A name from a manifest, made a path from the manifest's folder unless it is
// absolute.
[[nodiscard]] std::string ResolveFromManifest(const std::string& manifest, const std::string& name);

// --- Matching ---------------------------------------------------------------------

// The index of the source line in the manifest at manifestPath: the line named
// as the manifest without its ".sha256" (a split writes it last). npos when
// the manifest has none.
[[nodiscard]] std::size_t SourceLine(const std::string& manifestPath, const std::vector<ManifestLine>& lines);

// True when the plan covers a source of size bytes from 0 to its end, in
// order and without overlap: only then are the parts, one after another, the
// source, and a split lists the source's own digest.
[[nodiscard]] bool CoversInOrder(const std::vector<SplitEntry>& plan, std::int64_t size);

enum class JoinMatchFault {
    None,
    NotListed,   // input: no part line bears its name
    NotInOrder,  // the inputs are not the manifest's parts, all of them in their order
};

struct JoinMatch {
    std::vector<std::string> digests;  // the digest each input must have, in input order
    std::string whole;                 // the source's digest; empty without a source line
    JoinMatchFault fault = JoinMatchFault::None;
    std::size_t input = 0;  // the input refused as NotListed
};

// Pairs each join input with the part line of its name (its last name; the
// first such line). With a source line (index source, npos for none), the
// inputs must be exactly the parts listed, in the manifest's order, since
// the output is then checked against the source's digest.
[[nodiscard]] JoinMatch MatchJoinInputs(const std::vector<ManifestLine>& lines, std::size_t source,
                                        const std::vector<std::string>& inputs);

// --- Verification -------------------------------------------------------------------

enum class LineVerdict {
    Ok,
    Failed,      // the digest differs
    Unreadable,  // the file could not be opened or read
    NotChecked,  // the source line, when a part failed: the parts joined cannot be the source
};


}  // namespace tessera
