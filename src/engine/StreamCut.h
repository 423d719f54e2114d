#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fileio/NFile.h"

namespace tessera {

// How a stream is cut: parts of piece bytes, the last one shorter; with a
// snap pattern, each part ends just after the last occurrence of it within
// its piece bytes instead (SnapPlanner).
struct StreamCut {
    std::int64_t piece = 0;
    std::vector<std::uint8_t> snap;
};

// Where a stream's parts go, one after another: a file each, or a command
// each. Every call gives 0 or the errno of what failed.
class StreamParts {
public:
    virtual ~StreamParts() = default;
    // Part index (from 0) begins; its first bytes follow.
    [[nodiscard]] virtual int Begin(std::size_t index) = 0;
    [[nodiscard]] virtual int Write(const std::uint8_t* bytes, std::size_t size) = 0;
    // Moves up to count bytes of input straight into the part begun, inside
    // the kernel: the bytes moved, fewer when the input ended or failed or
    // was stopped (its LastError() says which) or the part failed (0 from
    // Fault() otherwise). -1 when the part cannot take bytes that way; they
    // then come through Write.
    [[nodiscard]] virtual std::int64_t Take(NFile& /*input*/, std::size_t /*count*/) { return -1; }
    // The errno of what failed in the part during the last Take, or 0.
    [[nodiscard]] virtual int Fault() const { return 0; }
    // The part begun last is whole.
    [[nodiscard]] virtual int End() = 0;
    // The stream stopped: whatever the part begun last left is taken away.
    virtual void Abandon() = 0;
};

// Bytes held between the stream and the part they go to: in memory up to a
// bound, beyond it in a file of their own, so that a part much longer than
// the memory a job may take can still wait for its end to be known.
class PendingBytes {
public:
    // spill makes the file the bytes past the bound go to (nullptr or a
    // closed file: the stream is refused with its LastError()).
    PendingBytes(std::size_t bound, std::function<std::unique_ptr<NFile>()> spill);

    [[nodiscard]] std::int64_t Size() const { return spilledSize_ + static_cast<std::int64_t>(memory_.size() - front_); }
    // 0 or the errno.
    [[nodiscard]] int Append(const std::uint8_t* bytes, std::size_t size);
    // Hands the first count bytes, in order, to out, and lets go of them; 0,
    // or the errno of the spill file, or what out returned.
    [[nodiscard]] int Take(std::int64_t count, const std::function<int(const std::uint8_t*, std::size_t)>& out);
    // The most bytes held in memory at once, for tests.
    [[nodiscard]] std::size_t MemoryPeak() const { return peak_; }
    [[nodiscard]] bool Spilled() const { return everSpilled_; }

private:
    std::size_t bound_;
    std::function<std::unique_ptr<NFile>()> makeSpill_;
    std::vector<std::uint8_t> memory_;
    std::size_t front_ = 0;
    std::unique_ptr<NFile> spill_;
    // The spilled bytes not yet taken: [spillFront_, spillFront_ + spilledSize_) of the file.
    std::int64_t spillFront_ = 0;
    std::int64_t spilledSize_ = 0;
    std::vector<std::uint8_t> scratch_;
    std::size_t peak_ = 0;
    bool everSpilled_ = false;
};

// What CutStream made of the stream.
struct StreamCutResult {
    enum class End {
        Finished,
        Aborted,
        ReadFailed,   // error: the input's
        PartFailed,   // error: the parts'; part: which
        SpillFailed,  // error: the spill file's
    };
    End end = End::Finished;
    int error = 0;
    std::size_t part = 0;
    // The bytes read, and each part ended whole: its length and, when asked
    // for, its SHA-256 in lowercase hex.
    std::int64_t read = 0;
    std::vector<std::int64_t> lengths;
    std::vector<std::string> digests;
};

struct StreamCutSettings {
    // Each part's SHA-256, from the bytes handed to it.
    bool digests = false;
    // The stream is read in blocks of this size.
    std::size_t block = 1 << 20;
    // The bytes a snapped cut may hold back in memory.
    std::size_t pendingBound = 32 << 20;
    // Makes the file pending bytes past the bound go to.
    std::function<std::unique_ptr<NFile>()> spill;
    // Without digests or a snap, a part's bytes after its first block may go
    // from the input to the part inside the kernel (StreamParts::Take).
    bool kernelCopy = false;
    // Called after every block with the bytes read so far.
    std::function<void(std::int64_t)> progress;
};

// Reads input to its end once, cutting it as cut says and handing each
// part's bytes to parts in order. A part begins only with its first byte: an
// empty stream makes no part. The abort flag is looked at before every
// block (and ends a wait on a pipe); an abort or a failure abandons the part
// begun and not ended, and leaves the parts ended before it.
[[nodiscard]] StreamCutResult CutStream(NFile& input, const StreamCut& cut, StreamParts& parts,
                                        const std::atomic<bool>& abort, const StreamCutSettings& settings);

}  // namespace tessera
