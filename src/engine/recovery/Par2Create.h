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
#include "engine/recovery/Par2Columns.h"
#include "engine/recovery/Par2Layout.h"
#include "engine/recovery/Par2PartHashes.h"
#include "fileio/FileOpener.h"
#include "fileio/StagedFile.h"

// Making a recovery set for the parts of a split, from the source's ranges
// that the parts are copied from, while the copy goes on: the files a repair
// tool needs to rebuild lost or damaged parts ("<base>.par2", which describes
// the parts, and "<base>.volFFF+CC.par2" volumes holding CC recovery slices
// from exponent FFF on).
//
// Three threads read the source. Two hash the parts (Par2PartHashes.h):
// where the processor has 512-bit vectors, up to sixteen parts at once in
// vector lanes, one thread taking their MD5s and the other their slices'
// MD5s and CRC-32s; elsewhere each takes parts in turn, with both MD5s
// interleaved on one core. The third computes the recovery slices column by
// column (Par2Columns.h) and writes each finished column to its volume at
// once. The packets that describe the parts are written at Commit.
namespace tessera {

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
    void Hasher();
    void Multiplier();
    [[nodiscard]] std::unique_ptr<NFile> OpenSource() const;
    // Writes column bytes of recovery slice j into its volume; 0 or the errno.
    int WriteColumn(std::uint32_t j, std::uint64_t at, const std::uint8_t* bytes, std::size_t size);
    // The packets every file of the set holds: the main packet, each part's
    // description and slice checksums, and the creator.
    std::string DescribingPackets() const;
    // Records a stage that did not run through (Failed only).
    void Ended(const Par2StageEnd& end, const std::string& path);
    void Fault(const std::string& path, int error, bool writing = false);
    bool Stopping() const { return stop_.load() || abort_.load() || failed_.load(); }

    Par2Layout layout_;
    std::string creator_;
    const std::atomic<bool>& abort_;
    std::vector<std::string> names_;
    std::vector<std::unique_ptr<ReservedFile>> reserved_;

    std::string source_;
    const FileOpener* files_ = nullptr;
    std::vector<Par2Part> parts_;  // in the set's order
    Md5Digest setId_{};
    std::vector<Md5> recoveryMd5_;  // of each recovery packet's body
    // Where each recovery slice's bytes go: its volume (an index into
    // names_) and their offset there.
    std::vector<std::size_t> volumeOf_;
    std::vector<std::int64_t> dataAt_;
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
