#pragma once

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "fileio/FileSystem.h"

namespace tessera::test {

// Real files, except that one kind of access to `path` fails with `error`
// from its `nth` call on, every later one too:
// - Read, Write, Flush: the block reads, writes or flushes of the file
//   opened at path. A block read is one of more than one byte (the one-byte
//   looks past a file's size that a job makes are not counted); reads at an
//   offset count as block reads. Such a file never copies inside the
//   kernel, so every block passes through its Read and Write.
// - Open: opening path to read it (reading or peeking).
// - Create: opening path to write it (writing or creating).
// - Rename: renaming onto path, or path onto another name.
// - Remove: removing path.
// - List: listing the folder path.
// - Status: looking path up, through links or not.
// Calls beneath a folder count as calls on the folder's path and the name.
// A staged file of path (".<name>.tessera-XXXXXX" in its folder, as
// StagedFile makes them) counts as path itself, so a test can fail the
// temporary file of a job whose name it cannot know.
class FaultyFiles : public FileSystem {
public:
    enum class Call { Read, Write, Flush, Open, Create, Rename, Remove, List, Status };

    FaultyFiles(std::string path, Call call, int nth = 1, int error = EIO)
        : path_(std::move(path)), call_(call), nth_(nth), error_(error)
    {
        const auto slash = path_.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
        staged_ = folder + "." + (slash == std::string::npos ? path_ : path_.substr(slash + 1)) + ".tessera-";
    }

    // How many times the planted fault was met, and how many calls of its
    // kind were made on path.
    [[nodiscard]] int Failures() const { return failures_.load(); }
    [[nodiscard]] int Calls() const { return calls_.load(); }

    [[nodiscard]] std::unique_ptr<NFile> Open(const std::string& path, NFilePSDK::Form form) const override
    {
        if (Matches(path)) {
            const bool reading = form == NFilePSDK::Form::Reading || form == NFilePSDK::Form::Peeking ||
                                 form == NFilePSDK::Form::Stream;
            if (Fails(reading ? Call::Open : Call::Create))
                return std::make_unique<Closed>(error_);
        }
        std::unique_ptr<NFile> real = FileSystem::Open(path, form);
        if (!Matches(path) || (call_ != Call::Read && call_ != Call::Write && call_ != Call::Flush))
            return real;
        return std::make_unique<File>(std::move(real), *this);
    }

    [[nodiscard]] FileStatus Status(const std::string& path, Links links) const override
    {
        if (Matches(path) && Fails(Call::Status)) {
            FileStatus status;
            status.error = error_;
            return status;
        }
        return FileSystem::Status(path, links);
    }

    [[nodiscard]] int Rename(const std::string& from, const std::string& to, bool replace) const override
    {
        if ((Matches(from) || Matches(to)) && Fails(Call::Rename))
            return error_;
        return FileSystem::Rename(from, to, replace);
    }

    int Remove(const std::string& path) const override
    {
        if (Matches(path) && Fails(Call::Remove))
            return error_;
        return FileSystem::Remove(path);
    }

    [[nodiscard]] int List(const std::string& folder, std::vector<std::string>& names) const override
    {
        if (Matches(folder) && Fails(Call::List)) {
            names.clear();
            return error_;
        }
        return FileSystem::List(folder, names);
    }

    // Beneath a folder, a name counts as the folder's path and the name.
    [[nodiscard]] std::unique_ptr<NFile> OpenBeneath(const Folder& folder, const std::string& name,
                                                     NFilePSDK::Form form) const override
    {
        const std::string path = folder.PathOf(name);
        if (Matches(path)) {
            const bool reading = form == NFilePSDK::Form::Reading || form == NFilePSDK::Form::Peeking;
            if (Fails(reading ? Call::Open : Call::Create))
                return std::make_unique<Closed>(error_);
        }
        std::unique_ptr<NFile> real = FileSystem::OpenBeneath(folder, name, form);
        if (!Matches(path) || (call_ != Call::Read && call_ != Call::Write && call_ != Call::Flush))
            return real;
        return std::make_unique<File>(std::move(real), *this);
    }

    [[nodiscard]] FileStatus StatusBeneath(const Folder& folder, const std::string& name) const override
    {
        if (Matches(folder.PathOf(name)) && Fails(Call::Status)) {
            FileStatus status;
            status.error = error_;
            return status;
        }
        return FileSystem::StatusBeneath(folder, name);
    }

    [[nodiscard]] int RenameBeneath(const Folder& folder, const std::string& from, const std::string& to,
                                    bool replace) const override
    {
        if ((Matches(folder.PathOf(from)) || Matches(folder.PathOf(to))) && Fails(Call::Rename))
            return error_;
        return FileSystem::RenameBeneath(folder, from, to, replace);
    }

    int RemoveBeneath(const Folder& folder, const std::string& name) const override
    {
        if (Matches(folder.PathOf(name)) && Fails(Call::Remove))
            return error_;
        return FileSystem::RemoveBeneath(folder, name);
    }

private:
    bool Matches(const std::string& path) const { return path == path_ || path.starts_with(staged_); }

    // Counts a call of that kind; true when it is to fail.
    bool Fails(Call call) const
    {
        if (call != call_)
            return false;
        if (calls_.fetch_add(1) + 1 < nth_)
            return false;
        failures_.fetch_add(1);
        return true;
    }

    // A file that could not be opened.
    class Closed final : public NFile {
    public:
        explicit Closed(int error) : error_(error) {}
        bool IsOpen() const override { return false; }
        void Close() override {}
        std::uint32_t Read(void*, std::uint32_t) override { return 0; }
        std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
        bool Seek(std::int64_t, int) override { return false; }
        void SetBufferSize(std::uint32_t) override {}
        std::int64_t GetSize() override { return -1; }
        bool Flush() override { return false; }
        int LastError() const override { return error_; }

    private:
        int error_;
    };

    // A real file whose reads, writes or flushes fail as planted.
    class File final : public NFile {
    public:
        File(std::unique_ptr<NFile> real, const FaultyFiles& plan) : real_(std::move(real)), plan_(plan) {}

        bool IsOpen() const override { return real_->IsOpen(); }
        void Close() override { real_->Close(); }
        std::uint32_t Read(void* buffer, std::uint32_t count) override
        {
            if (count > 1 && Fails(Call::Read))
                return 0;
            return real_->Read(buffer, count);
        }
        std::uint32_t Write(const void* buffer, std::uint32_t count) override
        {
            if (Fails(Call::Write))
                return count / 2;  // a part of it made it, as on a full disk
            return real_->Write(buffer, count);
        }
        bool Seek(std::int64_t offset, int origin) override { return real_->Seek(offset, origin); }
        void SetBufferSize(std::uint32_t size) override { real_->SetBufferSize(size); }
        std::int64_t GetSize() override { return real_->GetSize(); }
        bool Flush() override { return !Fails(Call::Flush) && real_->Flush(); }
        int LastError() const override { return failed_ ? plan_.error_ : real_->LastError(); }
        std::uint32_t FileType() override { return real_->FileType(); }
        FileStatus Status() const override { return real_->Status(); }
        std::int64_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override
        {
            if (size > 1 && Fails(Call::Read)) {
                errno = plan_.error_;
                return -1;
            }
            return real_->ReadAt(buffer, size, offset);
        }
        void SetCacheUse(CacheUse use) override { real_->SetCacheUse(use); }
        void WatchAbort(const std::atomic<bool>* abort) override { real_->WatchAbort(abort); }

    private:
        bool Fails(Call call) const
        {
            if (call != plan_.call_)
                return false;
            failed_ = failed_ || plan_.Fails(call);
            return failed_;
        }

        std::unique_ptr<NFile> real_;
        const FaultyFiles& plan_;
        mutable std::atomic<bool> failed_{false};
    };

    std::string path_;
    std::string staged_;
    Call call_;
    int nth_;
    int error_;
    mutable std::atomic<int> calls_{0};
    mutable std::atomic<int> failures_{0};
};

}  // namespace tessera::test
