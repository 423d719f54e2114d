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
#include <thread>
#include <utility>

#include "engine/kernels/Gf16.h"
#include "engine/kernels/Gf16Field.h"
#include "fileio/ReadOnlyFile.h"
#include "fileio/StagedFile.h"

namespace tessera {
namespace {

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

struct Slot {
    std::size_t file = 0;   // index into Par2Set::files
    std::uint64_t slice = 0;  // within the file
};

}  // namespace

Par2RepairResult RepairPar2Set(const Par2Set& set, const Par2Check& check, const std::string& folder,
                               std::uint64_t memoryLimit)
{
    Par2RepairResult result;
    if (!set.usable || check.files.size() != set.files.size()) {
        result.fault = Par2RepairFault::NotUsable;
        return result;
    }
    if (check.state == Par2State::Intact)
        return result;
    for (const Par2FileCheck& f : check.files)
        if (f.state == Par2FileState::UnsafeName) {
            result.fault = Par2RepairFault::UnsafeName;
            return result;
        }
    if (check.badSlices > set.recovery.size()) {
        result.fault = Par2RepairFault::NotEnough;
        result.needed = check.badSlices - set.recovery.size();
        return result;
    }
    const std::uint64_t sliceSize = set.sliceSize;
    // The lost slices, by their index among all input slices.
    std::vector<Slot> lost;
    std::vector<bool> isLost(set.inputSlices, false);
    for (std::size_t f = 0; f < set.files.size(); ++f)
        for (std::uint64_t s : check.files[f].badSlices) {
            lost.push_back({f, s});
            isLost[set.files[f].firstSlice + s] = true;
        }
    const std::size_t m = lost.size();

    // A = [c_k ^ e_j] for the first m recovery slices; lost = A^-1 (R - known).
    std::vector<std::uint32_t> exponents(m);
    for (std::size_t j = 0; j < m; ++j)
        exponents[j] = set.recovery[j].exponent;
    // factors[i * m + j]: input slice i's constant to recovery slice j's exponent.
    const std::vector<std::uint16_t> factors = gf16::SliceFactors(set.inputSlices, exponents);
    std::vector<std::uint16_t> matrix(m * m);
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t k = 0; k < m; ++k)
            matrix[j * m + k] = factors[(set.files[lost[k].file].firstSlice + lost[k].slice) * m + j];
    if (!gf16::Invert(matrix, m)) {
        result.fault = Par2RepairFault::Singular;
        return result;
    }

    // Open what is read: the files still there and the volumes.
    std::vector<ReadOnlyFile> inputs;
    for (std::size_t f = 0; f < set.files.size(); ++f) {
        const std::string path = Par2FilePath(folder, set.files[f].name);
        inputs.push_back(check.files[f].state == Par2FileState::Missing ? ReadOnlyFile() : ReadOnlyFile(path));
    }
    std::vector<ReadOnlyFile> volumes;
    for (const std::string& path : set.paths)
        volumes.emplace_back(path);

    // The rebuilt files, staged beside their targets, first holding the
    // slices that survived.
    std::vector<std::unique_ptr<StagedFile>> staged(set.files.size());
    std::vector<std::unique_ptr<NFile>> outputs(set.files.size());
    auto fail = [&](Par2RepairFault fault, const std::string& path, int error) {
        for (auto& s : staged)
            if (s)
                s->Discard();
        result.fault = fault;
        result.path = path;
        result.error = error;
        return result;
    };
    std::vector<std::uint8_t> copy(static_cast<std::size_t>(std::min<std::uint64_t>(sliceSize, 1u << 20)));
    for (std::size_t f = 0; f < set.files.size(); ++f) {
        if (check.files[f].state == Par2FileState::Intact)
            continue;
        const Par2File& file = set.files[f];
        const std::string path = Par2FilePath(folder, file.name);
        staged[f] = std::make_unique<StagedFile>();
        outputs[f] = staged[f]->Create(path);
        if (!outputs[f] || !outputs[f]->IsOpen())
            return fail(Par2RepairFault::Write, path, outputs[f] ? outputs[f]->LastError() : 0);
        if (check.files[f].state != Par2FileState::Damaged)
            continue;
        const std::vector<std::uint64_t>& bad = check.files[f].badSlices;
        for (std::uint64_t start = 0, slice = 0; start < file.length; start += sliceSize, ++slice) {
            if (std::find(bad.begin(), bad.end(), slice) != bad.end())
                continue;
            const std::uint64_t inFile = std::min(sliceSize, file.length - start);
            for (std::uint64_t done = 0; done < inFile;) {
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(copy.size(), inFile - done));
                if (!ReadPadded(inputs[f], copy.data(), take, start + done))
                    return fail(Par2RepairFault::Read, path, errno);
                if (!WriteAt(*outputs[f], copy.data(), take, start + done))
                    return fail(Par2RepairFault::Write, staged[f]->TemporaryPath(), outputs[f]->LastError());
                done += take;
            }
        }
    }

    // Column ranges: the lost slices as they are rebuilt, and per thread its
    // half of the recovery slices less what is known and of the lost slices
    // (both in the multiplying layout), and an input slice.
    if (m > 0) {
        std::uint64_t range = memoryLimit / (3 * m + 4);
        range = std::max<std::uint64_t>(range - range % gf16::kBlock, 4096);
        range = std::min(range, sliceSize);
        std::vector<std::vector<std::uint8_t>> rebuilt(m);
        for (std::size_t j = 0; j < m; ++j)
            rebuilt[j].resize(range);
        std::atomic<bool> readFailed{false};
        for (std::uint64_t column = 0; column < sliceSize; column += range) {
            const std::size_t width = static_cast<std::size_t>(std::min(range, sliceSize - column));
            // Each of both cores takes half the columns.
            auto work = [&](std::size_t lo, std::size_t hi) {
                if (lo >= hi)
                    return;
                const std::size_t span = hi - lo;
                const std::size_t prepared = gf16::PreparedSize(span);
                std::vector<std::uint8_t> raw(span), input(prepared), sums(2 * m * prepared, 0);
                std::vector<std::uint8_t*> known(m), lostSums(m);
                for (std::size_t j = 0; j < m; ++j) {
                    known[j] = sums.data() + j * prepared;
                    lostSums[j] = sums.data() + (m + j) * prepared;
                    const Par2RecoverySlice& r = set.recovery[j];
                    if (!ReadPadded(volumes[r.file], raw.data(), span, r.dataOffset + column + lo))
                        readFailed = true;
                    gf16::Prepare(raw.data(), span, known[j]);
                }
                for (std::size_t f = 0; f < set.files.size(); ++f) {
                    const Par2File& file = set.files[f];
                    const std::uint64_t count = file.length / sliceSize + (file.length % sliceSize != 0);
                    for (std::uint64_t s = 0; s < count; ++s) {
                        const std::uint64_t index = file.firstSlice + s;
                        if (isLost[index])
                            continue;
                        const std::uint64_t start = s * sliceSize + column + lo;
                        const std::uint64_t end = std::min(file.length, s * sliceSize + sliceSize);
                        // Bytes past the file's end are zeros, and add nothing.
                        if (start >= end)
                            continue;
                        if (!ReadPadded(inputs[f], raw.data(), span, start))
                            readFailed = true;
                        if (start + span > end)
                            std::memset(raw.data() + (end - start), 0, start + span - end);
                        gf16::Prepare(raw.data(), span, input.data());
                        gf16::MulAddMany(input.data(), prepared, &factors[index * m], known.data(), m);
                    }
                }
                std::vector<std::uint16_t> column(m);
                for (std::size_t j = 0; j < m; ++j) {
                    for (std::size_t k = 0; k < m; ++k)
                        column[k] = matrix[k * m + j];
                    gf16::MulAddMany(known[j], prepared, column.data(), lostSums.data(), m);
                }
                for (std::size_t k = 0; k < m; ++k)
                    gf16::Unprepare(lostSums[k], span, rebuilt[k].data() + lo);
            };
            std::size_t half = width / 2;
            half -= half % gf16::kBlock;
            if (width >= (1u << 16)) {
                std::thread other(work, half, width);
                work(0, half);
                other.join();
            } else {
                work(0, width);
            }
            if (readFailed)
                return fail(Par2RepairFault::Read, set.paths.empty() ? std::string() : set.paths[0], EIO);
            for (std::size_t k = 0; k < m; ++k) {
                const Par2File& file = set.files[lost[k].file];
                const std::uint64_t start = lost[k].slice * sliceSize + column;
                if (start >= file.length)
                    continue;
                const std::uint64_t size = std::min<std::uint64_t>(width, file.length - start);
                if (!WriteAt(*outputs[lost[k].file], rebuilt[k].data(), size, start))
                    return fail(Par2RepairFault::Write, staged[lost[k].file]->TemporaryPath(),
                                outputs[lost[k].file]->LastError());
            }
        }
    }

    // Each rebuilt file checked whole, then put in place.
    for (std::size_t f = 0; f < set.files.size(); ++f) {
        if (!outputs[f])
            continue;
        if (!outputs[f]->Flush())
            return fail(Par2RepairFault::Write, staged[f]->TemporaryPath(), outputs[f]->LastError());
        outputs[f]->Close();
        ReadOnlyFile written(staged[f]->TemporaryPath());
        std::uint32_t type = 0;
        std::uint64_t size = 0;
        Md5 md5;
        bool good = written.Stat(type, size) && size == set.files[f].length;
        for (std::uint64_t done = 0; good && done < set.files[f].length;) {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(copy.size(), set.files[f].length - done));
            good = ReadPadded(written, copy.data(), take, done);
            md5.Update(copy.data(), take);
            done += take;
        }
        if (!good || md5.Finish() != set.files[f].md5)
            return fail(Par2RepairFault::Mismatch, Par2FilePath(folder, set.files[f].name), 0);
    }
    for (std::size_t f = 0; f < set.files.size(); ++f) {
        if (!outputs[f])
            continue;
        const bool replace = check.files[f].state == Par2FileState::Damaged;
        if (const int error = staged[f]->Commit(replace); error != 0)
            return fail(Par2RepairFault::Write, Par2FilePath(folder, set.files[f].name), error);
        result.rebuilt.push_back(f);
    }
    result.slicesRebuilt = m;
    return result;
}

}  // namespace tessera
