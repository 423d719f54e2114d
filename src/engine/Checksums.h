#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Manifest.h"
#include "fileio/FileOpener.h"

// SHA-256 digests of byte ranges of files, taken on threads of their own while
// the caller does something else with the same bytes (a job copies them
// inside the kernel). Each stream reads the files itself, in blocks of
// kHashBlock from the page cache, and never holds more than one block.
namespace tessera {

class Sha256;

// Blocks the hashing threads read: large enough for few calls, small enough
// to stay in the processor's caches.
inline constexpr std::uint32_t kHashBlock = 1 << 20;

// The error given for a file that is a pipe, device or the like.
inline constexpr int kNotRegularFile = -1;

// length bytes of the file at path from offset; length < 0: to its end.
struct HashRange {
    std::string path;
    std::int64_t offset = 0;
    std::int64_t length = -1;
};

// What hashing one range gave: the digest, or why there is none (error is 0
// when the file ended before the range did).
struct RangeDigest {
    std::string digest;
    int error = 0;
    bool mismatch = false;  // the digest differs from the one expected of it
};

// The first range, in range order, that stopped the streams.
struct HashFault {
    std::size_t index = SIZE_MAX;
    int error = 0;          // why it could not be read (0: it ended early)
    bool mismatch = false;  // it was read, and its digest differs from the expected one
};

struct HashSettings {
    // A digest for every range, and one of all of them one after another.
    bool pieces = true;
    bool whole = false;
    // 1: every stream on one thread, each block read once; 2: two threads,
    // taking the ranges largest first, or, with the whole digest, one thread
    // for it that also takes ranges near the end, their blocks hashed for both
    // digests at once where the processor allows, and one taking ranges from
    // the back.
    int threads = 2;
    // The first range that cannot be read whole, or whose digest differs from
    // the expected one, stops every stream. Otherwise the pieces go on and
    // only the whole digest is given up.
    bool stopAtFault = true;
    // A range whose file is no regular file is not read (kNotRegularFile, or
    // EISDIR for a folder).
    bool regularOnly = false;
    // The digest each range must have, in order (empty: none checked).
    std::vector<std::string> expected;
    // Opens the files; nullptr: the real ones.
    const FileOpener* files = nullptr;
};

// The threads hashing a list of ranges. Start launches them; they watch
// `abort` and Stop before every block; the destructor stops and joins them.
class HashStreams {
public:
    HashStreams(std::vector<HashRange> ranges, HashSettings settings, const std::atomic<bool>& abort);
    ~HashStreams();
    HashStreams(const HashStreams&) = delete;
    HashStreams& operator=(const HashStreams&) = delete;

    void Start();
    // Asks every thread to stop before its next block.
    void Stop();
    // Waits for every thread; tick, when given, is called about every 100 ms
    // on the caller's thread meanwhile.
    void Wait(const std::function<void()>& tick = {});
    // Start and Wait.
    void Run(const std::function<void()>& tick = {});

    // With stopAtFault: true once a range failed; the first one that did, in
    // range order among those reached, in FirstFault.
    [[nodiscard]] bool Failed() const { return failed_.load(); }
    [[nodiscard]] HashFault FirstFault() const;
    // Bytes hashed so far by the stream furthest behind.
    [[nodiscard]] std::int64_t Done() const;
    // True when every stream ran to its end (neither stopped nor failed).
    [[nodiscard]] bool Complete() const;

    // After Wait: one entry per range (empty ones for ranges not reached),
    // and the whole digest (empty unless every range was read whole).
    [[nodiscard]] const std::vector<RangeDigest>& Pieces() const { return pieces_; }
    [[nodiscard]] const std::string& Whole() const { return whole_; }
    [[nodiscard]] const std::vector<HashRange>& Ranges() const { return ranges_; }

private:
    class Reader;
    // Hashes range index alone and gives it its digest, each block counted
    // in also too (when given); false when the streams were stopped.
    bool HashPiece(Reader& reader, Sha256& piece, std::size_t index, std::atomic<std::int64_t>* also);
    void PieceWorker();
    void WholeWorker();
    void BothWorker();
    void FrontWorker();
    void BackWorker();
    bool Claim(std::size_t index) { return !claimed_[index].exchange(true); }
    bool FrontTakes(std::size_t index, std::int64_t hashed, std::int64_t taken) const;
    bool Stopping() const { return stop_.load() || abort_.load(); }
    void Fault(std::size_t index, int error, bool mismatch);
    void Finished(std::size_t index, RangeDigest digest);

    std::vector<HashRange> ranges_;
    HashSettings settings_;
    const std::atomic<bool>& abort_;
    std::vector<std::size_t> order_;
    // For FrontWorker and BackWorker: the ranges a thread has taken, the
    // bytes before each range, the lowest range the back has taken and the
    // bytes it hashed.
    std::unique_ptr<std::atomic<bool>[]> claimed_;
    std::vector<std::int64_t> before_;
    std::atomic<std::size_t> backLowest_{SIZE_MAX};
    std::atomic<std::int64_t> backBytes_{0};  // the ranges in the order the piece threads take them
    std::atomic<std::size_t> next_{0};
    std::vector<RangeDigest> pieces_;
    std::string whole_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<std::int64_t> pieceBytes_{0};
    std::atomic<std::int64_t> wholeBytes_{0};
    std::atomic<std::size_t> piecesDone_{0};
    bool wholeComplete_ = false;

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::size_t running_ = 0;
    HashFault fault_;
    std::vector<std::thread> threads_;
};

// What a job hashes beside its copy, and the digests it leaves: set in
// JobSettings::checksums. A split hashes the parts' ranges of the source; a
// join the inputs, each whole.
struct JobChecksums {
    // Split: a digest of each part; with whole, one of the source too (the
    // plan must cover it in order).
    bool whole = false;
    // Join: the digest each input must have, in order; with expectedWhole,
    // only the inputs one after another are hashed and compared with it, and
    // the inputs' own digests are read again only when it differs, to name
    // the first input that does.
    std::vector<std::string> expected;
    std::string expectedWhole;
    // Opens the files the hashing reads; nullptr: the job's opener.
    const FileOpener* files = nullptr;
    // Split, after a finished job: each part's digest in plan order, and the
    // source's (empty without whole).
    std::vector<std::string> digests;
    std::string wholeDigest;
};

}  // namespace tessera
