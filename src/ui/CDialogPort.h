#pragma once

#include <atomic>
#include <string>

#include "engine/DialogPort.h"

class CTesseraDlg;

// The worker's way to the dialog: every call runs on the dialog's thread and
// returns when it has run there (a blocking queued call; a direct one when the
// caller already is on that thread).
class CDialogPort final : public DialogPort {
public:
    explicit CDialogPort(CTesseraDlg& dialog) : dialog_(dialog) {}

    std::string FieldText(int edit) override;
    int ListCount(int list) override;
    std::string ListLine(int list, int index) override;
    void SetStatus(const std::string& text) override;
    void SetProgress(int position) override;
    void ApplyControlStates(const ControlStates& states) override;

    // True once the job has switched the controls.
    [[nodiscard]] bool TouchedControls() const { return touchedControls_; }

private:
    template <typename Function>
    auto OnDialogThread(Function function);

    CTesseraDlg& dialog_;
    std::atomic<bool> touchedControls_{false};
};
