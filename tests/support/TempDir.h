#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tessera::test {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // path() / name as a native string.
    std::string file(std::string_view name) const;

private:
    std::filesystem::path path_;
};

// Writes bytes to path, replacing what is there.
void WriteFile(const std::string& path, std::string_view bytes);
// The whole contents of path; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// A file of size bytes whose byte i is (i * 131 + i / 251) & 0xff: no short
// period, so a misplaced block shows.
void WritePatternFile(const std::string& path, std::int64_t size);
std::string PatternBytes(std::int64_t offset, std::int64_t length);
// Binds a Unix socket at path, which then names a socket (no one listens).
bool MakeSocket(const std::string& path);

}  // namespace tessera::test
