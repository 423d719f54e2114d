#pragma once

#include <string>

namespace tessera {

// A folder held open by its descriptor, so that names inside it can be
// resolved beneath it: every step of such a name stays in the folder and
// never passes through a symbolic link (FileSystem's ...Beneath calls). The
// folder's own path is taken as given, links and all.
class Folder {
public:
    Folder() = default;
    // Opens the folder at path; when that fails, the object is closed and
    // Error() says why.
    explicit Folder(const std::string& path);
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
    [[nodiscard]] int Error() const { return error_; }
    [[nodiscard]] int Descriptor() const { return fd_; }
    [[nodiscard]] const std::string& Path() const { return path_; }
    // A name beneath it as a path, for messages and for matching: "<path>/<name>".
    [[nodiscard]] std::string PathOf(const std::string& name) const;

private:
    int fd_ = -1;
    int error_ = 0;
    std::string path_;
};

}  // namespace tessera
