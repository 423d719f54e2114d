#include "CliMain.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <future>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "Manifest.h"
#include "Messages.h"
#include "PlanTools.h"
#include "ProgressLine.h"
#include "Series.h"
#include "engine/Jobs.h"
#include "engine/ListedJobPort.h"
#include "fileio/FileQuery.h"
#include "plan/SplitEntry.h"

namespace tessera::cli {

namespace {

constexpr const char* kProgram = "tessera-cli";

// Blocks from this size on are hashed for the piece and for the whole source
// at the same time, on two threads.
constexpr std::size_t kParallelHash = 1 << 20;

// A file's checksums are read in blocks of this size.
constexpr std::size_t kVerifyBlock = 4 << 20;

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

int Fail(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return kExitFailed;
}

bool ProgressWanted(const Options& options)
{
    return !options.quiet && ::isatty(STDERR_FILENO) == 1;
}

// The size of the file to cut, or the message why it cannot be cut.
std::optional<std::int64_t> SourceSize(const std::string& path, std::string& why)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        why = WithError("cannot open " + Quoted(path), errno);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        why = WithError("cannot split " + Quoted(path), EISDIR);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "cannot split " + Quoted(path) + ": not a regular file";
        return std::nullopt;
    }
    try {
        const std::int64_t size = FileSize(path);
        if (size >= 0)
            return size;
        why = WithError("cannot open " + Quoted(path), ENOENT);
    } catch (const FileError& error) {
        why = WithError("cannot open " + Quoted(path), error.osError());
    }
    return std::nullopt;
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

// Follows the pieces of a job: the progress line, and the SHA-256 of every
// piece and of all of them together, from the bytes of the same pass.
class CliObserver : public JobObserver {
public:
    // Without hashing, libcrypto is never started.
    CliObserver(ProgressLine& progress, bool hashing) : progress_(progress), hashing_(hashing)
    {
        if (hashing) {
            piece_.emplace();
            whole_.emplace();
        }
    }

    // join --check: the digest each input must have, in order, and the one of
    // all of them together (empty: not checked).
    std::vector<std::string> expected;
    std::string expectedWhole;
    std::string manifest;
    std::string destination;
    bool hashWhole = false;

    std::vector<ManifestLine> pieces;
    std::string whole;
    std::string failure;

    [[nodiscard]] bool WantsBytes() const override { return hashing_; }
    void Begin(const std::string&, std::int64_t) override {}
    void Bytes(const char* data, std::size_t size) override
    {
        if (!hashing_)
            return;
        if (!hashWhole) {
            piece_->Update(data, size);
            return;
        }
        if (size < kParallelHash) {
            piece_->Update(data, size);
            whole_->Update(data, size);
            return;
        }
        // Two digests of the same bytes on the two cores; the bytes are the
        // job's until this returns.
        std::future<void> whole = std::async(std::launch::async, [&] { whole_->Update(data, size); });
        piece_->Update(data, size);
        whole.get();
    }
    [[nodiscard]] bool End(const std::string& path) override
    {
        if (!hashing_)
            return true;
        const std::size_t index = pieces.size();
        pieces.push_back({piece_->Finish(), NameOf(path)});
        if (index < expected.size() && pieces.back().digest != expected[index]) {
            failure = Quoted(path) + " does not match its checksum in " + Quoted(manifest);
            return false;
        }
        if (hashWhole && index + 1 == expected.size() && !expectedWhole.empty()) {
            whole = whole_->Finish();
            if (whole != expectedWhole) {
                failure = Quoted(destination) + " does not match the source's checksum in " + Quoted(manifest);
                return false;
            }
        }
        return true;
    }
    void Copied(std::int64_t done, std::int64_t total) override { progress_.Update(done, total); }

    std::string FinishWhole() { return whole_->Finish(); }

private:
    ProgressLine& progress_;
    bool hashing_;
    std::optional<Sha256> piece_;
    std::optional<Sha256> whole_;
};

JobSettings SettingsFor(const Options& options, CliObserver& observer)
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
    settings.observer = &observer;
    return settings;
}

// The message for a job that did not finish, and the exit status. A join
// names its destination, which a stop leaves incomplete.
int Report(const JobResult& result, const CliObserver& observer, const std::string& what,
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
                 " is incomplete");
        else
            Fail(stopped + (result.path.empty() ? " between two parts" : "; " + Quoted(result.path) + " was cut short"));
        return 128 + signal;
    }
    case JobEnd::NotStarted:
        return Fail("cannot " + what + ": " + Quoted(result.path) + " is not a regular file");
    case JobEnd::Failed:
        break;
    }
    const std::string path = Quoted(result.path);
    switch (result.fault) {
    case JobFault::SourceOpen:
    case JobFault::InputOpen:
        return Fail(WithError("cannot open " + path, result.error));
    case JobFault::PlanLine:
        return Fail("plan line " + std::to_string(result.line + 1) + " does not read back as \"start end\"");
    case JobFault::TooManyParts:
        return Fail("cannot " + what + ": too few of the part names .000 to .999 are free for the plan");
    case JobFault::PartCreate:
    case JobFault::DestinationOpen:
        return Fail(WithError("cannot create " + path, result.error));
    case JobFault::DestinationListed:
        return Fail("cannot join into " + path + ": it is one of the inputs");
    case JobFault::Read:
        return Fail(result.error == 0 ? "cannot read " + path + ": it ended early"
                                      : WithError("cannot read " + path, result.error));
    case JobFault::Write:
        return Fail(WithError("cannot write " + path, result.error));
    case JobFault::NoMemory:
        return Fail("no memory for the transfer buffer");
    case JobFault::Check:
        return Fail(observer.failure.empty() ? "checksum mismatch in " + path : observer.failure);
    case JobFault::None:
        break;
    }
    return Fail("cannot " + what);
}

// True when the plan lines cover the source from 0 to its end, in order.
bool CoversInOrder(const std::vector<std::string>& lines, std::int64_t size)
{
    std::int64_t next = 0;
    for (const std::string& line : lines) {
        SplitEntry entry;
        if (!ReadEntry(line, entry) || entry.start != next)
            return false;
        next = entry.end;
    }
    return next == size;
}

// Writes text into a new file, created exclusively and never through a
// symlink; with replace, an existing regular file is emptied first, under an
// exclusive lock. 0 or the errno.
int WriteNewFile(const std::string& path, const std::string& text, bool replace)
{
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (replace ? 0 : O_EXCL);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        return errno;
    const auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(EINVAL);
    if (replace && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0))
        return fail(errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 ? 0 : errno;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

int RunSplit(const Options& options)
{
    std::string why;
    if (!options.into.empty()) {
        struct stat st;
        if (::stat(options.into.c_str(), &st) != 0)
            return Fail(WithError("cannot use " + Quoted(options.into), errno));
        if (!S_ISDIR(st.st_mode))
            return Fail(WithError("cannot use " + Quoted(options.into), ENOTDIR));
    }
    const std::optional<std::int64_t> size = SourceSize(options.source, why);
    if (!size)
        return Fail(why);
    std::optional<std::vector<std::string>> lines = Plan(options, *size, why);
    if (!lines)
        return Fail(why);
    if (lines->empty())
        return kExitDone;

    const std::string manifest = options.checksum ? ManifestPath(options.source, options.into) : std::string();
    if (options.checksum && !options.force && Exists(manifest))
        return Fail(Quoted(manifest) + " exists; --force replaces it");

    ProgressLine progress(stderr, ProgressWanted(options));
    CliObserver observer(progress, options.checksum);
    observer.hashWhole = options.checksum && CoversInOrder(*lines, *size);
    // The job described by the command line; it shows its own progress line.
    ListedJobPort port;
    port.source = options.source;
    port.plan = std::move(*lines);

    CatchStopSignals();
    const JobResult result = RunSplitJob(port, g_abort, SettingsFor(options, observer));
    progress.Clear();
    if (result.end != JobEnd::Finished)
        return Report(result, observer, "split " + Quoted(options.source));

    if (options.checksum) {
        std::string text;
        for (const ManifestLine& line : observer.pieces)
            text += FormatManifestLine(line);
        if (observer.hashWhole)
            text += FormatManifestLine({observer.FinishWhole(), NameOf(options.source)});
        if (const int error = WriteNewFile(manifest, text, options.force))
            return Fail(WithError("cannot create " + Quoted(manifest), error));
    }
    return kExitDone;
}

// The source line of a manifest: the one named as the manifest without its
// ".sha256"; npos when there is none.
std::size_t SourceLine(const std::string& manifest, const std::vector<ManifestLine>& lines)
{
    std::string name = NameOf(manifest);
    if (!name.ends_with(".sha256"))
        return std::string::npos;
    name.resize(name.size() - 7);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].name == name)
            return i;
    }
    return std::string::npos;
}

int RunJoin(const Options& options)
{
    std::vector<std::string> inputs = options.inputs;
    if (!options.series.empty()) {
        SeriesFound series = FindSeries(options.series);
        if (!series.error.empty())
            return Fail(series.error);
        inputs = std::move(series.parts);
    }
    if (!options.force && Exists(options.output))
        return Fail(Quoted(options.output) + " exists; --force replaces it");

    ProgressLine progress(stderr, ProgressWanted(options));
    CliObserver observer(progress, !options.check.empty());
    observer.destination = options.output;
    if (!options.check.empty()) {
        const ManifestRead manifest = ReadManifest(options.check);
        if (!manifest.error.empty())
            return Fail(manifest.error);
        observer.manifest = options.check;
        const std::size_t source = SourceLine(options.check, manifest.lines);
        std::vector<std::string> listed;
        for (std::size_t i = 0; i < manifest.lines.size(); ++i) {
            if (i != source)
                listed.push_back(manifest.lines[i].name);
        }
        for (const std::string& input : inputs) {
            const std::string name = NameOf(input);
            const auto found = std::find_if(manifest.lines.begin(), manifest.lines.end(),
                                            [&](const ManifestLine& line) { return NameOf(line.name) == name; });
            if (found == manifest.lines.end() || found - manifest.lines.begin() == static_cast<std::ptrdiff_t>(source))
                return Fail(Quoted(input) + " is not listed in " + Quoted(options.check));
            observer.expected.push_back(found->digest);
        }
        if (source != std::string::npos) {
            std::vector<std::string> names;
            for (const std::string& input : inputs)
                names.push_back(NameOf(input));
            for (std::string& name : listed)
                name = NameOf(name);
            if (names != listed)
                return Fail("the inputs are not the parts listed in " + Quoted(options.check) + ", in order");
            observer.hashWhole = true;
            observer.expectedWhole = manifest.lines[source].digest;
        }
    }

    // The job described by the command line; it shows its own progress line.
    ListedJobPort port;
    port.destination = options.output;
    port.inputs = std::move(inputs);
    CatchStopSignals();
    const JobResult result = RunJoinJob(port, g_abort, SettingsFor(options, observer));
    progress.Clear();
    return Report(result, observer, "join into " + Quoted(options.output), options.output);
}

// --- verify -----------------------------------------------------------------

// Feeds the whole file at path to each of the digests; 0 or the errno.
int HashFile(const std::string& path, std::vector<char>& buffer, Sha256& digest, Sha256* whole,
             ProgressLine& progress, std::int64_t& done, std::int64_t total)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return err;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0)
            break;
        digest.Update(buffer.data(), static_cast<std::size_t>(n));
        if (whole != nullptr)
            whole->Update(buffer.data(), static_cast<std::size_t>(n));
        done += n;
        progress.Update(done, total);
    }
    ::close(fd);
    return 0;
}

int RunVerify(const Options& options)
{
    const ManifestRead manifest = ReadManifest(options.manifest);
    if (!manifest.error.empty())
        return Fail(manifest.error);
    if (manifest.lines.empty())
        return Fail(Quoted(options.manifest) + " lists no files");
    const std::size_t source = SourceLine(options.manifest, manifest.lines);

    std::int64_t total = 0;
    for (std::size_t i = 0; i < manifest.lines.size(); ++i) {
        struct stat st;
        if (i != source && ::stat(ResolveFromManifest(options.manifest, manifest.lines[i].name).c_str(), &st) == 0)
            total += st.st_size;
    }

    ProgressLine progress(stderr, ProgressWanted(options));
    std::vector<char> buffer(kVerifyBlock);
    Sha256 digest;
    Sha256 whole;
    bool wholeReadable = true;
    std::int64_t done = 0;
    std::size_t failed = 0;
    std::string report;
    std::vector<std::string> errors;
    // The parts are read once; the source line is checked against all of
    // them together, in the manifest's order, which is the order of the plan.
    for (std::size_t i = 0; i < manifest.lines.size(); ++i) {
        if (i == source)
            continue;
        const ManifestLine& line = manifest.lines[i];
        const std::string path = ResolveFromManifest(options.manifest, line.name);
        const int error = HashFile(path, buffer, digest, source != std::string::npos ? &whole : nullptr, progress,
                                   done, total);
        if (error != 0) {
            static_cast<void>(digest.Finish());
            wholeReadable = false;
            ++failed;
            errors.push_back(WithError("cannot read " + Quoted(path), error));
            report += line.name + ": FAILED open or read\n";
            continue;
        }
        const bool ok = digest.Finish() == line.digest;
        failed += ok ? 0 : 1;
        report += line.name + (ok ? ": OK\n" : ": FAILED\n");
    }
    if (source != std::string::npos) {
        const ManifestLine& line = manifest.lines[source];
        const bool ok = wholeReadable && whole.Finish() == line.digest;
        failed += ok ? 0 : 1;
        report += line.name + (ok ? ": OK (the parts joined)\n" : ": FAILED (the parts joined)\n");
    }
    progress.Clear();
    if (!options.quiet || failed != 0)
        std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
    for (const std::string& error : errors)
        Fail(error);
    if (failed != 0)
        return Fail(std::to_string(failed) + " of " + std::to_string(manifest.lines.size()) +
                    " checksums in " + Quoted(options.manifest) + " did not match");
    return kExitDone;
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
        return RunVerify(options);
    }
    return kExitUsage;
}

}  // namespace tessera::cli
