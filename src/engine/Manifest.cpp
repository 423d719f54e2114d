#include "Manifest.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "fileio/NFilePSDK.h"
#include "plan/NameOrder.h"
#include "plan/SplitEntry.h"

namespace tessera {

namespace {

constexpr std::size_t kDigestLength = 64;

// The manifest is read in blocks of this size.
constexpr std::uint32_t kReadBlock = 64 * 1024;

bool NeedsEscape(std::string_view name)
{
    return name.find_first_of("\\\n\r") != std::string_view::npos;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Undoes ShownName's escapes; false for an escape it never writes.
bool Unescape(std::string_view text, std::string& name)
{
    name.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\': name += '\\'; break;
        case 'n': name += '\n'; break;
        case 'r': name += '\r'; break;
        default: return false;
        }
    }
    return true;
}

}  // namespace

std::string ShownName(std::string_view name)
{
    if (!NeedsEscape(name))
        return std::string(name);
    std::string shown = "\\";
    for (const char c : name) {
        switch (c) {
        case '\\': shown += "\\\\"; break;
        case '\n': shown += "\\n"; break;
        case '\r': shown += "\\r"; break;
        default: shown += c;
        }
    }
    return shown;
}

std::string FormatManifestLine(const ManifestLine& line)
{
    const std::string shown = ShownName(line.name);
    if (shown.size() == line.name.size())
        return line.digest + "  " + line.name + "\n";
    return "\\" + line.digest + "  " + shown.substr(1) + "\n";
}

std::string ManifestText(const std::vector<ManifestLine>& parts, const std::string& source,
                         const std::string& sourceDigest)
{
    std::string text;
    for (const ManifestLine& line : parts)
        text += FormatManifestLine(line);
    if (!sourceDigest.empty())
        text += FormatManifestLine({sourceDigest, NameOf(source)});
    return text;
}

// --- Reading ----------------------------------------------------------------------

void ManifestReader::Refuse(ManifestFault fault)
{
    fault_ = fault;
    faultLine_ = number_;
    lines_.clear();
    partial_.clear();
    partial_.shrink_to_fit();
}

void ManifestReader::Feed(std::string_view text)
{
    while (fault_ == ManifestFault::None && !text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view piece = text.substr(0, end);
        if (partial_.size() + piece.size() > kMaxManifestLine) {
            ++number_;
            Refuse(ManifestFault::LineTooLong);
            return;
        }
        if (end == std::string_view::npos) {
            partial_.append(piece);
            return;
        }
        text.remove_prefix(end + 1);
        ++number_;
        if (partial_.empty()) {
            Line(piece);
        } else {
            partial_.append(piece);
            Line(partial_);
            partial_.clear();
        }
    }
}

void ManifestReader::Finish()
{
    if (fault_ != ManifestFault::None || partial_.empty())
        return;
    ++number_;
    const std::string last = std::move(partial_);
    partial_.clear();
    Line(last);
}

void ManifestReader::Line(std::string_view text)
{
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (text.empty() || text.front() == '#')
        return;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    const bool escaped = !text.empty() && text.front() == '\\';
    if (escaped)
        text.remove_prefix(1);
    ManifestLine line;
    std::string_view digest;
    std::string_view name;
    if (text.starts_with("SHA256")) {
        // "SHA256 (name) = digest", as sha256sum --tag writes it; the name
        // ends at the last ')', since a name may hold ") = " itself.
        text.remove_prefix(6);
        if (text.starts_with(' '))
            text.remove_prefix(1);
        const std::size_t close = text.rfind(')');
        if (!text.starts_with('(') || close == std::string_view::npos) {
            Refuse(ManifestFault::NotAChecksumLine);
            return;
        }
        name = text.substr(1, close - 1);
        digest = text.substr(close + 1);
        while (!digest.empty() && (digest.front() == ' ' || digest.front() == '\t'))
            digest.remove_prefix(1);
        const bool equals = digest.starts_with('=');
        digest.remove_prefix(equals ? 1 : 0);
        while (!digest.empty() && (digest.front() == ' ' || digest.front() == '\t'))
            digest.remove_prefix(1);
        while (!digest.empty() && (digest.back() == ' ' || digest.back() == '\t'))
            digest.remove_suffix(1);
        if (!equals || digest.size() != kDigestLength) {
            Refuse(ManifestFault::NotAChecksumLine);
            return;
        }
    } else {
        // The digest, a space, then a space (text mode) or '*' (binary mode),
        // then the name.
        if (text.size() < kDigestLength + 2 || text[kDigestLength] != ' ' ||
            (text[kDigestLength + 1] != ' ' && text[kDigestLength + 1] != '*')) {
            Refuse(ManifestFault::NotAChecksumLine);
            return;
        }
        digest = text.substr(0, kDigestLength);
        name = text.substr(kDigestLength + 2);
    }
    if (name.empty() || !std::all_of(digest.begin(), digest.end(), IsHexDigit)) {
        Refuse(ManifestFault::NotAChecksumLine);
        return;
    }
    line.digest.assign(digest);
    for (char& c : line.digest) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (escaped) {
        if (!Unescape(name, line.name)) {
            Refuse(ManifestFault::NotAChecksumLine);
            return;
        }
    } else {
        line.name.assign(name);
    }
    // No path holds a NUL byte. Nor is one as long as PATH_MAX, and only
    // below it does every name read write back within kMaxManifestLine.
    if (line.name.find('\0') != std::string::npos) {
        Refuse(ManifestFault::NotAChecksumLine);
        return;
    }
    if (line.name.size() >= PATH_MAX) {
        Refuse(ManifestFault::NameTooLong);
        return;
    }
    if (sink_)
        sink_(std::move(line));
    else
        lines_.push_back(std::move(line));
}

ManifestRead ReadManifestFile(const std::string& path, const FileSystem& files)
{
    return StreamManifestFile(path, {}, files);
}

ManifestRead StreamManifestFile(const std::string& path, const std::function<void(ManifestLine&&)>& sink,
                                const FileSystem& files)
{
    ManifestRead read;
    // A pipe or a device has no end that a size could promise: refused before
    // a byte of it is read.
    std::unique_ptr<NFile> opened;
    read.admission = AdmitFile(path, files, &opened);
    switch (read.admission.refusal) {
    case Admission::Refusal::None: break;
    case Admission::Refusal::NotFound:
    case Admission::Refusal::Open: read.fault = ManifestFault::Open; break;
    case Admission::Refusal::NotRegular: read.fault = ManifestFault::NotRegular; break;
    case Admission::Refusal::LongerThanSize: read.fault = ManifestFault::LongerThanSize; break;
    case Admission::Refusal::Read: read.fault = ManifestFault::Read; break;
    }
    if (read.fault != ManifestFault::None) {
        read.error = read.admission.Errno();
        return read;
    }
    NFile& file = *opened;
    file.SetCacheUse(NFile::CacheUse::Cached);
    ManifestReader reader;
    if (sink)
        reader.SendLinesTo(sink);
    std::string block(kReadBlock, '\0');
    for (;;) {
        const std::uint32_t n = file.Read(block.data(), kReadBlock);
        reader.Feed(std::string_view(block.data(), n));
        if (reader.Fault() != ManifestFault::None)
            break;
        if (n < kReadBlock) {
            if (file.LastError() != 0) {
                read.fault = ManifestFault::Read;
                read.error = file.LastError();
                return read;
            }
            reader.Finish();
            break;
        }
    }
    read.fault = reader.Fault();
    read.line = reader.FaultLine();
    read.lines = reader.TakeLines();
    return read;
}

// --- Paths ----------------------------------------------------------------------

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ManifestPath(const std::string& source, const std::string& partFolder)
{
    const std::string folder = partFolder.empty() ? FolderOf(source) : partFolder;
    const std::string name = NameOf(source) + ".sha256";
    if (partFolder.empty() && source.find('/') == std::string::npos)
        return name;
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

std::string ManifestBesidePart(const std::string& part)
{
    const std::size_t digits = SeriesNumber(part).size();
    if (digits == 0 || NameOf(part).size() <= digits + 1)
        return {};
    return part.substr(0, part.size() - digits - 1) + ".sha256";
}

std::string ResolveFromManifest(const std::string& manifest, const std::string& name)
{
    if (name.starts_with('/') || manifest.find('/') == std::string::npos)
        return name;
    const std::string folder = FolderOf(manifest);
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// --- Matching ---------------------------------------------------------------------

std::size_t SourceLine(const std::string& manifestPath, const std::vector<ManifestLine>& lines)
{
    std::string name = NameOf(manifestPath);
    if (!name.ends_with(".sha256"))
        return std::string::npos;
    name.resize(name.size() - 7);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].name == name)
            return i;
    }
    return std::string::npos;
}

bool CoversInOrder(const std::vector<SplitEntry>& plan, std::int64_t size)
{
    std::int64_t next = 0;
    for (const SplitEntry& entry : plan) {
        if (entry.start != next || entry.end < entry.start)
            return false;
        next = entry.end;
    }
    return next == size;
}

JoinMatch MatchJoinInputs(const std::vector<ManifestLine>& lines, std::size_t source,
                          const std::vector<std::string>& inputs)
{
    JoinMatch match;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string name = NameOf(inputs[i]);
        const auto found = std::find_if(lines.begin(), lines.end(),
                                        [&](const ManifestLine& line) { return NameOf(line.name) == name; });
        if (found == lines.end() || static_cast<std::size_t>(found - lines.begin()) == source) {
            match = {};
            match.fault = JoinMatchFault::NotListed;
            match.input = i;
            return match;
        }
        match.digests.push_back(found->digest);
    }
    if (source == std::string::npos)
        return match;
    // The output is checked against the source's digest: the inputs must be
    // the parts, every one of them, in order.
    std::size_t input = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == source)
            continue;
        if (input == inputs.size() || NameOf(lines[i].name) != NameOf(inputs[input])) {
            match = {};
            match.fault = JoinMatchFault::NotInOrder;
            return match;
        }
        ++input;
    }
    if (input != inputs.size()) {
        match = {};
        match.fault = JoinMatchFault::NotInOrder;
        return match;
    }
    match.whole = lines[source].digest;
    return match;
}

}  // namespace tessera
