#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/recovery/Par2Reach.h"
#include "fileio/Admission.h"
#include "fileio/FileOpener.h"
#include "plan/SplitEntry.h"

namespace tessera {

struct JobEvent;

// The one channel every run reports through (split, join, verify, repair):
// the front end shows the events, and switches its controls when the run
// begins and ends. Every call may block while the front end serves it (the
// window serves it on its own thread); a run calls nothing else of it.
class JobReporter {
public:
    virtual ~JobReporter() = default;

    // True when the job must report every byte it copies (JobEvent::Bytes);
    // the job then never copies inside the kernel. Digests need no bytes
    // reported: a run takes them beside the copy.
    [[nodiscard]] virtual bool WantsBytes() const { return false; }
    // Every report of the run, in order. False refuses a PieceEnded: the job
    // fails with JobFault::Check. The return value of any other event is
    // ignored.
    virtual bool Report(const JobEvent& event) = 0;
    // The run has begun (true) or ended (false): a front end locks and
    // unlocks what the run reads. Called at most once each way per run, the
    // end after the Ended event.
    virtual void SetRunning(bool running) = 0;
};

// What a job asks of the front end that runs it, and what it tells it. A job
// is described by paths and plan lines, never by controls: the window answers
// from its fields and lists, the command line from its arguments.
class JobPort : public JobReporter {
public:
    // Split: the file to cut.
    virtual std::string SourcePath() = 0;
    // Split: how many entries the plan has, and entries [first, first +
    // count) of it, fewer at its end. A line of text that does not read back
    // as an entry comes as kUnreadableEntry.
    virtual std::size_t PlanEntryCount() = 0;
    virtual std::vector<SplitEntry> PlanEntries(std::size_t first, std::size_t count) = 0;

    // Join: the file to write, how many files to append to it, and the paths
    // [first, first + count) of them in order, fewer at the end.
    virtual std::string DestinationPath() = 0;
    virtual std::size_t InputCount() = 0;
    virtual std::vector<std::string> Inputs(std::size_t first, std::size_t count) = 0;
};

// How a job moves its bytes. The defaults are the window's pace.
struct JobSettings {
    // A 100 ms pause after every read and after every write.
    bool pace = true;
    // The writer is flushed to the disk after every block.
    bool flushEveryBlock = true;
    // Split: each part is flushed to the disk before the next begins; join:
    // the destination before the job ends.
    bool flushEveryPart = false;
    // Copies inside the kernel (copy_file_range) where the file systems allow
    // it and the front end wants no bytes reported; read and write otherwise.
    bool kernelCopy = false;
    // The files let go of the page cache as the job goes (the file layer's
    // streaming use, NFilePSDK::CacheUse); off, the kernel caches as it likes.
    bool streamingCache = true;
    // Opens every file of the job; nullptr: the real files.
    const FileOpener* files = nullptr;
    // Opens the files the checksums are taken from, beside the copy;
    // nullptr: as files.
    const FileOpener* hashFiles = nullptr;
};

enum class JobEnd {
    NotStarted,  // the split source is no regular file: nothing shown, nothing changed
    Finished,
    Aborted,
    Failed,
};

enum class JobFault {
    None,
    SourceOpen,          // split: the source cannot be opened
    SourceNotRegular,    // split: the source is no regular file (fileType)
    PlanLine,            // split: a plan entry starts before 0 or runs backwards (line)
    PlanPastEnd,         // split: a plan line ends past the end of the source (size)
    TooManyParts,        // split: more plan lines than free part names
    PartsExist,          // split: a name of its run of parts exists (path; PartNumbering::FromZero)
    ChecksumFile,        // split: the checksum file cannot be had (checksumFile says why); join, verify:
                         // the checksum file cannot be read (VerifyOutcome::read for verify)
    RecoverySet,         // split: the recovery set cannot be had; recoverySet says why
    PartCreate,          // split: a part file cannot be created
    DestinationOpen,     // join: the destination cannot be created or put in place
    DestinationExists,   // join: the destination exists and may not be replaced
    DestinationListed,   // join: the destination is one of the inputs
    InputOpen,           // join: an input cannot be opened or sized
    InputNotRegular,     // join: an input is no regular file (fileType)
    LongerThanSize,      // a source or input holds more bytes than its size (size) says
    Read,                // a read stopped short
    Write,               // a write or flush failed
    NoMemory,            // no transfer buffer
    Check,               // the front end refused a piece
    NoSha256,            // verify, repair: no library to compute SHA-256 with
    Recovery,            // repair: the recovery set cannot serve (RepairOutcome::repair says why)
    Filter,              // split: the command a part was handed to failed (path: the part; filterExit)
    StreamRead,          // split: reading the stream failed (error)
    PartDiffers,         // split --resume: a part there is not its range of the source (path; line: its index,
                         // size: its size; line past the plan: no part of it)
};

// A part a split wrote: its name and the source's range it holds.
struct WrittenPart {
    std::string path;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

// What became of a file a run writes or reads beside its pieces: a split's
// checksum file and recovery set, the checksum file a join checks against.
enum class SideState {
    NotAsked,    // not asked for (or, for a join, none found beside the inputs)
    Written,     // split: written and put in place
    Checked,     // join: the inputs were checked against it (the end says how that went)
    NotWritten,  // the job did not finish: its names were given back
    NoBytes,     // split: the plan is empty, or (a recovery set) its parts hold no bytes
    Exists,      // its name is taken, and replacing was not asked for
    IsSource,    // its name reaches the source itself (a link)
    NotAFile,    // a folder or another non-regular file stands at its name
    NoSha256,    // no library to compute SHA-256 with
    Create,      // it could not be created (error)
    Write,       // writing it or putting it in place failed (error)
    Unusable,    // join: it cannot be read, or does not list the inputs (read, match)
    Stale,       // split: an earlier split's set (files: its index and volumes) lies at its
                 // name, and this one makes none; error: why replace could not remove path
    Removed,     // split: that set was removed (replace)
    Layout,      // split: the recovery set asked for cannot be laid out (layoutFault)
};

struct SideFile {
    SideState state = SideState::NotAsked;
    // The checksum file; the recovery set's index file (<base>.par2).
    std::string path;
    // A recovery set: every file of it, the index file first.
    std::vector<std::string> files;
    // errno of Create and Write; 0 otherwise.
    int error = 0;
    // NoSha256: why the library could not be had.
    std::string why;
    // A recovery set: what it rebuilds (once laid out).
    Par2Reach reach;
    // Layout: why (Par2LayoutFault) and the numbers of it.
    int layoutFault = 0;
    std::uint64_t needed = 0;
    std::uint64_t limit = 0;
    // Unusable: why the checksum file cannot serve the join, as read
    // (ManifestFault, its 1-based line, the admission that refused it) and
    // as matched (JoinMatchFault, the index of the input concerned).
    int readFault = 0;
    std::size_t readLine = 0;
    Admission admission;
    int matchFault = 0;
    std::size_t matchInput = 0;
};

// Defined by the verify and repair runs; a run sets only its own.
struct VerifyOutcome;
struct RepairOutcome;

struct JobResult {
    JobEnd end = JobEnd::NotStarted;
    JobFault fault = JobFault::None;
    // The file the fault concerns; for an abort, the piece it cut short
    // (empty when it came between pieces).
    std::string path;
    // The part (split) or input (join) that the end came in the middle of,
    // whatever ended it; empty when it came between pieces.
    std::string cutShort;
    // errno of the fault, 0 when there is none.
    int error = 0;
    // PlanLine, PlanPastEnd: the 0-based index of the line.
    std::size_t line = 0;
    // SourceNotRegular, InputNotRegular: the kind of file found, as the
    // S_IFMT bits of its mode (0 when it could not be looked up).
    std::uint32_t fileType = 0;
    // PlanPastEnd, LongerThanSize: the size the file reported.
    std::int64_t size = -1;
    // Filter: the command's exit status, or (negative) the signal that ended it.
    int filterExit = 0;
    // A split of a stream: the bytes read from it.
    std::int64_t streamRead = 0;
    // A resumed split: how many of parts were there whole already, and kept.
    std::size_t kept = 0;

    // The whole outcome, as the Ended event carries it.
    // Split: the parts written whole, in plan order (a part cut short by an
    // abort is in path, not here).
    std::vector<WrittenPart> parts;
    // Split: its checksum file; join: the checksum file it checked against.
    SideFile checksumFile;
    // Split: its recovery set.
    SideFile recoverySet;
    // Verify and repair: what they found and did (their own headers).
    std::shared_ptr<const VerifyOutcome> verify;
    std::shared_ptr<const RepairOutcome> repair;

    // 0 for a job that ran to its end, completed or aborted; -1 otherwise.
    [[nodiscard]] int Code() const { return end == JobEnd::Finished || end == JobEnd::Aborted ? 0 : -1; }
};

// verify and repair: what a Verdict event says of one file.
enum class FileVerdict {
    Ok,          // intact
    Failed,      // its digest differs
    Unreadable,  // it cannot be opened or read (error)
    NotChecked,  // not looked at (verify: the source line, as a part failed)
    Missing,     // not there, or (count: its S_IFMT bits) no regular file; error: why it could not be opened
    Damaged,     // count: slices damaged
    Refused,     // its name is refused (it leaves the set's folder, ...)
    Rebuilt,     // repair: written anew; other: where the old file was kept
    Created,     // repair: it was missing and is there now
    Stale,       // the recovery set disagrees with the checksum file
    JoinedOk,    // verify: the parts joined match the source line
    JoinedFailed,  // verify: the parts joined differ from the source line
    ListedTwice,   // the recovery set lists another file of the same name
    ThroughLink,   // a symbolic link stands at the name or on its way: never followed
};

// A note a run gives that is no failure.
enum class JobNote {
    CheckingAgainst,  // join: path is the checksum file the inputs are checked against
    RecoveryShort,    // split, before the first byte: side is the recovery set, whose percentage rebuilds no lost part
};

// One report of a running job.
struct JobEvent {
    enum class Kind {
        PieceBegun,  // path, offset, size: a part file (split) or an input (join) is begun
        Reading,     // path: a block of the piece is being read
        Writing,     // path: the block just read is being written
        Bytes,       // data, count: bytes of the piece, in order, once each (WantsBytes)
        PieceEnded,  // path: the piece is complete
        Progress,    // position; done of total bytes copied (or hashed, read)
        Verdict,     // verify, repair: path, verdict, count, other, error: one file's state
        Note,        // note, path: something the front end may tell, no failure
        Ended,       // result: how the run ended, its whole outcome (not sent for JobEnd::NotStarted)
    };
    Kind kind = Kind::Progress;
    // The piece: a part file's name (split) or an input's path (join).
    std::string_view path;
    // PieceBegun: where the piece begins in the file it is read from (the
    // source's range of a part; 0 for a join input) and its length.
    std::int64_t offset = 0;
    std::int64_t size = 0;
    const char* data = nullptr;
    // Bytes: the bytes at data; Verdict: a count the verdict names (slices).
    std::size_t count = 0;
    FileVerdict verdict = FileVerdict::Ok;
    JobNote note = JobNote::CheckingAgainst;
    // Verdict: a second path (Rebuilt: where the old file was kept).
    std::string_view other;
    // Verdict: errno of Unreadable (or kNotRegularFile) and Missing.
    int error = 0;
    // Note: the file beside the pieces it concerns, as far as it is known.
    const SideFile* side = nullptr;
    // 0 to kProgressRange (Progress.h).
    int position = 0;
    std::int64_t done = 0;
    std::int64_t total = 0;
    const JobResult* result = nullptr;
};

}  // namespace tessera
