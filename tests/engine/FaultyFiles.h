#pragma once

#include <cerrno>
#include <memory>
#include <string>

#include "fileio/FileOpener.h"

namespace tessera::test {

// Real files, except that the file opened at `path` fails the `nth` of its
// block reads, writes or flushes with `error`, and every one after it. A
// block read is one of more than one byte: the one-byte looks past a file's
// size that a job makes are not counted. Such a file never copies inside the
// kernel, so every block passes through its Read and Write.
class FaultyFiles : public FileOpener {
public:
    enum class Call { Read, Write, Flush };

    FaultyFiles(std::string path, Call call, int nth, int error = EIO)
        : path_(std::move(path)), call_(call), nth_(nth), error_(error)
    {
    }

    [[nodiscard]] std::unique_ptr<NFile> Open(const std::string& path, NFilePSDK::Form form) const override
    {
        std::unique_ptr<NFile> real = RealFiles().Open(path, form);
        if (path != path_)
            return real;
        return std::make_unique<File>(std::move(real), *this);
    }

private:
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
        void SetCacheUse(CacheUse use) override { real_->SetCacheUse(use); }
        void WatchAbort(const std::atomic<bool>* abort) override { real_->WatchAbort(abort); }

    private:
        bool Fails(Call call)
        {
            if (call != plan_.call_)
                return false;
            failed_ = failed_ || ++calls_ >= plan_.nth_;
            return failed_;
        }

        std::unique_ptr<NFile> real_;
        const FaultyFiles& plan_;
        int calls_ = 0;
        bool failed_ = false;
    };

    std::string path_;
    Call call_;
    int nth_;
    int error_;
};

}  // namespace tessera::test
