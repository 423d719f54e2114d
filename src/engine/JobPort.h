#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessera {

// What a job asks of the front end that runs it, and what it tells it. A job
// is described by paths and plan lines, never by controls: the window answers
// from its fields and lists, the command line from its arguments.
//
// Every call may block while the front end serves it (the window serves it on
// its own thread); the job calls nothing else of the front end.
class JobPort {
public:
    virtual ~JobPort() = default;

    // Split: the file to cut.
    virtual std::string SourcePath() = 0;
    // Split: how many lines the plan has, and lines [first, first + count) of
    // it as "start end" text, fewer at its end.
    virtual std::size_t PlanLineCount() = 0;
    virtual std::vector<std::string> PlanLines(std::size_t first, std::size_t count) = 0;

    // Join: the file to write, how many files to append to it, and the paths
    // [first, first + count) of them in order, fewer at the end.
    virtual std::string DestinationPath() = 0;
    virtual std::size_t InputCount() = 0;
    virtual std::vector<std::string> Inputs(std::size_t first, std::size_t count) = 0;

    // Replaces the one-line status text.
    virtual void SetStatus(const std::string& text) = 0;
    // Progress, 0 to kProgressRange.
    virtual void SetProgress(int position) = 0;
    // The job has begun (true) or ended (false): a front end locks and
    // unlocks what the job reads. Called at most once each way per job.
    virtual void SetRunning(bool running) = 0;
};

// Sees every piece of a job as it is copied: a command line keeps checksums
// with it, reports speed, and names the piece an interruption cut short. All
// calls come from the job's thread.
class JobObserver {
public:
    virtual ~JobObserver() = default;

    // True when Bytes must see every byte copied; the job then never copies
    // inside the kernel.
    [[nodiscard]] virtual bool WantsBytes() const { return false; }
    // A part file (split) or an input (join) of `size` bytes is begun.
    virtual void Begin(const std::string& /*path*/, std::int64_t /*size*/) {}
    // Bytes of the current piece, in order, once each.
    virtual void Bytes(const char* /*data*/, std::size_t /*size*/) {}
    // The current piece is complete. False fails the job (JobFault::Check).
    [[nodiscard]] virtual bool End(const std::string& /*path*/) { return true; }
    // After every block: bytes copied so far of the job's total.
    virtual void Copied(std::int64_t /*done*/, std::int64_t /*total*/) {}
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
    // it and no observer wants the bytes; read and write otherwise.
    bool kernelCopy = false;
    // The files let go of the page cache as the job goes (the file layer's
    // streaming use, NFilePSDK::CacheUse); off, the kernel caches as it likes.
    bool streamingCache = true;
    // Split: the folder the part files go into; empty: beside the source.
    std::string partFolder;
    JobObserver* observer = nullptr;
};

enum class JobEnd {
    NotStarted,  // the split source is no regular file: nothing shown, nothing changed
    Finished,
    Aborted,
    Failed,
};

enum class JobFault {
    None,
    SourceOpen,         // split: the source cannot be opened
    PlanLine,           // split: a plan line does not read back or runs backwards
    TooManyParts,       // split: more plan lines than free part names
    PartCreate,         // split: a part file cannot be created
    DestinationOpen,    // join: the destination cannot be created
    DestinationListed,  // join: the destination is one of the inputs
    InputOpen,          // join: an input cannot be opened or sized
    Read,               // a read stopped short
    Write,              // a write or flush failed
    NoMemory,           // no transfer buffer
    Check,              // the observer refused a piece
};

struct JobResult {
    JobEnd end = JobEnd::NotStarted;
    JobFault fault = JobFault::None;
    // The file the fault concerns; for an abort, the piece it cut short
    // (empty when it came between pieces).
    std::string path;
    // errno of the fault, 0 when there is none.
    int error = 0;
    // PlanLine: the 0-based index of the line.
    std::size_t line = 0;

    // 0 for a job that ran to its end, completed or aborted; -1 otherwise.
    [[nodiscard]] int Code() const { return end == JobEnd::Finished || end == JobEnd::Aborted ? 0 : -1; }
};

}  // namespace tessera
