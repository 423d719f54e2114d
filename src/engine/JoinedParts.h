#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fileio/FileSystem.h"

namespace tessera {

// One part file and the bytes of it that count.
struct JoinedPart {
    std::string path;
    std::int64_t length = 0;
};

// The parts of a split read back one after another as if they were one
// file: what the source of a stream would have been. Reading only; each part
// is opened when it is first read, through the file system given.
class JoinedPartsFile final : public NFile {
public:
    JoinedPartsFile(std::vector<JoinedPart> parts, const FileSystem& files);

    bool IsOpen() const override { return open_; }
    void Close() override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::uint32_t Write(const void*, std::uint32_t) override;
    bool Seek(std::int64_t offset, int origin) override;
    void SetBufferSize(std::uint32_t) override {}
    std::int64_t GetSize() override { return total_; }
    bool Flush() override { return true; }
    int LastError() const override { return error_; }
    std::uint32_t FileType() override;
    tessera::FileStatus Status() const override;
    std::int64_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override;

private:
    // The part that holds offset (parts_.size() past the end).
    std::size_t PartAt(std::uint64_t offset) const;
    NFile* Opened(std::size_t index) const;

    std::vector<JoinedPart> parts_;
    std::vector<std::int64_t> starts_;
    const FileSystem& files_;
    mutable std::vector<std::unique_ptr<NFile>> opened_;
    std::int64_t total_ = 0;
    std::int64_t position_ = 0;
    mutable int error_ = 0;
    bool open_ = true;
};

// A file system in which one name, joined, reads as the parts joined
// (JoinedPartsFile); every other call goes to the file system beneath.
class JoinedPartsFiles final : public FileSystem {
public:
    JoinedPartsFiles(std::string joined, std::vector<JoinedPart> parts, const FileSystem& beneath = RealFiles())
        : joined_(std::move(joined)), parts_(std::move(parts)), beneath_(beneath)
    {
    }

    [[nodiscard]] std::unique_ptr<NFile> Open(const std::string& path, NFilePSDK::Form form) const override;
    [[nodiscard]] FileStatus Status(const std::string& path, Links links) const override;
    [[nodiscard]] int Rename(const std::string& from, const std::string& to, bool replace) const override
    {
        return beneath_.Rename(from, to, replace);
    }
    int Remove(const std::string& path) const override { return beneath_.Remove(path); }
    [[nodiscard]] int List(const std::string& folder, std::vector<std::string>& names) const override
    {
        return beneath_.List(folder, names);
    }

private:
    std::string joined_;
    std::vector<JoinedPart> parts_;
    const FileSystem& beneath_;
};

}  // namespace tessera
