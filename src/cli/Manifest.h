#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tessera::cli {

// SHA-256 through libcrypto, which uses the processor's SHA instructions.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything since the last Finish, in lowercase hex; the
    // object then starts over.
    [[nodiscard]] std::string Finish();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// One line of a checksum file as sha256sum writes and reads it.
struct ManifestLine {
    std::string digest;  // 64 lowercase hex digits
    std::string name;    // as written: relative to the manifest's folder, or absolute
    friend bool operator==(const ManifestLine&, const ManifestLine&) = default;
};

// "digest  name\n"; a name holding a backslash or a line feed is escaped as
// sha256sum escapes it ("\\" and "\n", with a backslash before the digest).
[[nodiscard]] std::string FormatManifestLine(const ManifestLine& line);

struct ManifestRead {
    std::vector<ManifestLine> lines;
    // Empty when every line read; otherwise "name:line: why" or why the file
    // could not be read.
    std::string error;
};

// Reads a checksum file in sha256sum's text format ("digest  name" or
// "digest *name", escaped names too). Blank lines are skipped.
[[nodiscard]] ManifestRead ReadManifest(const std::string& path);

// The manifest of a split: "<source name>.sha256" in the parts' folder.
[[nodiscard]] std::string ManifestPath(const std::string& source, const std::string& partFolder);

// The folder part of path ("." when it has none) and the last name of it.
[[nodiscard]] std::string FolderOf(const std::string& path);
[[nodiscard]] std::string NameOf(const std::string& path);

// A name from a manifest, made a path from the manifest's folder unless it is
// absolute.
[[nodiscard]] std::string ResolveFromManifest(const std::string& manifest, const std::string& name);

}  // namespace tessera::cli
