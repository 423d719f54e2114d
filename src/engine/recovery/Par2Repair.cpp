#include "engine/recovery/Par2Repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Field.h"
#include "fileio/FileQuery.h"
#include "fileio/Folder.h"
#include "fileio/ReadOnlyFile.h"
#include "fileio/StagedFile.h"

namespace tessera {

namespace {

// Files are copied and checked in blocks of at most this many bytes.
constexpr std::uint64_t kCopyBlock = 1 << 20;
// Column ranges are never narrower than this (and a multiple of gf16::kBlock).
constexpr std::uint64_t kMinimumRange = 4096;
// Slices of at least this width are computed on both cores.
constexpr std::uint64_t kTwoCoreWidth = 1 << 16;

// Reads size bytes at offset, zeros past the end of the file; false on error.
bool ReadPadded(const ReadOnlyFile& file, std::uint8_t* buffer, std::size_t size, std::uint64_t offset)
{
    const ssize_t got = file.ReadAt(buffer, size, offset);
    if (got < 0)
        return false;
    std::memset(buffer + got, 0, size - static_cast<std::size_t>(got));
    return true;
}

bool WriteAt(NFile& file, const std::uint8_t* data, std::uint64_t size, std::uint64_t offset)
{
    if (!file.Seek(static_cast<std::int64_t>(offset), 0))
        return false;
    while (size > 0) {
        const std::uint32_t take = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 1u << 30));
        if (file.Write(data, take) != take)
            return false;
        data += take;
        size -= take;
    }
    return true;
}

std::uint64_t SlicesOf(const Par2File& file, std::uint64_t sliceSize)
{
    return file.length / sliceSize + (file.length % sliceSize != 0);
}

}  // namespace

std::uint64_t Par2RepairMemory(std::uint64_t lost, std::uint64_t slices, std::uint64_t range)
{
    // The matrix and its inverse as it is made; each input slice's constant;
    // per column range the lost slices as they are rebuilt, and on each core
    // its half of the recovery slices less what is known and of the lost
    // slices, an input slice read and prepared, and a row of factors.
    const std::uint64_t matrices = 2 * 2 * lost * lost;
    const std::uint64_t constants = 2 * slices;
    const std::uint64_t columns = (3 * lost + 4) * (range + 2 * gf16::kBlock) + 2 * 2 * lost;
    return matrices + constants + columns;
}

std::uint64_t Par2RepairableSlices(std::uint64_t slices, std::uint64_t sliceSize, std::uint64_t memoryLimit)
{
    // The plan takes the narrowest column range it allows when the widest
    // does not fit; memory grows with the lost slices.
    const std::uint64_t range = std::min(kMinimumRange, sliceSize);
    std::uint64_t low = 0, high = slices;
    while (low < high) {
        const std::uint64_t mid = low + (high - low + 1) / 2;
        if (Par2RepairMemory(mid, slices, range) <= memoryLimit)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

bool PlanPar2Repair(const Par2Set& set, const Par2Check& check, std::uint64_t memoryLimit, Par2RepairPlan& plan,
                    Par2RepairResult& result)
{
    using namespace gf16;
    auto refuse = [&](Par2RepairFault fault) {
        result.fault = fault;
        return false;
    };
    if (!set.usable || check.files.size() != set.files.size())
        return refuse(Par2RepairFault::NotUsable);
    for (std::size_t f = 0; f < check.files.size(); ++f)
        switch (check.files[f].state) {
        case Par2FileState::UnsafeName:
        case Par2FileState::ListedTwice:
        case Par2FileState::ThroughLink:
            result.path = set.files[f].name;
            return refuse(Par2RepairFault::UnsafeName);
        case Par2FileState::Missing:
            // Something that is no regular file, or cannot be read, stands
            // at the name: it would be neither replaced nor kept.
            if (check.files[f].type != 0 || check.files[f].error != ENOENT) {
                result.path = set.files[f].name;
                result.error = check.files[f].error;
                result.fileType = check.files[f].type;
                return refuse(Par2RepairFault::NotRegular);
            }
            break;
        default:
            break;
        }
    if (check.badSlices > set.recovery.size()) {
        result.needed = check.badSlices - set.recovery.size();
        return refuse(Par2RepairFault::NotEnough);
    }
    const std::uint64_t m = check.badSlices;
    const std::uint64_t sliceSize = set.sliceSize;
    // The widest column range the limit allows, all of a slice if it can.
    std::uint64_t range = sliceSize;
    if (Par2RepairMemory(m, set.inputSlices, range) > memoryLimit) {
        const std::uint64_t least = Par2RepairMemory(m, set.inputSlices, 0);
        range = least >= memoryLimit ? 0 : (memoryLimit - least) / (3 * m + 4);
        range -= range % gf16::kBlock;
        if (range < kMinimumRange) {
            result.memoryNeeded = Par2RepairMemory(m, set.inputSlices, std::min(kMinimumRange, sliceSize));
            return refuse(Par2RepairFault::TooLarge);
        }
    }
    plan.columnRange = range;

    for (std::size_t f = 0; f < set.files.size(); ++f)
        for (const std::uint64_t s : check.files[f].badSlices)
            plan.lost.push_back({f, s});
    // The first m recovery slices present; A = [c_k ^ e_j].
    plan.recovery.resize(m);
    std::vector<std::uint32_t> exponents(m);
    for (std::size_t j = 0; j < m; ++j) {
        plan.recovery[j] = j;
        exponents[j] = set.recovery[j].exponent;
    }
    plan.constants = SliceFactors(set.inputSlices, {1});
    plan.inverse.assign(m * m, 0);
    for (std::size_t k = 0; k < m; ++k) {
        const std::uint16_t constant = plan.constants[set.files[plan.lost[k].file].firstSlice + plan.lost[k].slice];
        for (std::size_t j = 0; j < m; ++j)
            plan.inverse[j * m + k] = Pow(constant, exponents[j]);
    }
    if (!Invert(plan.inverse, m))
        return refuse(Par2RepairFault::Singular);
    return true;
}

namespace {

// One repair, stage by stage; each stage returns false once result holds a
// fault. The destructor removes whatever is still staged.
class Repair {
public:
    Repair(const Par2Set& set, const Par2Check& check, const std::string& folder, const Par2RepairSettings& settings)
        : set_(set), check_(check), folder_(folder), held_(folder), settings_(settings),
          files_(settings.files != nullptr ? *settings.files : RealFiles()), staged_(set.files.size()),
          outputs_(set.files.size())
    {
    }

    ~Repair()
    {
        for (auto& staged : staged_)
            if (staged)
                staged->Discard();
    }

    Par2RepairResult Run()
    {
        if (check_.state == Par2State::Intact && set_.usable && check_.files.size() == set_.files.size())
            return result_;
        if (PlanPar2Repair(set_, check_, settings_.memoryLimit, plan_, result_) && Survivors() && Columns() &&
            CheckRebuilt())
            Commit();
        // What is still staged was not put in place: removed, or named.
        for (auto& staged : staged_)
            if (staged) {
                const std::string path = staged->TemporaryPath();
                if (const int error = staged->Discard(); error != 0)
                    result_.leftBehind.push_back({path, error});
            }
        return std::move(result_);
    }

private:
    bool Fail(Par2RepairFault fault, const std::string& path, int error)
    {
        result_.fault = fault;
        result_.path = path;
        result_.error = error;
        return false;
    }

    bool Stopping() const { return settings_.abort != nullptr && settings_.abort->load(); }

    void Advance(std::uint64_t bytes)
    {
        done_ += bytes;
        if (settings_.progress)
            settings_.progress(done_, total_);
    }

    std::string PathOf(std::size_t f) const { return Par2FilePath(folder_, set_.files[f].name); }

    // Stage 2: every file to rebuild staged beside its target, holding the
    // slices of it that survived; the files and volumes to read opened.
    bool Survivors()
    {
        const std::uint64_t sliceSize = set_.sliceSize;
        for (std::size_t f = 0; f < set_.files.size(); ++f) {
            const Par2FileState state = check_.files[f].state;
            inputs_.push_back(state == Par2FileState::Missing ? ReadOnlyFile()
                                                              : ReadOnlyFile(held_, set_.files[f].name, files_));
            if (state != Par2FileState::Intact)
                total_ += set_.files[f].length;  // checked once rebuilt
        }
        for (const std::string& path : set_.paths)
            volumes_.emplace_back(path, files_);
        // Each column range reads that range of every slice that survived
        // and of a recovery slice for each one lost.
        total_ += set_.inputSlices * sliceSize;
        std::vector<std::uint8_t> copy(static_cast<std::size_t>(std::min(sliceSize, kCopyBlock)));
        for (std::size_t f = 0; f < set_.files.size(); ++f) {
            if (check_.files[f].state == Par2FileState::Intact)
                continue;
            const Par2File& file = set_.files[f];
            const std::string path = PathOf(f);
            staged_[f] = std::make_unique<StagedFile>();
            outputs_[f] = staged_[f]->Create(held_, file.name, files_);
            if (!outputs_[f] || !outputs_[f]->IsOpen())
                return Fail(Par2RepairFault::Write, path, outputs_[f] ? outputs_[f]->LastError() : 0);
            if (check_.files[f].state != Par2FileState::Damaged)
                continue;
            const std::vector<std::uint64_t>& bad = check_.files[f].badSlices;
            for (std::uint64_t start = 0, slice = 0; start < file.length; start += sliceSize, ++slice) {
                if (std::find(bad.begin(), bad.end(), slice) != bad.end())
                    continue;
                const std::uint64_t inFile = std::min(sliceSize, file.length - start);
                for (std::uint64_t done = 0; done < inFile;) {
                    if (Stopping())
                        return Fail(Par2RepairFault::Stopped, {}, 0);
                    const std::size_t take =
                        static_cast<std::size_t>(std::min<std::uint64_t>(copy.size(), inFile - done));
                    if (!ReadPadded(inputs_[f], copy.data(), take, start + done))
                        return Fail(Par2RepairFault::Read, path, errno);
                    if (!WriteAt(*outputs_[f], copy.data(), take, start + done))
                        return Fail(Par2RepairFault::Write, staged_[f]->TemporaryPath(), outputs_[f]->LastError());
                    done += take;
                }
            }
        }
        return true;
    }

    // Stage 3: the lost slices, a column range at a time, each range's
    // columns split between both cores.
    bool Columns()
    {
        using namespace gf16;
        const std::size_t m = plan_.lost.size();
        if (m == 0)
            return true;
        const std::uint64_t sliceSize = set_.sliceSize;
        const std::uint64_t range = plan_.columnRange;
        std::vector<bool> isLost(set_.inputSlices, false);
        for (const Par2RepairPlan::Slot& slot : plan_.lost)
            isLost[set_.files[slot.file].firstSlice + slot.slice] = true;
        // The factors of a slice, its constant to each exponent used, are
        // raised as the slice is read.
        const std::vector<std::uint16_t>& constants = plan_.constants;
        std::vector<std::uint32_t> exponents(m);
        for (std::size_t j = 0; j < m; ++j)
            exponents[j] = set_.recovery[plan_.recovery[j]].exponent;

        std::vector<std::vector<std::uint8_t>> rebuilt(m, std::vector<std::uint8_t>(range));
        std::atomic<bool> readFailed{false};
        std::atomic<int> readError{0};
        std::string failedPath;
        std::mutex failedMutex;
        auto readFault = [&](const std::string& path) {
            std::lock_guard lock(failedMutex);
            if (!readFailed.exchange(true)) {
                readError = errno != 0 ? errno : EIO;
                failedPath = path;
            }
        };
        for (std::uint64_t column = 0; column < sliceSize; column += range) {
            if (Stopping())
                return Fail(Par2RepairFault::Stopped, {}, 0);
            const std::size_t width = static_cast<std::size_t>(std::min(range, sliceSize - column));
            auto work = [&](std::size_t lo, std::size_t hi) {
                if (lo >= hi)
                    return;
                const std::size_t span = hi - lo;
                const std::size_t prepared = gf16::PreparedSize(span);
                std::vector<std::uint8_t> raw(span), input(prepared), sums(2 * m * prepared, 0);
                std::vector<std::uint8_t*> known(m), lostSums(m);
                std::vector<std::uint16_t> factors(m);
                for (std::size_t j = 0; j < m; ++j) {
                    known[j] = sums.data() + j * prepared;
                    lostSums[j] = sums.data() + (m + j) * prepared;
                    const Par2RecoverySlice& r = set_.recovery[plan_.recovery[j]];
                    if (!ReadPadded(volumes_[r.file], raw.data(), span, r.dataOffset + column + lo))
                        readFault(set_.paths[r.file]);
                    gf16::Prepare(raw.data(), span, known[j]);
                }
                for (std::size_t f = 0; f < set_.files.size() && !readFailed; ++f) {
                    const Par2File& file = set_.files[f];
                    const std::uint64_t count = SlicesOf(file, sliceSize);
                    for (std::uint64_t s = 0; s < count; ++s) {
                        const std::uint64_t index = file.firstSlice + s;
                        if (isLost[index])
                            continue;
                        const std::uint64_t start = s * sliceSize + column + lo;
                        const std::uint64_t end = std::min(file.length, s * sliceSize + sliceSize);
                        // Bytes past the file's end are zeros, and add nothing.
                        if (start >= end)
                            continue;
                        if (!ReadPadded(inputs_[f], raw.data(), span, start))
                            readFault(PathOf(f));
                        if (start + span > end)
                            std::memset(raw.data() + (end - start), 0, start + span - end);
                        gf16::Prepare(raw.data(), span, input.data());
                        for (std::size_t j = 0; j < m; ++j)
                            factors[j] = Pow(constants[index], exponents[j]);
                        gf16::MulAddMany(input.data(), prepared, factors.data(), known.data(), m);
                    }
                }
                std::vector<std::uint16_t> row(m);
                for (std::size_t j = 0; j < m; ++j) {
                    for (std::size_t k = 0; k < m; ++k)
                        row[k] = plan_.inverse[k * m + j];
                    gf16::MulAddMany(known[j], prepared, row.data(), lostSums.data(), m);
                }
                for (std::size_t k = 0; k < m; ++k)
                    gf16::Unprepare(lostSums[k], span, rebuilt[k].data() + lo);
            };
            std::size_t half = width / 2;
            half -= half % gf16::kBlock;
            if (width >= kTwoCoreWidth) {
                std::thread other(work, half, width);
                work(0, half);
                other.join();
            } else {
                work(0, width);
            }
            if (readFailed)
                return Fail(Par2RepairFault::Read, failedPath, readError);
            for (std::size_t k = 0; k < m; ++k) {
                const std::size_t f = plan_.lost[k].file;
                const std::uint64_t start = plan_.lost[k].slice * sliceSize + column;
                if (start >= set_.files[f].length)
                    continue;
                const std::uint64_t size = std::min<std::uint64_t>(width, set_.files[f].length - start);
                if (!WriteAt(*outputs_[f], rebuilt[k].data(), size, start))
                    return Fail(Par2RepairFault::Write, staged_[f]->TemporaryPath(), outputs_[f]->LastError());
            }
            Advance(set_.inputSlices * width);
        }
        result_.slicesRebuilt = m;
        return true;
    }

    // Stage 4: each staged file read back whole against the set's MD5.
    bool CheckRebuilt()
    {
        std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(set_.sliceSize, kCopyBlock)));
        for (std::size_t f = 0; f < set_.files.size(); ++f) {
            if (!outputs_[f])
                continue;
            if (!outputs_[f]->Flush())
                return Fail(Par2RepairFault::Write, staged_[f]->TemporaryPath(), outputs_[f]->LastError());
            outputs_[f]->Close();
            ReadOnlyFile written(held_, staged_[f]->TemporaryName(), files_);
            std::uint32_t type = 0;
            std::uint64_t size = 0;
            Md5 md5;
            bool good = written.Stat(type, size) && size == set_.files[f].length;
            for (std::uint64_t done = 0; good && done < set_.files[f].length;) {
                if (Stopping())
                    return Fail(Par2RepairFault::Stopped, {}, 0);
                const std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), set_.files[f].length - done));
                good = ReadPadded(written, block.data(), take, done);
                md5.Update(block.data(), take);
                done += take;
                Advance(take);
            }
            if (!good || md5.Finish() != set_.files[f].md5)
                return Fail(Par2RepairFault::Mismatch, PathOf(f), 0);
        }
        return true;
    }

    // Stage 5: the files replaced moved aside to free names, all of them,
    // then the staged files put in place.
    bool Commit()
    {
        if (Stopping())
            return Fail(Par2RepairFault::Stopped, {}, 0);
        // The number each replaced file is kept under: "<name>.<number>".
        std::vector<int> kept(set_.files.size(), 0);
        auto nameOf = [&](std::size_t f) { return set_.files[f].name; };
        auto keptName = [&](std::size_t f) { return set_.files[f].name + "." + std::to_string(kept[f]); };
        for (std::size_t f = 0; f < set_.files.size(); ++f) {
            if (!outputs_[f] || check_.files[f].state != Par2FileState::Damaged)
                continue;
            int error = EEXIST;
            while (error == EEXIST) {
                while (files_.StatusBeneath(held_, nameOf(f) + "." + std::to_string(++kept[f])).error != ENOENT) {
                }
                error = files_.RenameBeneath(held_, nameOf(f), keptName(f), false);
            }
            if (error != 0) {
                // Nothing is replaced: what was moved aside goes back.
                kept[f] = 0;
                for (std::size_t g = 0; g < f; ++g)
                    if (kept[g] != 0 && files_.RenameBeneath(held_, keptName(g), nameOf(g), false) != 0)
                        result_.movedAside.push_back({g, keptName(g)});
                return Fail(Par2RepairFault::Write, PathOf(f), error);
            }
        }
        for (std::size_t f = 0; f < set_.files.size(); ++f) {
            if (!outputs_[f])
                continue;
            if (const int error = staged_[f]->Commit(false); error != 0) {
                for (std::size_t g = f; g < set_.files.size(); ++g)
                    if (kept[g] != 0)
                        result_.movedAside.push_back({g, keptName(g)});
                return Fail(Par2RepairFault::Write, PathOf(f), error);
            }
            result_.rebuilt.push_back({f, kept[f] != 0 ? keptName(f) : std::string()});
        }
        return true;
    }

    const Par2Set& set_;
    const Par2Check& check_;
    const std::string folder_;
    // The set's folder, every name of the set resolved beneath it.
    const Folder held_;
    const Par2RepairSettings& settings_;
    const FileSystem& files_;
    Par2RepairPlan plan_;
    Par2RepairResult result_;
    std::vector<ReadOnlyFile> inputs_;
    std::vector<ReadOnlyFile> volumes_;
    std::vector<std::unique_ptr<StagedFile>> staged_;
    std::vector<std::unique_ptr<NFile>> outputs_;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace

Par2RepairResult RepairPar2Set(const Par2Set& set, const Par2Check& check, const std::string& folder,
                               const Par2RepairSettings& settings)
{
    return Repair(set, check, folder, settings).Run();
}

}  // namespace tessera
