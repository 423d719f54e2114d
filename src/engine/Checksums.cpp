#include "Checksums.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include "engine/kernels/Sha256.h"
#include "engine/kernels/Sha256Pair.h"
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
        return ReadInto(range, [this] { return buffer_.get(); }, feed, counted, error);
    }

    // Read, each block into the buffer acquire gives (nullptr: stop).
    template <typename Acquire, typename Feed>
    Outcome ReadInto(const HashRange& range, Acquire&& acquire, Feed&& feed, std::atomic<std::int64_t>& counted,
                     int& error)
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
            char* const block = acquire();
            if (block == nullptr)
                return Outcome::Stopped;
            const std::uint32_t got = file_->Read(block, want);
            feed(block, got);
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
        // What its name shows to be no regular file is not even opened (a
        // socket cannot be, a device need not be).
        if (owner_.settings_.regularOnly) {
            const FileStatus named = files.Status(path, Links::Follow);
            if (named.Found() && named.type != S_IFREG) {
                error = named.type == S_IFDIR ? EISDIR : kNotRegularFile;
                return false;
            }
        }
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

namespace {

// Blocks handed in order from a thread that reads to one that hashes, so that
// the hashing thread spends its time on nothing else.
class BlockRing {
public:
    struct Block {
        const char* data = nullptr;
        std::size_t size = 0;
        std::size_t index = 0;
        bool end = false;    // no data: range index ended
        bool whole = false;  // with end: it was read whole
        int error = 0;       // with end: why not
    };

    BlockRing()
    {
        for (Slot& slot : slots_)
            slot.buffer.reset(new char[kHashBlock]);
    }

    // Reading side: the buffer of the next block, once one is free; nullptr
    // when the hashing side has gone.
    char* Acquire()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ < kSlots || gone_; });
        return gone_ ? nullptr : slots_[(first_ + count_) % kSlots].buffer.get();
    }
    // Hands over the buffer last acquired.
    void Publish(Block block)
    {
        std::lock_guard lock(mutex_);
        Slot& slot = slots_[(first_ + count_) % kSlots];
        block.data = block.end ? nullptr : slot.buffer.get();
        slot.block = block;
        ++count_;
        changed_.notify_all();
    }
    // No more blocks will come.
    void Finish()
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }

    // Hashing side: the next block; false when there is none and none will come.
    bool Take(Block& block)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ > 0 || finished_; });
        if (count_ == 0)
            return false;
        block = slots_[first_].block;
        return true;
    }
    // Gives back the block last taken.
    void Release()
    {
        std::lock_guard lock(mutex_);
        first_ = (first_ + 1) % kSlots;
        --count_;
        changed_.notify_all();
    }
    // The hashing side takes no more.
    void Leave()
    {
        std::lock_guard lock(mutex_);
        gone_ = true;
        changed_.notify_all();
    }

private:
    static constexpr std::size_t kSlots = 4;
    struct Slot {
        std::unique_ptr<char[]> buffer;
        Block block;
    };
    Slot slots_[kSlots];
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    bool finished_ = false;
    bool gone_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace

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
    if (split && settings_.whole && Sha256Pair::Available()) {
        // One thread takes the whole digest and the ranges from the front,
        // hashing each block for both on one core; the other takes ranges
        // from the back, reading them itself, until they meet.
        claimed_ = std::make_unique<std::atomic<bool>[]>(ranges_.size());
        before_.assign(ranges_.size() + 1, 0);
        for (std::size_t i = 0; i < ranges_.size(); ++i) {
            const std::int64_t length = ranges_[i].length >= 0 ? ranges_[i].length : SizeAt(ranges_[i].path);
            before_[i + 1] = before_[i] + std::max<std::int64_t>(length, 0);
        }
        backLowest_.store(ranges_.size());
        workers = {&HashStreams::FrontWorker, &HashStreams::BackWorker};
    } else if (split && settings_.whole) {
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

bool HashStreams::HashPiece(Reader& reader, Sha256& piece, std::size_t index, std::atomic<std::int64_t>* also)
{
    RangeDigest digest;
    const auto outcome = reader.Read(
        ranges_[index],
        [&](const char* data, std::size_t size) {
            piece.Update(data, size);
            if (also != nullptr)
                also->fetch_add(static_cast<std::int64_t>(size));
        },
        pieceBytes_, digest.error);
    const std::string text = piece.Finish();
    if (outcome == Reader::Outcome::Stopped)
        return false;
    if (outcome == Reader::Outcome::Whole)
        digest.digest = text;
    Finished(index, std::move(digest));
    return true;
}

void HashStreams::PieceWorker()
{
    Reader reader(*this);
    Sha256 piece;
    for (;;) {
        const std::size_t taken = next_.fetch_add(1);
        if (taken >= order_.size() || Stopping() || !HashPiece(reader, piece, order_[taken], nullptr))
            return;
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

void HashStreams::FrontWorker()
{
    // The ranges are read on a thread of their own, so that this one, which
    // bounds the whole job, only hashes.
    BlockRing ring;
    std::thread reading([&] {
        Reader reader(*this);
        for (std::size_t index = 0; index < ranges_.size(); ++index) {
            int error = 0;
            const auto outcome = reader.ReadInto(
                ranges_[index], [&] { return Stopping() ? nullptr : ring.Acquire(); },
                [&](const char*, std::size_t size) { ring.Publish({nullptr, size, index}); }, wholeBytes_, error);
            if (outcome == Reader::Outcome::Stopped || ring.Acquire() == nullptr)
                break;
            ring.Publish({nullptr, 0, index, true, outcome == Reader::Outcome::Whole, error});
        }
        ring.Finish();
    });

    Sha256Pair pair;  // first: the range's digest; second: the whole one
    bool wantWhole = true;
    bool mine = false;
    std::size_t current = SIZE_MAX;
    std::size_t ended = 0;
    std::int64_t hashed = 0;  // for the whole digest
    std::int64_t taken = 0;   // of the ranges this thread took
    BlockRing::Block block;
    while (ring.Take(block)) {
        if (block.index != current) {
            current = block.index;
            mine = (!wantWhole || FrontTakes(current, hashed, taken)) && Claim(current);
            if (mine)
                taken += before_[current + 1] - before_[current];
        }
        hashed += static_cast<std::int64_t>(block.size);
        if (!block.end) {
            if (!mine) {
                pair.UpdateSecond(block.data, block.size);
            } else {
                if (wantWhole)
                    pair.Update(block.data, block.size);
                else
                    pair.UpdateFirst(block.data, block.size);
                pieceBytes_.fetch_add(static_cast<std::int64_t>(block.size));
            }
            ring.Release();
            continue;
        }
        ring.Release();
        ++ended;
        if (!block.whole) {
            // A whole digest without every range is none.
            wantWhole = false;
            if (!mine && settings_.stopAtFault)
                Fault(current, block.error, false);
        }
        if (mine) {
            RangeDigest digest;
            digest.error = block.error;
            const std::string text = pair.FinishFirst();
            if (block.whole)
                digest.digest = text;
            Finished(current, std::move(digest));
        }
        if (Failed() || Stopping())
            break;
    }
    ring.Leave();
    reading.join();
    if (wantWhole && ended == ranges_.size() && !Stopping()) {
        std::string text = pair.FinishSecond();
        std::lock_guard lock(mutex_);
        whole_ = std::move(text);
        wholeComplete_ = true;
    }
}

// Whether the front thread, about to hash range index for the whole digest,
// should take the range's own digest too: when the back thread, at the pace
// both kept so far, would still be hashing the ranges nobody took after the
// front has gone through the rest. The front thread bounds the job, so it
// takes ranges only where the two are about to meet. hashed: the bytes the
// front hashed so far; taken: those of the ranges it took.
bool HashStreams::FrontTakes(std::size_t index, std::int64_t hashed, std::int64_t taken) const
{
    const std::int64_t back = backBytes_.load();
    const std::size_t lowest = backLowest_.load();
    if (back == 0 || hashed == 0 || lowest <= index)
        return false;
    // Every range below the back's lowest that the front did not take.
    const std::int64_t open = before_[lowest] - taken;
    const std::int64_t rest = before_.back() - before_[index];
    // open / (back / t) > rest / (hashed / t)
    return static_cast<double>(open) * static_cast<double>(hashed) >
           static_cast<double>(rest) * static_cast<double>(back);
}

void HashStreams::BackWorker()
{
    // This thread only helps: the front one bounds the job, and on two cores
    // it should not have to share its own with this one.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, self, std::min(nice + 10, 19));
    Reader reader(*this);
    Sha256 piece;
    for (std::size_t index = ranges_.size(); index-- > 0;) {
        if (Stopping())
            return;
        if (!Claim(index))
            continue;  // the front thread's
        backLowest_.store(index);
        if (!HashPiece(reader, piece, index, &backBytes_))
            return;
    }
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

}  // namespace tessera
