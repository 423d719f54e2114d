#include "Checksums.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include "Sha256.h"
#include "fileio/FileQuery.h"

namespace tessera {

// One thread's view of the files: the file read last stays open for the next
// range of it, and one block buffer serves every range.
class HashStreams::Reader {
public:
    explicit Reader(const HashStreams& owner) : owner_(owner), buffer_(new char[kHashBlock]) {}

    enum class Outcome { Whole, Stopped, Failed };

    // Reads range block by block and hands each block to feed; counted is
    // raised by every block. error: why the range could not be read whole (0
    // when it ended early).
    template <typename Feed>
    Outcome Read(const HashRange& range, Feed&& feed, std::atomic<std::int64_t>& counted, int& error)
    {
        error = 0;
        if (!Open(range.path, error))
            return Outcome::Failed;
        if (!file_->Seek(range.offset, 0)) {
            error = file_->LastError();
            return Outcome::Failed;
        }
        std::int64_t left = range.length;
        while (left != 0) {
            if (owner_.Stopping())
                return Outcome::Stopped;
            const auto want =
                static_cast<std::uint32_t>(left < 0 ? kHashBlock : std::min<std::int64_t>(left, kHashBlock));
            const std::uint32_t got = file_->Read(buffer_.get(), want);
            feed(buffer_.get(), got);
            counted.fetch_add(got);
            if (got < want) {
                error = file_->LastError();
                if (left < 0 && error == 0)
                    return Outcome::Whole;
                return Outcome::Failed;
            }
            if (left > 0)
                left -= got;
        }
        return Outcome::Whole;
    }

private:
    bool Open(const std::string& path, int& error)
    {
        if (file_ && file_->IsOpen() && path == path_)
            return true;
        path_ = path;
        const FileOpener& files = owner_.settings_.files ? *owner_.settings_.files : RealFiles();
        file_ = files.Open(path, NFilePSDK::Form::Reading);
        if (!file_->IsOpen()) {
            error = file_->LastError();
            file_.reset();
            return false;
        }
        if (owner_.settings_.regularOnly) {
            const std::uint32_t type = file_->FileType();
            if (type != S_IFREG) {
                error = type == 0 ? file_->LastError() : type == S_IFDIR ? EISDIR : kNotRegularFile;
                file_.reset();
                return false;
            }
        }
        // Another reader of the same bytes (the copy) wants them cached too.
        file_->SetCacheUse(NFile::CacheUse::Cached);
        return true;
    }

    const HashStreams& owner_;
    std::unique_ptr<char[]> buffer_;
    std::unique_ptr<NFile> file_;
    std::string path_;
};

HashStreams::HashStreams(std::vector<HashRange> ranges, HashSettings settings, const std::atomic<bool>& abort)
    : ranges_(std::move(ranges)), settings_(std::move(settings)), abort_(abort), pieces_(ranges_.size())
{
    order_.resize(ranges_.size());
    for (std::size_t i = 0; i < order_.size(); ++i)
        order_[i] = i;
}

HashStreams::~HashStreams()
{
    Stop();
    for (std::thread& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
}

void HashStreams::Start()
{
    if (!Sha256::Load().empty()) {
        // Without libcrypto no stream can begin; the first range fails.
        Fault(0, ELIBACC, false);
        return;
    }
    const bool split = settings_.threads >= 2 && settings_.pieces;
    std::vector<void (HashStreams::*)()> workers;
    if (split && settings_.whole) {
        workers = {&HashStreams::PieceWorker, &HashStreams::WholeWorker};
    } else if (split) {
        // Two threads on the pieces: the largest first, so that neither is
        // left with a large file alone at the end.
        std::vector<std::int64_t> sizes(ranges_.size());
        for (std::size_t i = 0; i < ranges_.size(); ++i)
            sizes[i] = ranges_[i].length >= 0 ? ranges_[i].length : SizeAt(ranges_[i].path);
        std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
        workers = {&HashStreams::PieceWorker, &HashStreams::PieceWorker};
    } else {
        workers = {&HashStreams::BothWorker};
    }
    {
        std::lock_guard lock(mutex_);
        running_ = workers.size();
    }
    for (auto worker : workers) {
        threads_.emplace_back([this, worker] {
            (this->*worker)();
            std::lock_guard lock(mutex_);
            --running_;
            ended_.notify_all();
        });
    }
}

void HashStreams::Stop()
{
    stop_.store(true);
}

void HashStreams::Wait(const std::function<void()>& tick)
{
    {
        std::unique_lock lock(mutex_);
        while (running_ > 0) {
            ended_.wait_for(lock, std::chrono::milliseconds(100));
            if (tick && running_ > 0) {
                lock.unlock();
                tick();
                lock.lock();
            }
        }
    }
    for (std::thread& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
    threads_.clear();
}

void HashStreams::Run(const std::function<void()>& tick)
{
    Start();
    Wait(tick);
}

HashFault HashStreams::FirstFault() const
{
    std::lock_guard lock(mutex_);
    return fault_;
}

std::int64_t HashStreams::Done() const
{
    const bool apart = settings_.threads >= 2 && settings_.pieces && settings_.whole;
    return apart ? std::min(pieceBytes_.load(), wholeBytes_.load()) : pieceBytes_.load();
}

bool HashStreams::Complete() const
{
    if (failed_.load() || stop_.load() || abort_.load())
        return false;
    if (settings_.pieces && piecesDone_.load() != ranges_.size())
        return false;
    std::lock_guard lock(mutex_);
    return !settings_.whole || wholeComplete_;
}

void HashStreams::Fault(std::size_t index, int error, bool mismatch)
{
    std::lock_guard lock(mutex_);
    if (index < fault_.index)
        fault_ = {index, error, mismatch};
    failed_.store(true);
    stop_.store(true);
}

void HashStreams::Finished(std::size_t index, RangeDigest digest)
{
    if (!digest.digest.empty() && index < settings_.expected.size() && digest.digest != settings_.expected[index])
        digest.mismatch = true;
    const bool fault = digest.digest.empty() || digest.mismatch;
    pieces_[index] = std::move(digest);
    piecesDone_.fetch_add(1);
    if (fault && settings_.stopAtFault)
        Fault(index, pieces_[index].error, pieces_[index].mismatch);
}

void HashStreams::PieceWorker()
{
    Reader reader(*this);
    Sha256 piece;
    for (;;) {
        const std::size_t taken = next_.fetch_add(1);
        if (taken >= order_.size() || Stopping())
            return;
        const std::size_t index = order_[taken];
        RangeDigest digest;
        const auto outcome = reader.Read(
            ranges_[index], [&](const char* data, std::size_t size) { piece.Update(data, size); }, pieceBytes_,
            digest.error);
        const std::string text = piece.Finish();
        if (outcome == Reader::Outcome::Stopped)
            return;
        if (outcome == Reader::Outcome::Whole)
            digest.digest = text;
        Finished(index, std::move(digest));
    }
}

void HashStreams::WholeWorker()
{
    Reader reader(*this);
    Sha256 whole;
    for (std::size_t index = 0; index < ranges_.size(); ++index) {
        int error = 0;
        const auto outcome = reader.Read(
            ranges_[index], [&](const char* data, std::size_t size) { whole.Update(data, size); }, wholeBytes_, error);
        if (outcome == Reader::Outcome::Stopped)
            return;
        if (outcome == Reader::Outcome::Failed) {
            // The piece thread gives that range its error; a whole digest
            // without every range is none.
            if (settings_.stopAtFault)
                Fault(index, error, false);
            return;
        }
    }
    std::string text = whole.Finish();
    std::lock_guard lock(mutex_);
    whole_ = std::move(text);
    wholeComplete_ = true;
}

void HashStreams::BothWorker()
{
    Reader reader(*this);
    Sha256 piece;
    Sha256 whole;
    bool wantWhole = settings_.whole;
    for (std::size_t index = 0; index < ranges_.size(); ++index) {
        if (!settings_.pieces && !wantWhole)
            return;
        RangeDigest digest;
        const auto outcome = reader.Read(
            ranges_[index],
            [&](const char* data, std::size_t size) {
                if (settings_.pieces)
                    piece.Update(data, size);
                if (wantWhole)
                    whole.Update(data, size);
            },
            pieceBytes_, digest.error);
        const std::string text = piece.Finish();
        if (outcome == Reader::Outcome::Stopped)
            return;
        if (outcome == Reader::Outcome::Whole)
            digest.digest = text;
        else
            wantWhole = false;
        if (settings_.pieces) {
            Finished(index, std::move(digest));
        } else if (outcome == Reader::Outcome::Failed && settings_.stopAtFault) {
            Fault(index, digest.error, false);
            pieces_[index] = std::move(digest);
        }
        if (Failed())
            return;
    }
    if (wantWhole) {
        std::string text = whole.Finish();
        std::lock_guard lock(mutex_);
        whole_ = std::move(text);
        wholeComplete_ = true;
    }
}

ListedDigests HashListedFiles(const std::vector<std::string>& paths, std::size_t skip, bool joined, int threads,
                              const std::atomic<bool>& abort, const std::function<void(std::int64_t)>& progress)
{
    std::vector<HashRange> ranges;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i != skip) {
            ranges.push_back({paths[i], 0, -1});
            index.push_back(i);
        }
    }
    HashSettings settings;
    settings.whole = joined;
    settings.threads = threads;
    settings.stopAtFault = false;
    settings.regularOnly = true;
    HashStreams streams(std::move(ranges), std::move(settings), abort);
    streams.Start();
    streams.Wait([&] {
        if (progress)
            progress(streams.Done());
    });
    ListedDigests listed;
    listed.files.resize(paths.size());
    for (std::size_t i = 0; i < index.size(); ++i) {
        const RangeDigest& piece = streams.Pieces()[i];
        listed.files[index[i]] = {piece.digest, piece.digest.empty() && piece.error == 0 ? EIO : piece.error};
    }
    listed.joined = streams.Whole();
    return listed;
}

}  // namespace tessera
