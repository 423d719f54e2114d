#pragma once

#include <atomic>
#include <string>

#include "engine/JobPort.h"

class CTesseraDlg;

// The dialog's side of a job: the source or destination field, the split or
// join list, the status line, the progress bar and the control states. Every
// call runs on the dialog's thread and returns when it has run there (a
// blocking queued call; a direct one when the caller already is on that
// thread).
class CDialogPort final : public tessera::JobPort {
public:
    explicit CDialogPort(CTesseraDlg& dialog) : dialog_(dialog) {}

    std::string SourcePath() override;
    std::size_t PlanLineCount() override;
    std::vector<std::string> PlanLines(std::size_t first, std::size_t count) override;
    std::string DestinationPath() override;
    std::size_t InputCount() override;
    std::vector<std::string> Inputs(std::size_t first, std::size_t count) override;
    // Shows the job's reports: the block being read or written and the end
    // in the status line, the progress in the bar.
    bool Report(const tessera::JobEvent& event) override;
    void SetRunning(bool running) override;

    // True once the job has switched the controls.
    [[nodiscard]] bool TouchedControls() const { return touchedControls_; }

private:
    void SetStatus(const std::string& text);
    void SetProgress(int position);

    template <typename Function>
    auto OnDialogThread(Function function);

    CTesseraDlg& dialog_;
    std::atomic<bool> touchedControls_{false};
};
