#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "JobPort.h"
#include "StreamCut.h"
#include "engine/recovery/Par2Layout.h"
#include "plan/SplitEntry.h"

namespace tessera {

// How a split numbers its parts (stem + ".000" to ".999", PartNames.h).
enum class PartNumbering {
    // Each part at the lowest number free when it begins, filling gaps left
    // by other files; a part is written under its name as it is copied, and
    // an abort keeps what the part holds (the window).
    LowestFree,
    // One consecutive run from .000, every name taken before the first byte;
    // a name of the run that exists refuses the split (JobFault::PartsExist).
    // Each part is written under a temporary name and renamed over its own
    // once whole, so a part is there whole or not at all: a stop or failure
    // leaves the parts done and removes the rest of the run.
    FromZero,
    // The same run, numbered from just after the highest number that exists.
    AfterExisting,
};

// A whole split, as a front end asks for it.
struct SplitRequest {
    // The file to cut, and the plan: one part per entry, in order.
    std::string source;
    std::vector<SplitEntry> plan;
    // Where the parts, the checksum file and the recovery set go; empty:
    // beside the source.
    std::string folder;
    PartNumbering numbering = PartNumbering::LowestFree;
    // A checksum file "<source name>.sha256" beside the parts, listing each
    // part's SHA-256 and, when the plan is the source in order, the source's
    // (ChecksumsForSplit).
    bool checksums = false;
    // A recovery set "<source name>.par2" with its volumes beside the parts,
    // of the size and grain asked (amount 0: none).
    Par2Ask recovery;
    // The recovery set's creator text.
    std::string creator = "tessera";
    // An existing checksum file or recovery set at the names is replaced
    // (renamed over at the end, never written through); a recovery set left
    // beside the parts by an earlier split that this one does not replace is
    // removed. Off, either refuses the split (or is reported, for a set not
    // asked for).
    bool replace = false;
    // How the bytes move.
    JobSettings settings;

    // A stream cut as it is read, once, instead of a file by a plan (the
    // plan is then left empty): source is only the name its parts, its
    // checksum file and its recovery set are named after. Its parts are
    // numbered as PartNumbering says (LowestFree counts as FromZero); the
    // set is made from the parts read back once the stream has ended.
    struct Stream {
        bool on = false;
        StreamCut cut;
        // What is read; nullptr: standard input.
        NFile* input = nullptr;
    };
    Stream stream;
    // Each part handed to `sh -c filter` on its standard input (FILE set to
    // the part's name) instead of written; empty: written to its file.
    std::string filter;
    // Finishes an earlier split of the same plan (PartNumbering::FromZero):
    // before the first byte, each part there is compared with its range of
    // the source, its size then its bytes. A whole part is kept, one cut
    // short (its bytes the start of its range) is written anew, and any
    // other refuses the split by its name (JobFault::PartDiffers), as does a
    // part numbered past the plan; nothing is overwritten then. The parts
    // missing are written, and the checksum file and the set as if the
    // split had run in one go. JobResult::kept names the parts kept.
    bool resume = false;
};

// The split run: the source admitted (a source that is no regular file ends
// it at once, silently: JobEnd::NotStarted), the plan checked against it,
// the checksum file's, the recovery set's and the parts' names taken, all
// before the first byte; then every entry copied into its part, the digests
// and the recovery slices taken beside the copy; then the checksum file and
// the set put in place. What a failure, an abort or a signal leaves is told
// in PartNumbering; the checksum file and the set are never left but whole.
// The Ended event carries the parts written, and what became of the
// checksum file and the set.
JobResult RunSplit(const SplitRequest& request, JobReporter& reporter, std::atomic<bool>& abort);

// The split a front end's fields describe: its source and plan as the port
// hands them out, the rest as given.
[[nodiscard]] SplitRequest SplitRequestFrom(JobPort& port, SplitRequest rest = {});

}  // namespace tessera
