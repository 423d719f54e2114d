#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "JobView.h"
#include "StatusTexts.h"
#include "engine/JobPort.h"

// The dialog's side of a job: the source or destination field, the split or
// join list, the status line, the progress bar and the control states. Every
// call runs on the dialog's thread and returns when it has run there (a
// blocking queued call; a direct one when the caller already is on that
// thread).
class CDialogPort final : public tessera::JobPort {
public:
    explicit CDialogPort(JobView& dialog) : dialog_(dialog) {}

    std::string SourcePath() override;
    std::size_t PlanEntryCount() override;
    // The split list's lines read back as entries (kUnreadableEntry for one
    // that does not read).
    std::vector<tessera::SplitEntry> PlanEntries(std::size_t first, std::size_t count) override;
    std::string DestinationPath() override;
    std::size_t InputCount() override;
    std::vector<std::string> Inputs(std::size_t first, std::size_t count) override;
    // Shows the job's reports: the block being read or written and the end
    // in the status line, the progress in the bar.
    bool Report(const tessera::JobEvent& event) override;
    void SetRunning(bool running) override;

    // True once the job has switched the controls.
    [[nodiscard]] bool TouchedControls() const { return touchedControls_; }

    // What the job is, for the words of its end: a copy (split, join), a
    // check of the join list's inputs (listedIn: the checksum file checked
    // when it lists other files than the join list), or their repair. Called
    // before the run.
    enum class Task { Copy, Verify, Repair };
    void Show(Task task, std::string listedIn = {});
    // Shows text in the status line (a job refused before it began).
    void Say(const std::string& text) { SetStatus(text); }

    // Takes the job's fields and lists as they stand: from then on the port
    // answers from this copy, so that what was checked before the job is
    // what the job reads. Called on the worker's thread.
    void Freeze();

private:
    void SetStatus(const std::string& text);
    void SetProgress(int position);

    template <typename Function>
    auto OnDialogThread(Function function);

    struct Fields {
        std::string source;
        std::vector<std::string> plan;
        std::string destination;
        std::vector<std::string> inputs;
    };

    JobView& dialog_;
    std::atomic<bool> touchedControls_{false};
    std::optional<Fields> frozen_;
    Task task_ = Task::Copy;
    std::string listedIn_;
    // The Verdicts of a check or repair, in order.
    std::vector<tessera::FileFound> found_;
};
