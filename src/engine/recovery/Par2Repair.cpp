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
#include <utility>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Field.h"
#include "engine/kernels/Gf16Threads.h"
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
// Sums lie this much further apart than their width, so that the same
// columns of each do not meet in the same sets of the processor's caches.
constexpr std::size_t kRepairStagger = 2 * gf16::kBlock;
// Input slices multiplied in one go: the more, the fewer times the sums pass
// through the cache, but their factors' tables for every lost slice must stay
// in the second-level cache.
constexpr std::size_t kRepairMostInputs = 64;
constexpr std::uint64_t kRepairTables = 4 << 20;
// The column buffers are kept to about this much, though the limit would
// allow more: memory touched for the first time costs more (the pages are
// cleared, and a virtual machine's host may hand them over anew) than the
// further passes over the inputs that narrower ranges take.
constexpr std::uint64_t kRepairColumns = 16 << 20;

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

// How many input slices a repair of `lost` slices in column ranges of
// `range` bytes multiplies in one go. Two groups of them and their tables
// (one multiplied while the other is read) stay within what Par2RepairMemory
// counts beyond the sums: a third of the columns, less the read buffer, and
// the half of the matrices that the inversion no longer needs.
std::size_t RepairGroup(std::uint64_t lost, std::uint64_t range)
{
    const std::uint64_t column = range + 2 * gf16::kBlock;
    const std::uint64_t room = (lost + 3) * column + 2 * lost * lost;
    const std::uint64_t fits = room / (2 * column + 2 * gf16::kMostFactorBytes * lost);
    const std::uint64_t cached = kRepairTables / gf16::kMostFactorBytes / lost;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(std::min(fits, cached), 1, kRepairMostInputs));
}

}  // namespace

std::uint64_t Par2RepairMemory(std::uint64_t lost, std::uint64_t slices, std::uint64_t range)
{
    // The matrix and its inverse as it is made; each input slice's constant;
    // per column range the recovery slices less what is known, the lost
    // slices as they are rebuilt, and two groups of input slices prepared
    // with their factors' tables (RepairGroup), and a slice read.
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
    // The widest column range the limit allows, all of a slice if it can,
    // within kRepairColumns.
    std::uint64_t range = kRepairColumns / (3 * m + 4);
    range = std::min(sliceSize, std::max(kMinimumRange, range - range % gf16::kBlock));
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

    // Stage 3: the lost slices, a column range at a time. The range of every
    // recovery slice used, less what the surviving slices put in it (known),
    // then times the inverse (lost): groups of input slices are read while
    // the threads multiply the group before, each thread over its own
    // columns of every sum.
    bool Columns()
    {
        using namespace gf16;
        const std::size_t m = plan_.lost.size();
        if (m == 0)
            return true;
        const std::uint64_t sliceSize = set_.sliceSize;
        const std::size_t range = static_cast<std::size_t>(plan_.columnRange);
        std::vector<bool> isLost(set_.inputSlices, false);
        for (const Par2RepairPlan::Slot& slot : plan_.lost)
            isLost[set_.files[slot.file].firstSlice + slot.slice] = true;
        // The factors of a slice, its constant to each exponent used, are
        // raised as the slice is read.
        const std::vector<std::uint16_t>& constants = plan_.constants;
        std::vector<std::uint32_t> exponents(m);
        for (std::size_t j = 0; j < m; ++j)
            exponents[j] = set_.recovery[plan_.recovery[j]].exponent;

        // Par2RepairMemory counts each of these.
        const std::size_t stride = PreparedSize(range) + kRepairStagger;
        const std::size_t group = RepairGroup(m, range);
        std::vector<std::uint8_t> sums(2 * m * stride), inputs(2 * group * stride), raw(range);
        std::vector<std::uint8_t*> known(m), lost(m);
        for (std::size_t j = 0; j < m; ++j) {
            known[j] = sums.data() + j * stride;
            lost[j] = sums.data() + (m + j) * stride;
        }
        std::vector<const std::uint8_t*> ins(2 * group);
        for (std::size_t i = 0; i < ins.size(); ++i)
            ins[i] = inputs.data() + i * stride;
        std::vector<std::uint16_t> rows(group * m);
        Factors made[2];
        // Last, so that it is stopped before the buffers it works on go.
        ColumnThreads threads;

        for (std::uint64_t column = 0; column < sliceSize; column += range) {
            if (Stopping())
                return Fail(Par2RepairFault::Stopped, {}, 0);
            const std::size_t width = static_cast<std::size_t>(std::min<std::uint64_t>(range, sliceSize - column));
            const std::size_t prepared = PreparedSize(width);
            for (std::size_t j = 0; j < m; ++j) {
                const Par2RecoverySlice& r = set_.recovery[plan_.recovery[j]];
                if (!ReadPadded(volumes_[r.file], raw.data(), width, r.dataOffset + column))
                    return Fail(Par2RepairFault::Read, set_.paths[r.file], errno);
                Prepare(raw.data(), width, known[j]);
            }
            // Hands the group filled to the threads (which are done with the
            // other once Start returns) and fills the other meanwhile.
            int filling = 0;
            std::size_t size = 0;
            const auto multiply = [&](std::uint8_t* const* accs) {
                if (size == 0)
                    return;
                made[filling].Make(rows.data(), size, m);
                threads.Start(ins.data() + filling * group, prepared, made[filling], accs);
                filling ^= 1;
                size = 0;
            };
            for (std::size_t f = 0; f < set_.files.size(); ++f) {
                const Par2File& file = set_.files[f];
                const std::uint64_t count = SlicesOf(file, sliceSize);
                for (std::uint64_t s = 0; s < count; ++s) {
                    const std::uint64_t index = file.firstSlice + s;
                    if (isLost[index])
                        continue;
                    const std::uint64_t start = s * sliceSize + column;
                    const std::uint64_t end = std::min(file.length, s * sliceSize + sliceSize);
                    // Bytes past the file's end are zeros, and add nothing.
                    if (start >= end)
                        continue;
                    if (Stopping())
                        return Fail(Par2RepairFault::Stopped, {}, 0);
                    if (!ReadPadded(inputs_[f], raw.data(), width, start))
                        return Fail(Par2RepairFault::Read, PathOf(f), errno);
                    if (start + width > end)
                        std::memset(raw.data() + (end - start), 0, start + width - end);
                    Prepare(raw.data(), width, inputs.data() + (filling * group + size) * stride);
                    std::uint16_t* row = rows.data() + size * m;
                    for (std::size_t j = 0; j < m; ++j)
                        row[j] = Pow(constants[index], exponents[j]);
                    if (++size == group)
                        multiply(known.data());
                }
            }
            multiply(known.data());
            threads.Wait();
            // lost[k] = sum over j of inverse[k * m + j] * known[j], known
            // taken a group at a time as inputs.
            for (std::size_t k = 0; k < m; ++k)
                std::memset(lost[k], 0, prepared);
            for (std::size_t first = 0; first < m; first += group) {
                const std::size_t n = std::min(group, m - first);
                for (std::size_t i = 0; i < n; ++i)
                    for (std::size_t k = 0; k < m; ++k)
                        rows[i * m + k] = plan_.inverse[k * m + first + i];
                made[filling].Make(rows.data(), n, m);
                threads.Start(known.data() + first, prepared, made[filling], lost.data());
                filling ^= 1;
            }
            threads.Wait();
            for (std::size_t k = 0; k < m; ++k) {
                const std::size_t f = plan_.lost[k].file;
                const std::uint64_t start = plan_.lost[k].slice * sliceSize + column;
                if (start >= set_.files[f].length)
                    continue;
                // known[k] is done with: the rebuilt bytes go there.
                Unprepare(lost[k], width, known[k]);
                const std::uint64_t size = std::min<std::uint64_t>(width, set_.files[f].length - start);
                if (!WriteAt(*outputs_[f], known[k], size, start))
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
