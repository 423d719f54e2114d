#include "WindowJobs.h"

#include <string>
#include <vector>

#include "CDialogPort.h"
#include "StatusTexts.h"
#include "engine/Checksums.h"
#include "engine/Jobs.h"
#include "engine/ManifestFiles.h"
#include "engine/kernels/Sha256.h"

namespace tessera::ui {

void RunWindowSplit(CDialogPort& port, std::atomic<bool>& abort, const WindowSplitChoices& choices)
{
    // The window's pace: pauses after every read and write, and a flush after
    // every block.
    JobSettings settings;
    settings.partFolder = choices.folder;
    if (!choices.checksums) {
        RunSplitJob(port, abort, settings);
        return;
    }
    port.Freeze();
    const std::string source = port.SourcePath();
    std::vector<SplitEntry> entries;
    for (const std::string& line : port.PlanLines(0, port.PlanLineCount())) {
        SplitEntry entry;
        if (ReadEntry(line, entry))
            entries.push_back(entry);
    }
    const SplitChecksums plan = ChecksumsForSplit(source, entries);
    if (!plan.write) {
        RunSplitJob(port, abort, settings);
        return;
    }
    SplitManifest manifest;
    switch (manifest.Reserve(source, choices.folder, false)) {
    case ManifestFileFault::None: break;
    case ManifestFileFault::Exists:
        port.SetStatus(kStatusCreateFailed + manifest.Path() + kStatusChecksumFileExists);
        return;
    case ManifestFileFault::IsSource:
        port.SetStatus(kStatusCreateFailed + manifest.Path() + kStatusChecksumFileIsSource);
        return;
    default: port.SetStatus(kStatusCreateFailed + manifest.Path()); return;
    }
    if (!Sha256::Load().empty()) {
        port.SetStatus(kStatusCreateFailed + manifest.Path() + kStatusNoSha256);
        return;
    }
    JobChecksums checks;
    checks.whole = plan.whole;
    settings.checksums = &checks;
    const JobResult result = RunSplitJob(port, abort, settings);
    if (result.end != JobEnd::Finished)
        return;  // the name taken is given back
    switch (manifest.Write(port.Pieces(), checks, true)) {
    case ManifestFileFault::None: break;
    case ManifestFileFault::Write: port.SetStatus(kStatusWriteFailed + manifest.Path()); break;
    default: port.SetStatus(kStatusCreateFailed + manifest.Path()); break;
    }
}

void RunWindowJoin(CDialogPort& port, std::atomic<bool>& abort)
{
    JobSettings settings;
    port.Freeze();
    const JoinManifest manifest = ManifestBesideInputs(port.Inputs(0, port.InputCount()), false);
    JobChecksums checks;
    if (manifest.Usable() && Sha256::Load().empty()) {
        ExpectDigests(manifest, checks);
        settings.checksums = &checks;
        port.CheckingAgainst(manifest.path);
    }
    RunJoinJob(port, abort, settings);
}

}  // namespace tessera::ui
