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
#include "engine/JoinRun.h"
#include "engine/SplitRun.h"
#include "engine/recovery/Par2Layout.h"
#include "fileio/FileQuery.h"
#include "fileio/NFilePSDK.h"
#include "plan/PatternSearch.h"
#include "plan/SizeText.h"

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

// A note on standard error, which is no failure.
void Note(const std::string& text)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
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

std::optional<std::vector<SplitEntry>> Plan(const Options& options, std::int64_t size, std::string& why)
{
    PlanResult plan = BuildPlan(options.source, size, options.tools, std::cin);
    for (const std::string& notice : plan.notices)
        std::fprintf(stderr, "%s: %s\n", kProgram, notice.c_str());
    if (!plan.error.empty()) {
        why = plan.error;
        return std::nullopt;
    }
    return std::move(plan.entries);
}

int RunPlan(const Options& options)
{
    std::string why;
    const std::optional<std::int64_t> size = SourceSize(options.source, why);
    if (!size)
        return Fail(why);
    const std::optional<std::vector<SplitEntry>> entries = Plan(options, *size, why);
    if (!entries)
        return Fail(why);
    if (options.json) {
        const std::string json = PlanJson(*entries);
        std::fwrite(json.data(), 1, json.size(), stdout);
    } else {
        for (const SplitEntry& entry : *entries) {
            const std::string line = FormatEntry(entry);
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(WithError("cannot write the plan", errno));
    return kExitDone;
}

// --- Jobs -------------------------------------------------------------------

// A job from the command line: it shows the progress line and keeps the
// notes the job gives for after it.
class CliPort : public JobReporter {
public:
    CliPort(ProgressLine& progress, bool quiet, const Par2Ask& ask = {}) : progress_(progress), quiet_(quiet), ask_(ask)
    {
    }

    bool Report(const JobEvent& event) override
    {
        switch (event.kind) {
        case JobEvent::Kind::Progress: progress_.Update(event.done, event.total); break;
        case JobEvent::Kind::Note:
            if (event.note == JobNote::CheckingAgainst && !quiet_) {
                progress_.Clear();
                Note("checking against " + Quoted(event.path) + " (--no-check joins unchecked)");
            }
            // Said even when quiet.
            if (event.note == JobNote::RecoveryShort && event.side != nullptr) {
                progress_.Clear();
                Note(ShortPercentText(ask_.amount, event.side->reach));
            }
            break;
        default: break;
        }
        return true;
    }
    void SetRunning(bool) override {}

private:
    ProgressLine& progress_;
    bool quiet_;
    Par2Ask ask_;
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
    return settings;
}

// Why the checksum file or the recovery set of a split, or the checksum file
// of a join, could not be had.
// A join's names its inputs.
struct JobWords {
    std::string what;                 // "split 'src'", "join into 'out'"
    std::string source;               // split
    std::string destination;          // join
    std::vector<std::string> inputs;  // join
    bool given = false;               // join --check
    bool filtered = false;            // split --filter
    bool stream = false;              // split of standard input
    std::size_t planParts = 0;        // split: the plan's entries
    Par2Ask ask;                      // split
};

int SideFileFailure(const SideFile& side, const JobResult& result, const JobWords& words)
{
    const std::string path = Quoted(result.path);
    switch (side.state) {
    case SideState::Exists: return Fail(path + " exists; --force replaces it");
    case SideState::IsSource:
        return Fail("cannot write " + path + ": it is " + Quoted(words.source) + " itself, through a link");
    case SideState::NotAFile:
        return Fail("cannot write " + path + ": " + FileTypeName(EntryTypeAt(result.path)) +
                    " stands at that name");
    case SideState::NoSha256:
        return Fail((words.destination.empty() ? "cannot make checksums: " : "cannot check checksums: ") + side.why);
    case SideState::Create: return Fail(WithError("cannot create " + path, side.error));
    case SideState::Write: return Fail(WithError("cannot write " + path, side.error));
    case SideState::Layout: {
        Par2Planned planned;
        planned.fault = static_cast<Par2LayoutFault>(side.layoutFault);
        planned.needed = side.needed;
        planned.limit = side.limit;
        return Fail(LayoutFaultText(planned, words.ask));
    }
    case SideState::Unusable: {
        ManifestRead read;
        read.fault = static_cast<ManifestFault>(side.readFault);
        read.line = side.readLine;
        read.error = side.error;
        read.admission = side.admission;
        std::string why = ManifestReadMessage(side.path, read);
        if (why.empty()) {
            JoinMatch match;
            match.fault = static_cast<JoinMatchFault>(side.matchFault);
            match.input = side.matchInput;
            why = JoinMatchMessage(side.path, words.inputs, match);
        }
        return Fail(words.given ? why : why + " (--no-check joins unchecked)");
    }
    default: break;
    }
    return Fail("cannot write " + path);
}

// The message for a job that did not finish, and the exit status. A join
// names its destination, which a stop leaves as it was.
int Report(const JobResult& result, const JobWords& words)
{
    const std::string& what = words.what;
    const std::string& destination = words.destination;
    // A split's part cut short is never left: its bytes were staged.
    const std::string cutShort =
        result.cutShort.empty() || !destination.empty() ? ""
        : words.filtered ? "; the filter of " + Quoted(result.cutShort) + " had only the start of its part"
                         : "; " + Quoted(result.cutShort) + " was cut short and removed";
    switch (result.end) {
    case JobEnd::Finished:
        return kExitDone;
    case JobEnd::Aborted: {
        const int signal = g_signal != 0 ? g_signal : SIGINT;
        const std::string stopped = "stopped by " + std::string(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        if (!destination.empty())
            Fail(stopped + (result.path.empty() ? "" : " in " + Quoted(result.path)) + "; " +
                 (destination == "standard output" ? "standard output holds only the bytes before it"
                                                   : Quoted(destination) + " was not written"));
        else
            Fail(stopped + (cutShort.empty() ? " between two parts" : cutShort));
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
        return Fail(RefusalText(result.path, AdmissionOf(result)) + cutShort);
    case JobFault::PlanLine:
        return Fail("plan line " + std::to_string(result.line + 1) + " starts before 0 or runs backwards");
    case JobFault::PlanPastEnd:
        return Fail("plan line " + std::to_string(result.line + 1) + " ends past the end of " + path + " (" +
                    std::to_string(result.size) + " bytes)");
    case JobFault::TooManyParts:
        return Fail("cannot " + what + ": too few of the part names .000 to .999 are free for the plan");
    case JobFault::PartsExist:
        return Fail("cannot " + what + ": " + path + " exists (an earlier split's part?); " +
                    (words.stream ? std::string() : "--resume finishes that split; ") +
                    "remove the earlier parts, or --after-existing numbers these after them");
    case JobFault::PartDiffers:
        if (result.line >= words.planParts)
            return Fail("cannot resume the " + what + ": " + path + " is no part of this plan (" +
                        std::to_string(words.planParts) + (words.planParts == 1 ? " part" : " parts") +
                        "); nothing was written");
        return Fail("cannot resume the " + what + ": " + path +
                    " is not its range of the source (another split's part, or changed since); nothing was written");
    case JobFault::ChecksumFile:
        return SideFileFailure(result.checksumFile, result, words);
    case JobFault::RecoverySet:
        return SideFileFailure(result.recoverySet, result, words);
    case JobFault::PartCreate:
    case JobFault::DestinationOpen:
        return Fail(WithError("cannot create " + path, result.error) + cutShort);
    case JobFault::DestinationExists:
        return Fail(path + " exists; --force replaces it");
    case JobFault::DestinationListed:
        return Fail("cannot join into " + path + ": it is one of the inputs");
    case JobFault::Read:
        return Fail((result.error == 0 ? "cannot read " + path + ": it ended early"
                                       : WithError("cannot read " + path, result.error)) +
                    cutShort);
    case JobFault::Write:
        return Fail((result.error == 0 ? "cannot write " + path + ": it does not hold the bytes copied into it"
                                       : WithError("cannot write " + path, result.error)) +
                    cutShort);
    case JobFault::NoMemory:
        return Fail("no memory for the transfer buffer");
    case JobFault::StreamRead:
        return Fail(WithError("cannot read standard input", result.error) + cutShort);
    case JobFault::Filter: {
        if (result.error != 0)
            return Fail(WithError("cannot start the filter of " + path, result.error));
        const int exit = result.filterExit;
        const std::string how = exit >= 0 ? "exited with status " + std::to_string(exit)
                                           : "was killed by signal " + std::to_string(-exit);
        return Fail("the filter of " + path + " " + how + "; the split stopped there");
    }
    case JobFault::Check: {
        const std::string& manifest = result.checksumFile.path;
        if (manifest.empty())
            return Fail("checksum mismatch in " + path);
        if (result.path == destination)
            return Fail(path + " does not match the source's checksum in " + Quoted(manifest));
        return Fail(path + " does not match its checksum in " + Quoted(manifest));
    }
    case JobFault::None:
    case JobFault::NoSha256:  // verify and repair only
    case JobFault::Recovery:
        break;
    }
    return Fail("cannot " + what);
}

// What a split of standard input wrote, said however it ended: a stream
// that ended early is told from one that ended only by its length.
std::string StreamWrittenText(const JobResult& result, bool filtered)
{
    const std::size_t count = result.parts.size();
    const std::string bytes = std::to_string(result.streamRead) + (result.streamRead == 1 ? " byte" : " bytes");
    const std::string parts =
        std::to_string(count) + (count == 1 ? " part" : " parts") + (filtered ? " handed to the filter" : " written");
    std::string text = "read " + bytes + " of standard input; " + parts;
    if (count == 1)
        text += ": " + Quoted(result.parts.front().path);
    else if (count > 1)
        text += ": " + Quoted(result.parts.front().path) + " to " + Quoted(result.parts.back().path);
    if (count > 0 && result.end != JobEnd::Finished)
        text += std::string(count == 1 ? ", which is" : ", which are") + " whole";
    return text;
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
    SplitRequest request;
    const bool stream = options.source == "-";
    if (stream) {
        // Cut as it is read: the options were checked when they were read.
        request.source = options.name;
        request.stream.on = true;
        for (const ToolOption& tool : options.tools) {
            if (tool.tool == Tool::Size)
                request.stream.cut.piece = *ParseSize(tool.value);
            else if (tool.tool == Tool::Snap)
                request.stream.cut.snap = *ParseHexPattern(tool.value, HexSpacing::BetweenPairs);
        }
    } else {
        const std::optional<std::int64_t> size = SourceSize(options.source, why);
        if (!size)
            return Fail(why);
        std::optional<std::vector<SplitEntry>> entries = Plan(options, *size, why);
        if (!entries)
            return Fail(why);
        request.source = options.source;
        request.plan = std::move(*entries);
    }
    request.filter = options.filter;
    request.resume = options.resume;
    request.folder = options.into;
    request.numbering = options.afterExisting ? PartNumbering::AfterExisting : PartNumbering::FromZero;
    request.checksums = options.checksum;
    request.recovery = options.recoveryAsk;
    request.creator = std::string(kProgram) + " " + TESSERA_VERSION;
    request.replace = options.force;
    request.settings = SettingsFor(options);

    ProgressLine progress(stderr, ProgressWanted(options));
    CliPort port(progress, options.quiet, options.recoveryAsk);
    CatchStopSignals();
    const JobResult result = RunSplit(request, port, g_abort);
    progress.Clear();
    // Parts numbered after others' are joined on their own.
    std::vector<std::string> parts;
    for (const WrittenPart& part : result.parts)
        parts.push_back(part.path);
    if (const std::string note = SplitSeriesNote(parts); !note.empty())
        Note(note);
    switch (result.recoverySet.state) {
    case SideState::NoBytes: Note("no recovery set: the parts hold no bytes"); break;
    case SideState::Stale:
        if (result.recoverySet.error != 0)
            Note(WithError("cannot remove " + Quoted(result.recoverySet.path) + ", an earlier split's recovery set",
                           result.recoverySet.error) +
                 "; a repair with it would bring back the old parts");
        else
            Note(Quoted(result.recoverySet.path) +
                 " is an earlier split's recovery set, not these parts': remove it (--force does), or a repair "
                 "would bring back the old parts");
        break;
    case SideState::Removed:
        Note("removed an earlier split's recovery set: " + Quoted(result.recoverySet.path) +
             (result.recoverySet.files.size() > 1
                  ? " and " + std::to_string(result.recoverySet.files.size() - 1) + " more file" +
                        (result.recoverySet.files.size() > 2 ? "s" : "")
                  : std::string()));
        break;
    case SideState::Written:
        if (!options.quiet)
            Note(Quoted(result.recoverySet.path) + " " + ReachText(result.recoverySet.reach));
        break;
    default: break;
    }
    const bool readSome = result.streamRead > 0 || result.end == JobEnd::Finished;
    if (stream && readSome && (!options.quiet || result.end != JobEnd::Finished))
        Note(StreamWrittenText(result, !options.filter.empty()));
    JobWords words;
    words.what = "split " + (stream ? std::string("standard input") : Quoted(options.source));
    words.source = options.source;
    words.ask = options.recoveryAsk;
    words.filtered = !options.filter.empty();
    words.stream = stream;
    words.planParts = request.plan.size();
    if (options.resume && result.end == JobEnd::Finished && !options.quiet)
        Note("kept " + std::to_string(result.kept) + " of " + std::to_string(result.parts.size()) +
             " parts, already whole; wrote the others");
    return Report(result, words);
}

int RunJoin(const Options& options)
{
    JoinRequest request;
    // -o -: the inputs go to standard output as they are read.
    const bool toStandardOutput = options.output == "-";
    std::optional<NFilePSDK> standardOutput;
    if (toStandardOutput) {
        standardOutput.emplace(NFilePSDK::StandardOutput());
        request.stream = &*standardOutput;
    }
    request.inputs = options.inputs;
    if (!options.series.empty()) {
        SeriesFound series = FindSeries(options.series);
        if (!series.error.empty())
            return Fail(series.error);
        request.inputs = std::move(series.parts);
        // Where the series stopped. Parts beyond a missing number refuse
        // the join: its output would lack them.
        const SeriesEnd end = DescribeSeriesEnd(request.inputs);
        if (end.gap)
            return Fail(end.note);
        if (!end.note.empty() && !options.quiet)
            Note(end.note);
    }
    request.destination = options.output;
    // A join's output appears whole or not at all, and replaces a file only
    // when asked.
    request.replace = options.force;
    request.stage = true;
    if (!options.check.empty()) {
        request.check = JoinCheck::Given;
        request.manifest = options.check;
    } else if (!options.noCheck) {
        request.check = JoinCheck::Beside;
        request.series = !options.series.empty();
    }
    request.settings = SettingsFor(options);

    ProgressLine progress(stderr, ProgressWanted(options));
    CliPort port(progress, options.quiet);
    CatchStopSignals();
    const JobResult result = RunJoin(request, port, g_abort);
    progress.Clear();
    if (toStandardOutput && result.end == JobEnd::Failed) {
        // The reader took what it wanted and went (| head): quietly, as a
        // program killed by SIGPIPE ends.
        if (result.fault == JobFault::Write && result.error == EPIPE)
            return 128 + SIGPIPE;
        // A mismatch is found after the bytes went out.
        if (result.fault == JobFault::Check) {
            const std::string written = "; the bytes joined up to it were already written to standard output";
            if (result.path == options.output)
                return Fail("the inputs joined do not match the source's checksum in " +
                            Quoted(result.checksumFile.path) + written);
            return Fail(Quoted(result.path) + " does not match its checksum in " + Quoted(result.checksumFile.path) +
                        written);
        }
    }
    JobWords words;
    words.what = toStandardOutput ? std::string("join to standard output") : "join into " + Quoted(options.output);
    words.destination = toStandardOutput ? std::string("standard output") : options.output;
    words.inputs = request.inputs;
    words.given = !options.check.empty();
    return Report(result, words);
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
