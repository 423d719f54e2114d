#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/kernels/Md5.h"
#include "engine/kernels/Md5Lanes.h"
#include "fileio/FileOpener.h"
#include "fileio/StagedFile.h"

// Making a recovery set for the parts of a split, from the source's ranges
// that the parts are copied from, while the copy goes on: the files a repair
// tool needs to rebuild lost or damaged parts ("<base>.par2", which describes
// the parts, and "<base>.volFFF+CC.par2" volumes holding CC recovery slices
// from exponent FFF on).
//
// Three threads read the source. Two hash the parts: where the processor has
// 512-bit vectors, up to sixteen parts at once in vector lanes, one thread
// taking their MD5s and the other their slices' MD5s and CRC-32s; elsewhere
// each takes parts in turn, with both MD5s interleaved on one core. The third
// sweeps the slices column by column: a
// column of every input slice is multiplied into that column of every
// recovery slice, so the recovery slices' columns stay in the processor's
// cache and only one column of them is ever held; finished columns are
// written to the volumes at once. Memory stays within kPar2ColumnMemory and a
// few megabytes more, whatever the source's size.
namespace tessera {

// The recovery slices' columns held at once, at most.
inline constexpr std::uint64_t kPar2ColumnMemory = 64ull << 20;
// About how many input slices a set is cut into: the work grows with the
// number of recovery slices, that is with this times the percentage.
inline constexpr std::uint64_t kPar2TargetSlices = 64;

// The shape of a recovery set, decided from the parts' sizes alone.
struct Par2Layout {
    std::uint64_t sliceSize = 0;       // a multiple of 64
    std::uint64_t inputSlices = 0;     // over all parts
    std::uint32_t recoverySlices = 0;  // exponents 0 .. recoverySlices - 1
    // Recovery slices per volume, in order: 1, 2, 4, ... and what is left.
    std::vector<std::uint32_t> volumes;
};

// The layout for parts of these lengths with percent (1 to 100) of their
// slices' count as recovery slices, rounded up. Parts of no bytes take no
// slices (a set holds no empty file); none at all: sliceSize 0.
[[nodiscard]] Par2Layout PlanPar2(const std::vector<std::int64_t>& lengths, unsigned percent);

// A recovery size as given: a whole number of percent from 1 to 100, with
// or without "%"; nothing otherwise.
[[nodiscard]] std::optional<unsigned> ParseRecoveryPercent(const std::string& text);

// The layout for a split's plan lines ("start end"; a line that does not
// read is left for the job to refuse).
[[nodiscard]] Par2Layout PlanPar2ForPlan(const std::vector<std::string>& planLines, unsigned percent);

// The files of a set at base: "<base>.par2", then each volume's.
[[nodiscard]] std::vector<std::string> Par2Names(const std::string& base, const Par2Layout& layout);

// A part of the set: its name in the set (beside the .par2 files) and the
// range of the source it holds.
struct Par2Piece {
    std::string name;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

class Par2Creation {
public:
    Par2Creation(Par2Layout layout, std::string creator, const std::atomic<bool>& abort);
    ~Par2Creation();
    Par2Creation(const Par2Creation&) = delete;
    Par2Creation& operator=(const Par2Creation&) = delete;

    [[nodiscard]] const Par2Layout& Layout() const { return layout_; }
    [[nodiscard]] const std::vector<std::string>& Names() const { return names_; }

    // Takes the set's names at base before anything is read (replace: files
    // there are replaced at Commit, never written through). 0, or the errno
    // with the name in FaultPath().
    [[nodiscard]] int Reserve(const std::string& base, bool replace);

    // Starts reading the parts' ranges of source (pieces in plan order, the
    // empty ones left out by the caller). False when it could not start
    // (FaultPath, FaultError).
    [[nodiscard]] bool Start(const std::string& source, std::vector<Par2Piece> pieces, const FileOpener& files);
    // Waits for both threads; true when they ran to the end.
    [[nodiscard]] bool Wait();
    // Asks the threads to stop before their next block.
    void Stop();

    // After Wait: writes the packets that describe the parts, into every
    // file, and puts the files in place (flushed first with sync). 0, or the
    // errno with the file in FaultPath(); nothing of the set is left then.
    [[nodiscard]] int Commit(bool sync);
    // Removes whatever was written (also done by the destructor unless
    // committed).
    void Discard();

    // A read or write that failed: the file and errno (0: a file ended early).
    [[nodiscard]] const std::string& FaultPath() const { return faultPath_; }
    [[nodiscard]] int FaultError() const { return faultError_; }
    // The fault was in writing the set, not in reading the source.
    [[nodiscard]] bool FaultInWriting() const { return faultWrite_; }
    [[nodiscard]] bool Failed() const { return failed_.load(); }

    // false: each part hashed on one core with both MD5s interleaved, as
    // where the processor has no vector lanes for them (for tests).
    void UseLanes(bool lanes) { lanes_ = lanes; }

private:
    struct File;
    struct Volume;
    void Hasher();
    // Hashes parts [first, first + count) (at most kMd5Lanes) in vector
    // lanes: their MD5s, or their slices' MD5s and CRC-32s. False when stopped.
    bool HashInLanes(std::size_t first, std::size_t count, bool slices, NFile& reader);
    // Hashes one part with both MD5s on one core. False when stopped.
    bool HashPart(File& file, NFile& reader, std::vector<std::uint8_t>& block);
    void Multiplier();
    void Fault(const std::string& path, int error, bool writing = false);
    bool Stopping() const { return stop_.load() || abort_.load() || failed_.load(); }

    Par2Layout layout_;
    std::string creator_;
    const std::atomic<bool>& abort_;
    std::vector<std::string> names_;
    std::vector<std::unique_ptr<ReservedFile>> reserved_;

    std::string source_;
    const FileOpener* files_ = nullptr;
    std::vector<File> parts_;  // in the set's order
    Md5Digest setId_{};
    std::vector<Md5> recoveryMd5_;  // of each recovery packet's body
    std::thread hashers_[2], multiplier_;
    std::atomic<std::size_t> nextPart_{0};
    bool lanes_ = true;
    std::atomic<int> hashersDone_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    bool multiplied_ = false;
    std::mutex mutex_;
    std::string faultPath_;
    int faultError_ = 0;
    bool faultWrite_ = false;
    bool committed_ = false;
};

}  // namespace tessera
