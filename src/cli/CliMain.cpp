#include "CliMain.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "Manifest.h"
#include "Messages.h"
#include "PlanTools.h"
#include "ProgressLine.h"
#include "RecoveryTexts.h"
#include "Series.h"
#include "Repair.h"
#include "Verify.h"
#include "engine/Checksums.h"
#include "engine/Jobs.h"
#include "engine/PartNames.h"
#include "engine/ListedJobPort.h"
#include "engine/ManifestFiles.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Create.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"
#include "fileio/StagedFile.h"

namespace tessera::cli {

namespace {

constexpr const char* kProgram = "tessera-cli";

std::atomic<bool> g_abort{false};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnStopSignal(int signal)
{
    g_signal = signal;
    g_abort.store(true);
}

// SIGINT and SIGTERM stop a job between blocks, as Abort does in the window.
void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool ProgressWanted(const Options& options)
{
    return !options.quiet && ::isatty(STDERR_FILENO) == 1;
}

// The size of the file to cut, or the message why it cannot be cut.
std::optional<std::int64_t> SourceSize(const std::string& path, std::string& why)
{
    const Admission admission = AdmitFile(path);
    if (admission.Admitted())
        return admission.size;
    why = RefusalText(path, admission);
    return std::nullopt;
}

// A job's refusal of a file it reads, as the admission that refused it.
Admission AdmissionOf(const JobResult& result)
{
    Admission admission;
    admission.error = result.error;
    switch (result.fault) {
    case JobFault::SourceNotRegular:
    case JobFault::InputNotRegular:
        admission.refusal = result.fileType == 0 ? Admission::Refusal::NotFound : Admission::Refusal::NotRegular;
        if (admission.error == 0 && result.fileType == 0)
            admission.error = ENOENT;
        admission.type = result.fileType;
        break;
    case JobFault::LongerThanSize:
        admission.refusal = Admission::Refusal::LongerThanSize;
        admission.size = result.size;
        break;
    default: admission.refusal = Admission::Refusal::Open; break;
    }
    return admission;
}

std::optional<std::vector<std::string>> Plan(const Options& options, std::int64_t size, std::string& why)
{
    PlanResult plan = BuildPlan(options.source, size, options.tools, std::cin);
    for (const std::string& notice : plan.notices)
        std::fprintf(stderr, "%s: %s\n", kProgram, notice.c_str());
    if (!plan.error.empty()) {
        why = plan.error;
        return std::nullopt;
    }
    return std::move(plan.lines);
}

int RunPlan(const Options& options)
{
    std::string why;
    const std::optional<std::int64_t> size = SourceSize(options.source, why);
    if (!size)
        return Fail(why);
    const std::optional<std::vector<std::string>> lines = Plan(options, *size, why);
    if (!lines)
        return Fail(why);
    if (options.json) {
        const std::string json = PlanJson(*lines);
        std::fwrite(json.data(), 1, json.size(), stdout);
    } else {
        for (const std::string& line : *lines) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(WithError("cannot write the plan", errno));
    return kExitDone;
}

// --- Jobs -------------------------------------------------------------------

// The job described by the command line, and what it reports: the progress
// line and the names of the pieces done. The digests come from the engine
// (JobSettings::checksums), taken beside the copy.
class CliPort : public ListedJobPort {
public:
    explicit CliPort(ProgressLine& progress) : progress_(progress) {}

    // join --check: the checksum file, for the messages.
    std::string manifest;
    // The pieces completed, in order.
    std::vector<std::string> pieces;

    bool Report(const JobEvent& event) override
    {
        switch (event.kind) {
        case JobEvent::Kind::PieceEnded: pieces.emplace_back(event.path); break;
        case JobEvent::Kind::Progress: progress_.Update(event.done, event.total); break;
        default: break;
        }
        return true;
    }

private:
    ProgressLine& progress_;
};

JobSettings SettingsFor(const Options& options)
{
    JobSettings settings;
    if (!options.pace) {
        settings.pace = false;
        settings.flushEveryBlock = false;
        settings.kernelCopy = true;
        settings.streamingCache = false;
    }
    settings.flushEveryPart = options.sync;
    settings.partFolder = options.into;
    // A join's output appears whole or not at all, and replaces a file only
    // when asked.
    settings.replaceDestination = options.force;
    settings.stageDestination = true;
    return settings;
}

// The message for a job that did not finish, and the exit status. A join
// names its destination, which a stop leaves as it was.
int Report(const JobResult& result, const CliPort& port, const std::string& what,
           const std::string& destination = {})
{
    switch (result.end) {
    case JobEnd::Finished:
        return kExitDone;
    case JobEnd::Aborted: {
        const int signal = g_signal != 0 ? g_signal : SIGINT;
        const std::string stopped = "stopped by " + std::string(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        if (!destination.empty())
            Fail(stopped + (result.path.empty() ? "" : " in " + Quoted(result.path)) + "; " + Quoted(destination) +
                 " was not written");
        else
            Fail(stopped + (result.path.empty() ? " between two parts" : "; " + Quoted(result.path) + " was cut short"));
        return 128 + signal;
    }
    case JobEnd::NotStarted:
    case JobEnd::Failed:
        break;
    }
    const std::string path = Quoted(result.path);
    switch (result.fault) {
    case JobFault::SourceNotRegular:
    case JobFault::InputNotRegular:
    case JobFault::SourceOpen:
    case JobFault::InputOpen:
    case JobFault::LongerThanSize:
        return Fail(RefusalText(result.path, AdmissionOf(result)));
    case JobFault::PlanLine:
        return Fail("plan line " + std::to_string(result.line + 1) + " does not read back as \"start end\"");
    case JobFault::PlanPastEnd:
        return Fail("plan line " + std::to_string(result.line + 1) + " ends past the end of " + path + " (" +
                    std::to_string(result.size) + " bytes)");
    case JobFault::TooManyParts:
        return Fail("cannot " + what + ": too few of the part names .000 to .999 are free for the plan");
    case JobFault::PartCreate:
    case JobFault::DestinationOpen:
        return Fail(WithError("cannot create " + path, result.error));
    case JobFault::DestinationExists:
        return Fail(path + " exists; --force replaces it");
    case JobFault::DestinationListed:
        return Fail("cannot join into " + path + ": it is one of the inputs");
    case JobFault::Read:
        return Fail(result.error == 0 ? "cannot read " + path + ": it ended early"
                                      : WithError("cannot read " + path, result.error));
    case JobFault::Write:
        return Fail(result.error == 0 ? "cannot write " + path + ": it does not hold the bytes copied into it"
                                      : WithError("cannot write " + path, result.error));
    case JobFault::NoMemory:
        return Fail("no memory for the transfer buffer");
    case JobFault::Check:
        if (port.manifest.empty())
            return Fail("checksum mismatch in " + path);
        if (result.path == port.destination)
            return Fail(path + " does not match the source's checksum in " + Quoted(port.manifest));
        return Fail(path + " does not match its checksum in " + Quoted(port.manifest));
    case JobFault::None:
        break;
    }
    return Fail("cannot " + what);
}

// A split's port that also keeps the names of the parts it wrote.
class SplitPort : public CliPort {
public:
    using CliPort::CliPort;
    std::vector<std::string> parts;
    bool Report(const JobEvent& event) override
    {
        if (event.kind == JobEvent::Kind::PieceBegun)
            parts.emplace_back(event.path);
        return CliPort::Report(event);
    }
};

// A note on standard error, which is no failure.
void Note(const std::string& text)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
}

int RunSplit(const Options& options)
{
    std::string why;
    if (!options.into.empty()) {
        int error = 0;
        const std::uint32_t type = FileTypeAt(options.into, &error);
        if (type != S_IFDIR)
            return Fail(WithError("cannot use " + Quoted(options.into), type == 0 ? error : ENOTDIR));
    }
    const Par2Ask& ask = options.recoveryAsk;
    const std::optional<std::int64_t> size = SourceSize(options.source, why);
    if (!size)
        return Fail(why);
    std::optional<std::vector<std::string>> lines = Plan(options, *size, why);
    if (!lines)
        return Fail(why);
    // An empty plan still goes to the job, which admits the source: a file
    // whose size is not its length is refused rather than cut into nothing.
    const bool checksum = options.checksum && !lines->empty();

    // The checksum file's name is taken before the first part is written.
    SplitManifest manifest;
    if (checksum) {
        const ManifestFileFault fault = manifest.Reserve(options.source, options.into, options.force);
        const std::string manifestPath = Quoted(manifest.Path());
        switch (fault) {
        case ManifestFileFault::None: break;
        case ManifestFileFault::IsSource:
            return Fail("cannot write " + manifestPath + ": it is " + Quoted(options.source) + " itself, through a link");
        case ManifestFileFault::Exists: return Fail(manifestPath + " exists; --force replaces it");
        default: return Fail(WithError("cannot create " + manifestPath, manifest.Error()));
        }
    }

    if (checksum) {
        if (const std::string why = Sha256::Load(); !why.empty())
            return Fail("cannot make checksums: " + why);
    }

    // The recovery set's names are taken before the first part too; its
    // volumes are filled while the parts are copied and put in place after.
    std::unique_ptr<Par2Creation> recovery;
    Par2Reach reach;
    if (ask.amount > 0) {
        std::vector<SplitEntry> entries;
        std::vector<std::int64_t> lengths;
        for (const std::string& line : *lines) {
            SplitEntry entry;
            if (ReadEntry(line, entry)) {
                entries.push_back(entry);
                lengths.push_back(entry.end - entry.start);
            }
        }
        Par2Planned planned = PlanPar2ForPlan(entries, ask);
        if (planned.fault != Par2LayoutFault::None)
            return Fail(LayoutFaultText(planned, ask));
        Par2Layout layout = std::move(planned.layout);
        if (layout.sliceSize == 0) {
            Note("no recovery set: the parts hold no bytes");
        } else {
            reach = Par2ReachOf(lengths, layout.sliceSize, layout.recoverySlices);
            // Said before the first byte, even when quiet.
            if (ask.kind == Par2Ask::Kind::Percent && reach.lostParts == 0)
                Note(ShortPercentText(ask.amount, reach));
            recovery = std::make_unique<Par2Creation>(std::move(layout), std::string(kProgram) + " " + TESSERA_VERSION,
                                                      g_abort);
            // The set is named as the parts are, beside them.
            const int error = recovery->Reserve(PartStem(options.source, options.into), options.force);
            if (error == EEXIST && !options.force)
                return Fail(Quoted(recovery->FaultPath()) + " exists; --force replaces it");
            if (error != 0)
                return Fail(WithError("cannot create " + Quoted(recovery->FaultPath()), error));
        }
    }
    ProgressLine progress(stderr, ProgressWanted(options));
    SplitPort port(progress);
    JobChecksums checks;
    std::vector<SplitEntry> entries;
    for (const std::string& line : *lines) {
        SplitEntry entry;
        if (ReadEntry(line, entry))
            entries.push_back(entry);
    }
    checks.whole = checksum && CoversInOrder(entries, *size);
    port.source = options.source;
    port.plan = std::move(*lines);

    CatchStopSignals();
    JobSettings settings = SettingsFor(options);
    if (checksum)
        settings.checksums = &checks;
    settings.recovery = recovery.get();
    const JobResult result = RunSplitJob(port, g_abort, settings);
    progress.Clear();
    // Parts that do not begin at .000 follow another split's.
    if (const std::string note = SplitSeriesNote(port.parts); !note.empty())
        Note(note);
    if (result.end != JobEnd::Finished)
        return Report(result, port, "split " + Quoted(options.source));

    if (checksum) {
        const std::string manifestPath = Quoted(manifest.Path());
        switch (manifest.Write(port.pieces, checks, options.sync)) {
        case ManifestFileFault::None: break;
        case ManifestFileFault::NoDigests: return Fail("cannot write " + manifestPath + ": the digests are missing");
        case ManifestFileFault::Write: return Fail(WithError("cannot write " + manifestPath, manifest.Error()));
        default: return Fail(WithError("cannot create " + manifestPath, manifest.Error()));
        }
    }
    if (recovery) {
        if (const int error = recovery->Commit(options.sync); error != 0)
            return Fail(WithError("cannot write " + Quoted(recovery->FaultPath()), error));
        if (!options.quiet)
            Note(Quoted(recovery->Names().front()) + " " + ReachText(reach));
    }
    return kExitDone;
}

int RunJoin(const Options& options)
{
    if (options.output == "-") {
        std::fprintf(stderr, "%s: -o -: a join is written to a file; standard output is not supported\n", kProgram);
        return kExitUsage;
    }
    std::vector<std::string> inputs = options.inputs;
    if (!options.series.empty()) {
        SeriesFound series = FindSeries(options.series);
        if (!series.error.empty())
            return Fail(series.error);
        inputs = std::move(series.parts);
        // Where the series stopped. Parts beyond a missing number refuse
        // the join: its output would lack them.
        const SeriesEnd end = DescribeSeriesEnd(inputs);
        if (end.gap)
            return Fail(end.note);
        if (!end.note.empty() && !options.quiet)
            Note(end.note);
    }

    // Without --check, the checksum file a split left beside the first input.
    JoinManifest manifest;
    if (!options.check.empty()) {
        manifest = ReadJoinManifest(options.check, inputs);
    } else if (!options.noCheck) {
        manifest = ManifestBesideInputs(inputs, !options.series.empty());
        if (!manifest.path.empty() && !options.quiet)
            Note("checking against " + Quoted(manifest.path) + " (--no-check joins unchecked)");
    }

    ProgressLine progress(stderr, ProgressWanted(options));
    CliPort port(progress);
    port.destination = options.output;
    JobSettings settings = SettingsFor(options);
    JobChecksums checks;
    if (!manifest.path.empty()) {
        if (!manifest.Usable()) {
            std::string why = ManifestReadMessage(manifest.path, manifest.read);
            if (why.empty())
                why = JoinMatchMessage(manifest.path, inputs, manifest.match);
            return Fail(options.check.empty() ? why + " (--no-check joins unchecked)" : why);
        }
        if (const std::string missing = Sha256::Load(); !missing.empty())
            return Fail("cannot check checksums: " + missing);
        port.manifest = manifest.path;
        ExpectDigests(manifest, checks);
        settings.checksums = &checks;
    }

    port.inputs = std::move(inputs);
    CatchStopSignals();
    const JobResult result = RunJoinJob(port, g_abort, settings);
    progress.Clear();
    return Report(result, port, "join into " + Quoted(options.output), options.output);
}

}  // namespace

int Main(int argc, char** argv)
{
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.options)
        return parsed.exitStatus;
    const Options& options = *parsed.options;
    switch (options.command) {
    case Command::Plan:
        return RunPlan(options);
    case Command::Split:
        return RunSplit(options);
    case Command::Join:
        return RunJoin(options);
    case Command::Verify:
        CatchStopSignals();
        return VerifyCommand(options, g_abort, g_signal);
    case Command::Repair:
        CatchStopSignals();
        return RepairCommand(options, g_abort, g_signal);
    }
    return kExitUsage;
}

}  // namespace tessera::cli
