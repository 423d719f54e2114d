#pragma once

#include <string>
#include <vector>

#include "Manifest.h"
#include "fileio/StagedFile.h"

// The checksum files of jobs, as both front ends write and read them: the
// one a split leaves beside its parts, and the one a join checks its inputs
// against. The reasons come back as values; the front ends word them.
namespace tessera {

struct JobChecksums;
struct SideFile;
struct WrittenPart;

enum class ManifestFileFault {
    None,
    IsSource,   // the manifest's name reaches the source itself (a link)
    Exists,     // the name is taken and replacing was not asked for
    Create,     // the file could not be created (error)
    NoDigests,  // the job gave fewer digests than parts
    Write,      // writing or flushing it failed (error)
    Commit,     // putting it in place failed (error)
};

// The checksum file of one split: its name is taken before the first part is
// written, so that a second split of the same source is refused at once, and
// it is written once the job has finished. Replaced (replace), it is written
// beside and renamed over the old name at the end, so that a link at that
// name to the source or a part is never written through. Destroyed or
// discarded before Write, it leaves nothing behind.
class SplitManifest {
public:
    // Takes "<source name>.sha256" in partFolder (the source's folder when
    // empty).
    [[nodiscard]] ManifestFileFault Reserve(const std::string& source, const std::string& partFolder, bool replace);

    // After a finished job: a line for each of parts (the parts' paths in
    // plan order, checks.digests beside them), then the source's line when
    // checks.wholeDigest holds one; flushed to the disk with flush.
    [[nodiscard]] ManifestFileFault Write(const std::vector<std::string>& parts, const JobChecksums& checks,
                                          bool flush);
    void Discard() { file_.Discard(); }

    [[nodiscard]] const std::string& Path() const { return path_; }
    // The errno of the last fault; 0 when it has none.
    [[nodiscard]] int Error() const { return error_; }

    // Write for the parts a split wrote, with side (the checksum file's part
    // of the job's result) set to what became of it: true once written.
    [[nodiscard]] bool WriteFor(const std::vector<WrittenPart>& written, const JobChecksums& checks, bool flush,
                                SideFile& side);

private:
    std::string source_;
    std::string path_;
    ReservedFile file_;
    int error_ = 0;
};

// Whether a split by plan of a source of size bytes writes a checksum file
// (only with a plan), and whether the file then lists the source's digest
// too (the plan covers it in order, CoversInOrder). The one rule, for every
// split.
struct SplitChecksums {
    bool write = false;
    bool whole = false;
};
[[nodiscard]] SplitChecksums ChecksumsForSplit(const std::vector<SplitEntry>& plan, std::int64_t size);

// A join's checksum file, read and matched with the inputs.
struct JoinManifest {
    std::string path;  // empty: none to check against
    ManifestRead read;
    JoinMatch match;  // looked at only when read.fault is None
    [[nodiscard]] bool Usable() const
    {
        return !path.empty() && read.fault == ManifestFault::None && match.fault == JoinMatchFault::None;
    }
};

// The manifest at path, read and matched with the inputs (MatchJoinInputs).
[[nodiscard]] JoinManifest ReadJoinManifest(const std::string& path, const std::vector<std::string>& inputs);

// The manifest a join checks against unless told otherwise: the one a split
// wrote beside the first input (ManifestBesidePart). For a series it is used
// whenever it is there, and its faults stop the join; for other inputs only
// when it lists every one of them (else path comes back empty).
[[nodiscard]] JoinManifest ManifestBesideInputs(const std::vector<std::string>& inputs, bool series);

// What a usable manifest asks of a join: each input's digest, and the
// source's when it lists one.
void ExpectDigests(const JoinManifest& manifest, JobChecksums& checks);

}  // namespace tessera
