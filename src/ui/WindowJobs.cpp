#include "WindowJobs.h"

#include "CDialogPort.h"
#include "engine/JoinRun.h"
#include "engine/SplitRun.h"

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

}  // namespace tessera::ui
