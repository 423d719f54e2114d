#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/recovery/Par2Check.h"
#include "fileio/FileSystem.h"

// Rebuilding the damaged and missing files of a recovery set from the
// recovery slices present, in stages:
// 1. Plan: the slices lost, the recovery slices that rebuild them and the
//    inverse of their matrix over GF(2^16); refused when too few recovery
//    slices remain or the computation would need more memory than allowed.
// 2. Survivors: each file to rebuild is staged under a temporary name beside
//    it, first holding the slices of it that survived.
// 3. Columns: the lost slices computed column range by column range, so that
//    memory stays within the limit whatever the slice size, on both cores.
// 4. Check: each staged file's MD5 against the set's.
// 5. Commit: every file that is replaced is first moved aside to a free
//    name ("<name>.1", "<name>.2", ...), all of them before any staged file
//    is put in place; then the staged files take their names.
// Nothing of the user's is changed before the commit, and a stop (between
// two column ranges) or a failure before it leaves nothing behind.
namespace tessera {

// The memory a repair may use for its computation unless told otherwise.
inline constexpr std::uint64_t kPar2RepairMemory = 256ull << 20;

enum class Par2RepairFault {
    None,
    NotUsable,   // the set itself could not be read
    NotEnough,   // too few recovery slices: `needed` more
    UnsafeName,  // a file's name leaves the set's folder, passes through a symbolic link, or is listed twice (path)
    NotRegular,  // what stands at a file's name is no regular file (fileType) or cannot be read (error)
    TooLarge,    // the computation would need memoryNeeded bytes, more than allowed
    Singular,    // the recovery slices present do not determine the lost ones
    Read,        // a file or volume could not be read (path, error)
    Write,       // a rebuilt file could not be written or put in place (path, error)
    Mismatch,    // a rebuilt file's MD5 does not match the set's (path)
    Stopped,     // stopped before the commit: nothing changed
    Stale,       // the checksum file beside the set finds intact a file the set finds damaged (path)
};

// A file the repair put in place.
struct Par2Rebuilt {
    std::size_t file = 0;  // index into Par2Set::files
    // The name (in the set, as Par2File::name) the file it replaced is kept
    // under; empty when it was missing.
    std::string keptAs;
};

struct Par2RepairResult {
    Par2RepairFault fault = Par2RepairFault::None;
    std::uint64_t needed = 0;
    std::uint64_t memoryNeeded = 0;
    std::string path;
    int error = 0;
    std::uint32_t fileType = 0;
    // The files put in place, also when the commit failed part way: those
    // before the fault are in place, and what they replaced kept.
    std::vector<Par2Rebuilt> rebuilt;
    // A commit that failed part way: the files moved aside that are still
    // there under the names kept (file index, kept name), not replaced.
    std::vector<Par2Rebuilt> movedAside;
    // Temporary files that could not be removed (path, errno).
    std::vector<std::pair<std::string, int>> leftBehind;
    std::uint64_t slicesRebuilt = 0;
};

struct Par2RepairSettings {
    const FileSystem* files = nullptr;  // nullptr: the real files
    // The computation's buffers and matrices stay within this.
    std::uint64_t memoryLimit = kPar2RepairMemory;
    // Asked before every column range and every block copied; a stop before
    // the commit changes nothing.
    const std::atomic<bool>* abort = nullptr;
    // Bytes read and written so far of the whole repair's total, from time
    // to time, on the calling thread.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// What rebuilding the lost slices takes: which they are, which recovery
// slices rebuild them, and the inverse of the matrix that ties them.
struct Par2RepairPlan {
    struct Slot {
        std::size_t file = 0;     // index into Par2Set::files
        std::uint64_t slice = 0;  // within the file
    };
    std::vector<Slot> lost;             // by their index among all input slices
    std::vector<std::size_t> recovery;  // into Par2Set::recovery, one a lost slice
    // lost[k] = sum over j of inverse[k * m + j] * (recovery[j] less what the
    // surviving slices put in it).
    std::vector<std::uint16_t> inverse;
    std::vector<std::uint16_t> constants;  // of every input slice, in order
    std::uint64_t columnRange = 0;      // bytes of each slice computed at once
};

// The memory a repair of `lost` slices of a set of `slices` input slices
// needs with column ranges of `range` bytes.
[[nodiscard]] std::uint64_t Par2RepairMemory(std::uint64_t lost, std::uint64_t slices, std::uint64_t range);

// The most lost slices of a set of `slices` input slices of sliceSize bytes
// that one repair rebuilds within memoryLimit (PlanPar2Repair refuses more
// as TooLarge): what a set can promise to rebuild.
[[nodiscard]] std::uint64_t Par2RepairableSlices(std::uint64_t slices, std::uint64_t sliceSize,
                                                 std::uint64_t memoryLimit = kPar2RepairMemory);

// Stage 1 alone: the plan, or the fault (NotUsable, UnsafeName, NotEnough,
// TooLarge, Singular) in result. Nothing is allocated before the memory it
// needs is known to be within memoryLimit.
[[nodiscard]] bool PlanPar2Repair(const Par2Set& set, const Par2Check& check, std::uint64_t memoryLimit,
                                  Par2RepairPlan& plan, Par2RepairResult& result);

// Repairs the files `check` found damaged or missing, every stage in turn.
[[nodiscard]] Par2RepairResult RepairPar2Set(const Par2Set& set, const Par2Check& check, const std::string& folder,
                                             const Par2RepairSettings& settings = {});

}  // namespace tessera
