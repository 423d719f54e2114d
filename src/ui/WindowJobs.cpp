#include "WindowJobs.h"

#include "CDialogPort.h"
#include "StatusTexts.h"
#include "engine/JoinRun.h"
#include "engine/RepairRun.h"
#include "engine/SetBeside.h"
#include "engine/SplitRun.h"
#include "engine/VerifyRun.h"

namespace tessera::ui {

void RunWindowSplit(CDialogPort& port, std::atomic<bool>& abort, const WindowSplitChoices& choices)
{
    port.Freeze();
    SplitRequest request;
    request.checksums = choices.checksums;
    request.recovery = choices.recovery;
    request.folder = choices.folder;
    RunSplit(SplitRequestFrom(port, std::move(request)), port, abort);
}

void RunWindowJoin(CDialogPort& port, std::atomic<bool>& abort)
{
    port.Freeze();
    JoinRequest request;
    request.check = JoinCheck::Beside;
    request.uncheckedWithoutSha256 = true;
    RunJoin(JoinRequestFrom(port, std::move(request)), port, abort);
}

void RunWindowVerify(CDialogPort& port, std::atomic<bool>& abort)
{
    port.Freeze();
    const InputsCheck check = CheckBesideInputs(port.Inputs(0, port.InputCount()));
    if (check.Empty()) {
        port.Say(kStatusNothingToCheck);
        return;
    }
    port.Show(CDialogPort::Task::Verify, check.listDiffers ? check.request.manifest : std::string());
    port.Say(detail::WithPath(kStatusChecking,
                              check.request.manifest.empty() ? check.request.set : check.request.manifest));
    (void)RunVerify(check.request, port, abort);
}

void RunWindowRepair(CDialogPort& port, std::atomic<bool>& abort)
{
    port.Freeze();
    RepairRequest request;
    request.set = RecoverySetBesideInputs(port.Inputs(0, port.InputCount()));
    if (request.set.empty()) {
        port.Say(kStatusNoSetToRepair);
        return;
    }
    port.Show(CDialogPort::Task::Repair);
    port.Say(detail::WithPath(kStatusRepairing, request.set));
    (void)RunRepair(request, port, abort);
}

}  // namespace tessera::ui
