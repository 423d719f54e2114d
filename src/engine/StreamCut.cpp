#include "StreamCut.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "engine/kernels/Sha256.h"
#include "plan/SnapPlanner.h"

namespace tessera {

namespace {

// Spilled bytes are read back in pieces of this size.
constexpr std::size_t kReadBackPiece = 1 << 20;

}  // namespace

PendingBytes::PendingBytes(std::size_t bound, std::function<std::unique_ptr<NFile>()> spill)
    : bound_(std::max<std::size_t>(bound, 1)), makeSpill_(std::move(spill))
{
}

int PendingBytes::Append(const std::uint8_t* bytes, std::size_t size)
{
    // What memory holds is let go of first, so that it does not grow with
    // what was taken.
    if (front_ > 0 && front_ >= memory_.size() / 2) {
        memory_.erase(memory_.begin(), memory_.begin() + static_cast<std::ptrdiff_t>(front_));
        front_ = 0;
    }
    // Room for the bound and one more piece at once: a vector that doubled
    // past the bound would hold the old and the new copy together.
    if (memory_.capacity() < bound_ + size)
        memory_.reserve(std::max(memory_.size(), bound_) + size);
    memory_.insert(memory_.end(), bytes, bytes + size);
    peak_ = std::max(peak_, memory_.size());
    if (memory_.size() - front_ <= bound_)
        return 0;
    // Past the bound: everything in memory goes after what is spilled.
    if (!spill_) {
        spill_ = makeSpill_ ? makeSpill_() : nullptr;
        if (!spill_ || !spill_->IsOpen())
            return spill_ ? (spill_->LastError() != 0 ? spill_->LastError() : EIO) : ENOSYS;
    }
    everSpilled_ = true;
    if (!spill_->Seek(spillFront_ + spilledSize_, 0))
        return spill_->LastError() != 0 ? spill_->LastError() : EIO;
    std::size_t at = front_;
    while (at < memory_.size()) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(memory_.size() - at, kReadBackPiece));
        const std::uint32_t wrote = spill_->Write(memory_.data() + at, piece);
        if (wrote != piece)
            return spill_->LastError() != 0 ? spill_->LastError() : EIO;
        at += piece;
    }
    spilledSize_ += static_cast<std::int64_t>(memory_.size() - front_);
    memory_.clear();
    memory_.shrink_to_fit();
    front_ = 0;
    return 0;
}

int PendingBytes::Take(std::int64_t count, const std::function<int(const std::uint8_t*, std::size_t)>& out)
{
    while (count > 0 && spilledSize_ > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>({count, spilledSize_, std::int64_t{kReadBackPiece}}));
        scratch_.resize(kReadBackPiece);
        const std::int64_t got = spill_->ReadAt(scratch_.data(), piece, static_cast<std::uint64_t>(spillFront_));
        if (got != static_cast<std::int64_t>(piece))
            return got < 0 ? errno : EIO;
        if (const int error = out(scratch_.data(), piece); error != 0)
            return error;
        spillFront_ += static_cast<std::int64_t>(piece);
        spilledSize_ -= static_cast<std::int64_t>(piece);
        count -= static_cast<std::int64_t>(piece);
        // Once drained, the spill file is written from its start again.
        if (spilledSize_ == 0)
            spillFront_ = 0;
    }
    if (count > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(memory_.size() - front_)));
        if (const int error = out(memory_.data() + front_, piece); error != 0)
            return error;
        front_ += piece;
        count -= static_cast<std::int64_t>(piece);
    }
    return count == 0 ? 0 : EINVAL;
}

namespace {

// The parts as the stream fills them: each begun with its first byte, its
// digest taken from the bytes handed over.
class PartWriter {
public:
    PartWriter(StreamParts& parts, bool digests, StreamCutResult& result)
        : parts_(parts), result_(result)
    {
        if (digests)
            sha_.emplace();
    }

    int Write(const std::uint8_t* bytes, std::size_t size)
    {
        if (size == 0)
            return 0;
        if (!open_) {
            if (const int error = parts_.Begin(result_.lengths.size()); error != 0)
                return error;
            open_ = true;
            length_ = 0;
        }
        if (sha_)
            sha_->Update(bytes, size);
        length_ += static_cast<std::int64_t>(size);
        return parts_.Write(bytes, size);
    }

    // More of the part begun, moved inside the kernel (StreamParts::Take).
    std::int64_t Take(NFile& input, std::size_t size)
    {
        const std::int64_t moved = parts_.Take(input, size);
        if (moved > 0)
            length_ += moved;
        return moved;
    }

    int End()
    {
        if (!open_)
            return 0;
        open_ = false;
        if (const int error = parts_.End(); error != 0)
            return error;
        result_.lengths.push_back(length_);
        if (sha_)
            result_.digests.push_back(sha_->Finish());
        return 0;
    }

    void Abandon()
    {
        if (open_)
            parts_.Abandon();
        open_ = false;
    }

private:
    StreamParts& parts_;
    StreamCutResult& result_;
    std::optional<Sha256> sha_;
    bool open_ = false;
    std::int64_t length_ = 0;
};

}  // namespace

StreamCutResult CutStream(NFile& input, const StreamCut& cut, StreamParts& parts, const std::atomic<bool>& abort,
                          const StreamCutSettings& settings)
{
    StreamCutResult result;
    PartWriter writer(parts, settings.digests, result);
    input.WatchAbort(&abort);
    const std::int64_t piece = std::max<std::int64_t>(cut.piece, 1);
    std::optional<SnapPlanner> planner;
    if (!cut.snap.empty())
        planner.emplace(piece, cut.snap);
    PendingBytes pending(settings.pendingBound, settings.spill);
    // The offset of the first pending byte: where the part being filled
    // stands.
    std::int64_t pendingStart = 0;
    std::int64_t inPart = 0;  // without a snap: the bytes of the part being filled
    std::vector<std::int64_t> ends;
    std::vector<std::uint8_t> block(std::max<std::size_t>(settings.block, 1));

    const auto failed = [&](StreamCutResult::End end, int error) {
        writer.Abandon();
        result.end = end;
        result.error = error;
        result.part = result.lengths.size();
        return result;
    };
    // Hands the pending bytes up to offset to the part being filled.
    bool partFault = false;
    const auto fill = [&](std::int64_t to) {
        partFault = false;
        const int error = pending.Take(to - pendingStart, [&](const std::uint8_t* bytes, std::size_t size) {
            const int e = writer.Write(bytes, size);
            partFault = e != 0;
            return e;
        });
        pendingStart = to;
        return error;
    };
    const auto faultOf = [&](int error) {
        return failed(partFault ? StreamCutResult::End::PartFailed : StreamCutResult::End::SpillFailed, error);
    };

    // The part being filled has n more bytes: once whole, it ends.
    const auto grew = [&](std::int64_t n) {
        inPart += n;
        if (inPart < piece)
            return 0;
        inPart = 0;
        return writer.End();
    };

    // The bytes of a part after its first block need not pass through here
    // when nothing looks at them.
    bool kernel = settings.kernelCopy && !planner && !settings.digests;
    for (;;) {
        if (abort.load())
            return failed(StreamCutResult::End::Aborted, 0);
        if (kernel && inPart > 0) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(block.size(), piece - inPart));
            const std::int64_t moved = writer.Take(input, want);
            if (moved < 0) {
                kernel = false;
                continue;
            }
            result.read += moved;
            if (settings.progress)
                settings.progress(result.read);
            if (static_cast<std::size_t>(moved) < want) {
                if (const int error = parts.Fault(); error != 0)
                    return failed(StreamCutResult::End::PartFailed, error);
                const int readError = input.LastError();
                if (readError == ECANCELED && abort.load())
                    return failed(StreamCutResult::End::Aborted, 0);
                if (readError != 0)
                    return failed(StreamCutResult::End::ReadFailed, readError);
                break;  // the stream ended
            }
            if (const int error = grew(moved); error != 0)
                return failed(StreamCutResult::End::PartFailed, error);
            continue;
        }
        const std::uint32_t got = input.Read(block.data(), static_cast<std::uint32_t>(block.size()));
        const int readError = got < block.size() ? input.LastError() : 0;
        // Stopped while waiting for the rest of a block: what came is still
        // cut, so that the parts it completes are kept whole.
        const bool stopped = readError == ECANCELED && abort.load();
        if (readError != 0 && !stopped)
            return failed(StreamCutResult::End::ReadFailed, readError);
        result.read += got;
        if (planner) {
            ends.clear();
            planner->Feed({block.data(), got}, ends);
            if (const int error = pending.Append(block.data(), got); error != 0)
                return failed(StreamCutResult::End::SpillFailed, error);
            for (const std::int64_t end : ends) {
                if (const int error = fill(end); error != 0)
                    return faultOf(error);
                if (const int error = writer.End(); error != 0)
                    return failed(StreamCutResult::End::PartFailed, error);
            }
            // What is surely the part's goes to it now.
            if (const int error = fill(planner->Settled()); error != 0)
                return faultOf(error);
        } else {
            std::size_t at = 0;
            while (at < got) {
                const auto take = static_cast<std::size_t>(std::min<std::int64_t>(got - at, piece - inPart));
                if (const int error = writer.Write(block.data() + at, take); error != 0)
                    return failed(StreamCutResult::End::PartFailed, error);
                at += take;
                if (const int error = grew(static_cast<std::int64_t>(take)); error != 0)
                    return failed(StreamCutResult::End::PartFailed, error);
            }
        }
        if (settings.progress)
            settings.progress(result.read);
        if (stopped)
            return failed(StreamCutResult::End::Aborted, 0);
        if (got < block.size())
            break;
    }

    if (planner) {
        ends.clear();
        planner->Finish(ends);
        for (const std::int64_t end : ends) {
            if (const int error = fill(end); error != 0)
                return faultOf(error);
        }
    }
    if (const int error = writer.End(); error != 0)
        return failed(StreamCutResult::End::PartFailed, error);
    return result;
}

}  // namespace tessera
