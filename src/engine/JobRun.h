#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "JobPort.h"

// Every job, whatever it does, is one run of the engine below both front
// ends: a function that takes the whole request, reports through one
// JobReporter and returns the outcome that its Ended event carried.
//
//     JobResult RunSplit(const SplitRequest&, JobReporter&, std::atomic<bool>& abort);
//     JobResult RunJoin(const JoinRequest&, JobReporter&, std::atomic<bool>& abort);
//     (verify and repair alike, each with its own request)
//
// A run:
// - takes every name it will create before its first byte is written, and
//   refuses what can be known to fail before then;
// - switches the front end to running (SetRunning(true)) once it has begun;
// - reports its pieces, its blocks, Verdicts and Notes, and Progress;
// - commits (renames what it staged into place, writes what it writes last);
// - on a failure, an abort or a signal (the front end's handler sets abort),
//   removes everything it created that its front end does not keep;
// - ends with exactly one Ended event, carrying the whole outcome, and then
//   the front end idle (SetRunning(false)).
// A run may block for as long as the job takes: the window calls it on its
// worker thread, the command line on its only one. Nothing of the run is left
// running when it returns.
namespace tessera {

// A run's side of its JobReporter. One per run.
class RunReports {
public:
    RunReports(JobReporter& reporter, std::atomic<bool>& abort) : reporter_(reporter), abort_(abort) {}
    // A run left by an exception still gives the front end back its controls.
    ~RunReports();
    RunReports(const RunReports&) = delete;
    RunReports& operator=(const RunReports&) = delete;

    [[nodiscard]] JobReporter& Reporter() { return reporter_; }
    [[nodiscard]] std::atomic<bool>& Abort() { return abort_; }
    [[nodiscard]] bool AbortRequested() const { return abort_.load(); }

    // The front end's running state; once.
    void Start();
    [[nodiscard]] bool Started() const { return started_; }

    // Progress at position (0 to kProgressRange), done of total.
    void Progress(int position, std::int64_t done, std::int64_t total);
    // Progress of done of total, the position their ratio (a full bar for a
    // total of 0).
    void Progress(std::int64_t done, std::int64_t total);
    // One file's state (verify, repair).
    void Verdict(FileVerdict verdict, std::string_view path, std::size_t count = 0, std::string_view other = {},
                 int error = 0);
    void Note(JobNote note, std::string_view path);
    // Any other event; the front end's answer.
    bool Send(const JobEvent& event);

    // The Ended event with the whole outcome, then the front end idle. A run
    // that failed leaves the bar where it stood; any other shows it full.
    // done and total are the last Progress's. A run that never started
    // (JobEnd::NotStarted) reports nothing.
    JobResult End(JobResult result, std::int64_t done = 0, std::int64_t total = 0);

private:
    JobReporter& reporter_;
    std::atomic<bool>& abort_;
    bool started_ = false;
    bool ended_ = false;
};

}  // namespace tessera
