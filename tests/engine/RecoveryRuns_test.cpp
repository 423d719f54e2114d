#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FaultyFiles.h"
#include "engine/Progress.h"
#include "engine/RepairRun.h"
#include "engine/VerifyRun.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Create.h"
#include "support/TempDir.h"

// verify and repair as runs: their events and outcome, a fault of every
// kind of file access named, nothing staged left behind, nothing of the
// folder's files lost, and no name of a set followed through a link.
namespace tessera {
namespace {

using test::FaultyFiles;
using test::TempDir;

std::string Sha256Hex(const std::string& bytes)
{
    Sha256 sha;
    sha.Update(bytes.data(), bytes.size());
    return sha.Finish();
}

// The events of a run, kept as text.
struct Told {
    JobEvent::Kind kind;
    FileVerdict verdict;
    std::string path;
    std::string other;
};

class Recorder final : public JobReporter {
public:
    std::vector<Told> told;
    std::vector<bool> running;
    std::function<void(const JobEvent&)> onEvent;

    bool Report(const JobEvent& event) override
    {
        told.push_back({event.kind, event.verdict, std::string(event.path), std::string(event.other)});
        if (onEvent)
            onEvent(event);
        return true;
    }
    void SetRunning(bool on) override { running.push_back(on); }

    [[nodiscard]] std::vector<Told> Verdicts() const
    {
        std::vector<Told> verdicts;
        for (const Told& t : told)
            if (t.kind == JobEvent::Kind::Verdict)
                verdicts.push_back(t);
        return verdicts;
    }
    [[nodiscard]] std::size_t Ended() const
    {
        return std::count_if(told.begin(), told.end(), [](const Told& t) { return t.kind == JobEvent::Kind::Ended; });
    }
};

// A source cut into four parts with a checksum file and a recovery set (40 %:
// 22 recovery slices of 1920 bytes, 16 to a whole part), as a split leaves
// them; then one part deleted and a byte of another changed.
class RecoveryRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Sha256::Load(), "");
        test::WritePatternFile(dir.file("src"), 100001);
        const std::vector<std::pair<std::int64_t, std::int64_t>> ranges = {
            {0, 30000}, {30000, 30000}, {60000, 30000}, {90000, 10001}};
        std::vector<Par2Piece> pieces;
        std::vector<std::int64_t> lengths;
        std::string manifest;
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            const std::string name = "src.00" + std::to_string(i);
            const std::string bytes = test::PatternBytes(ranges[i].first, ranges[i].second);
            test::WriteFile(dir.file(name), bytes);
            original.push_back(bytes);
            manifest += Sha256Hex(bytes) + "  " + name + "\n";
            pieces.push_back({name, ranges[i].first, ranges[i].second});
            lengths.push_back(ranges[i].second);
        }
        test::WriteFile(dir.file("src.sha256"), manifest);
        std::atomic<bool> never{false};
        Par2Creation creation(PlanPar2(lengths, 40), "test", never);
        ASSERT_EQ(creation.Reserve(dir.file("src"), false), 0);
        ASSERT_TRUE(creation.Start(dir.file("src"), pieces, RealFiles()));
        ASSERT_TRUE(creation.Wait());
        ASSERT_EQ(creation.Commit(false), 0);
        std::filesystem::remove(dir.file("src"));

        std::filesystem::remove(dir.file("src.001"));
        damaged = original[3];
        damaged[5000] ^= 1;
        test::WriteFile(dir.file("src.003"), damaged);
    }

    // The names in the folder that are neither the set's, its parts nor the
    // checksum file: staged and kept files.
    std::vector<std::string> Strays() const
    {
        std::vector<std::string> strays;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            const bool known = name.find(".par2") != std::string::npos || name == "src.sha256" ||
                               (name.size() == 7 && name.starts_with("src.00"));
            if (!known)
                strays.push_back(name);
        }
        std::sort(strays.begin(), strays.end());
        return strays;
    }

    JobResult Repair(Recorder& recorder, const FileSystem& files = RealFiles())
    {
        RepairRequest request;
        request.set = dir.file("src.par2");
        request.files = &files;
        return RunRepair(request, recorder, abort);
    }

    TempDir dir;
    std::vector<std::string> original;
    std::string damaged;
    std::atomic<bool> abort{false};
};

TEST_F(RecoveryRuns, RepairTellsWhatItRebuiltAndKeepsWhatItReplaced)
{
    Recorder recorder;
    const JobResult result = Repair(recorder);
    ASSERT_EQ(result.end, JobEnd::Finished) << result.path;
    ASSERT_TRUE(result.repair);
    EXPECT_EQ(result.repair->repair.slicesRebuilt, 17u);
    EXPECT_EQ(recorder.running, (std::vector<bool>{true, false}));
    EXPECT_EQ(recorder.Ended(), 1u);
    const std::vector<Told> verdicts = recorder.Verdicts();
    ASSERT_EQ(verdicts.size(), 2u);
    for (const Told& t : verdicts) {
        if (t.path == "src.001") {
            EXPECT_EQ(t.verdict, FileVerdict::Created);
        } else {
            EXPECT_EQ(t.path, "src.003");
            EXPECT_EQ(t.verdict, FileVerdict::Rebuilt);
            EXPECT_EQ(t.other, "src.003.1");
        }
    }
    EXPECT_TRUE(test::ReadFile(dir.file("src.001")) == original[1]);
    EXPECT_TRUE(test::ReadFile(dir.file("src.003")) == original[3]);
    EXPECT_TRUE(test::ReadFile(dir.file("src.003.1")) == damaged);
    EXPECT_EQ(Strays(), std::vector<std::string>{"src.003.1"});
}

// Every kind of access failed in turn: the run fails naming the file, and
// leaves the folder as it found it, a temporary file it could not remove
// named.
TEST_F(RecoveryRuns, RepairNamesAFailedAccessAndLeavesNothing)
{
    struct Case {
        const char* what;
        const char* file;
        FaultyFiles::Call call;
        JobFault fault;
    };
    // Reads fail past those of the set's reading and checking, which take
    // what they cannot read for damage.
    const Case cases[] = {
        {"a survivor read", "src.000", FaultyFiles::Call::Read, JobFault::Read},
        {"a part's own read", "src.003", FaultyFiles::Call::Read, JobFault::Read},
        {"a volume read", "src.vol07+8.par2", FaultyFiles::Call::Read, JobFault::Read},
        {"the staged file's creation", "src.001", FaultyFiles::Call::Create, JobFault::Write},
        {"the staged file's write", "src.003", FaultyFiles::Call::Write, JobFault::Write},
        {"the damaged file moved aside", "src.003", FaultyFiles::Call::Rename, JobFault::Write},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int before = 0;
        if (c.call == FaultyFiles::Call::Read) {
            const FaultyFiles counting(dir.file(c.file), c.call, 1 << 30);
            const Par2Set set = ReadPar2Set(dir.file("src.par2"), counting);
            (void)CheckPar2Set(set, dir.path().string(), {&counting});
            before = counting.Calls();
        }
        const FaultyFiles files(dir.file(c.file), c.call, before + 1);
        Recorder recorder;
        const JobResult result = Repair(recorder, files);
        EXPECT_EQ(result.end, JobEnd::Failed);
        EXPECT_EQ(result.fault, c.fault);
        EXPECT_NE(result.path.find(c.file), std::string::npos) << result.path;
        EXPECT_GT(files.Failures(), 0);
        EXPECT_EQ(recorder.Verdicts().size(), 0u);
        EXPECT_EQ(Strays(), std::vector<std::string>());
        EXPECT_FALSE(std::filesystem::exists(dir.file("src.001")));
        EXPECT_TRUE(test::ReadFile(dir.file("src.003")) == damaged);
    }
    // A stop once the computation has begun, and the removal of the staged
    // files failing: the run stops, and names what it had to leave.
    const FaultyFiles files(dir.file("src.003"), FaultyFiles::Call::Remove);
    Recorder recorder;
    recorder.onEvent = [&](const JobEvent& event) {
        if (event.kind == JobEvent::Kind::Progress && event.position > ProgressPosition(0.5f))
            abort = true;
    };
    const JobResult result = Repair(recorder, files);
    EXPECT_EQ(result.end, JobEnd::Aborted);
    ASSERT_EQ(result.repair->repair.leftBehind.size(), 1u);
    EXPECT_NE(result.repair->repair.leftBehind[0].first.find(".src.003.tessera-"), std::string::npos);
    EXPECT_TRUE(test::ReadFile(dir.file("src.003")) == damaged);
}

// Two files to replace, the second of which cannot be moved aside: the first
// is put back as it was, and nothing is replaced.
TEST_F(RecoveryRuns, RepairReplacesNothingUnlessItCanReplaceEverything)
{
    std::string other = original[0];
    other[10] ^= 1;
    test::WriteFile(dir.file("src.000"), other);
    for (const char* second : {"src.000", "src.003"}) {
        SCOPED_TRACE(second);
        const FaultyFiles files(dir.file(second), FaultyFiles::Call::Rename);
        Recorder recorder;
        const JobResult result = Repair(recorder, files);
        EXPECT_EQ(result.end, JobEnd::Failed);
        EXPECT_EQ(result.fault, JobFault::Write);
        EXPECT_TRUE(result.repair->repair.rebuilt.empty());
        EXPECT_TRUE(test::ReadFile(dir.file("src.000")) == other);
        EXPECT_TRUE(test::ReadFile(dir.file("src.003")) == damaged);
        EXPECT_EQ(Strays(), std::vector<std::string>());
    }
}

// Stopped (Ctrl-C, SIGTERM) once the computation has begun, before the
// commit: nothing changed, nothing staged left.
TEST_F(RecoveryRuns, AStoppedRepairChangesNothing)
{
    Recorder recorder;
    recorder.onEvent = [&](const JobEvent& event) {
        if (event.kind == JobEvent::Kind::Progress && event.position > ProgressPosition(0.5f))
            abort = true;
    };
    const JobResult result = Repair(recorder);
    EXPECT_EQ(result.end, JobEnd::Aborted);
    EXPECT_EQ(recorder.Ended(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("src.001")));
    EXPECT_TRUE(test::ReadFile(dir.file("src.003")) == damaged);
    EXPECT_EQ(Strays(), std::vector<std::string>());
}

// A name of the set through a link to a folder outside it, or a part that
// is itself a link: neither read nor written, in verify and in repair.
TEST(RecoveryRunLinks, NoNameOfASetIsFollowedThroughALink)
{
    ASSERT_EQ(Sha256::Load(), "");
    TempDir dir;
    std::filesystem::create_directories(dir.file("set"));
    std::filesystem::create_directories(dir.file("outside"));
    test::WritePatternFile(dir.file("source"), 5000);
    test::WriteFile(dir.file("outside/other"), "not a part");
    std::atomic<bool> abort{false};
    Par2Creation creation(PlanPar2({2500, 2500}, 100), "test", abort);
    ASSERT_EQ(creation.Reserve(dir.file("set/s"), false), 0);
    ASSERT_TRUE(creation.Start(dir.file("source"), {{"sub/planted", 0, 2500}, {"part", 2500, 2500}}, RealFiles()));
    ASSERT_TRUE(creation.Wait());
    ASSERT_EQ(creation.Commit(false), 0);
    std::filesystem::create_directory_symlink(dir.file("outside"), dir.file("set/sub"));
    std::filesystem::create_symlink(dir.file("outside/other"), dir.file("set/part"));

    Recorder verifying;
    test::WriteFile(dir.file("set/s.sha256"), Sha256Hex("x") + "  absent\n");
    const JobResult verified = RunVerify({dir.file("set/s.sha256")}, verifying, abort);
    ASSERT_EQ(verified.end, JobEnd::Finished);
    std::vector<std::string> through;
    for (const Told& t : verifying.Verdicts())
        if (t.verdict == FileVerdict::ThroughLink)
            through.push_back(t.path);
    std::sort(through.begin(), through.end());
    EXPECT_EQ(through, (std::vector<std::string>{"part", "sub/planted"}));

    Recorder repairing;
    const JobResult repaired = RunRepair({dir.file("set/s.par2")}, repairing, abort);
    EXPECT_EQ(repaired.end, JobEnd::Failed);
    EXPECT_EQ(repaired.fault, JobFault::Recovery);
    EXPECT_EQ(repaired.repair->repair.fault, Par2RepairFault::UnsafeName);
    EXPECT_FALSE(std::filesystem::exists(dir.file("outside/planted")));
    EXPECT_EQ(test::ReadFile(dir.file("outside/other")), "not a part");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("outside")), {}), 1);
}

// A pipe, a socket and a device (through a link) in place of a part, a
// volume and the checksum file: verify and repair never wait on one, and
// name it.
TEST_F(RecoveryRuns, PipesSocketsAndDevicesAreRefusedByName)
{
    enum class Kind { Pipe, Socket, Device };
    const char* const places[] = {"src.001", "src.vol00+1.par2", "src.sha256"};
    for (const Kind kind : {Kind::Pipe, Kind::Socket, Kind::Device}) {
        for (const char* place : places) {
            SCOPED_TRACE(std::string(place) + " as " + std::to_string(static_cast<int>(kind)));
            const std::string path = dir.file(place);
            const bool there = std::filesystem::exists(path);
            if (there)
                std::filesystem::rename(path, path + ".keep");
            switch (kind) {
            case Kind::Pipe: ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); break;
            case Kind::Socket: ASSERT_TRUE(test::MakeSocket(path)); break;
            case Kind::Device: std::filesystem::create_symlink("/dev/zero", path); break;
            }

            Recorder verifying;
            const JobResult verified = RunVerify({dir.file("src.sha256")}, verifying, abort);
            Recorder repairing;
            const JobResult repaired = Repair(repairing);
            const std::string name(place);
            if (name == "src.sha256") {
                EXPECT_EQ(verified.end, JobEnd::Failed);
                EXPECT_EQ(verified.fault, JobFault::ChecksumFile);
                EXPECT_EQ(verified.verify->read.fault, ManifestFault::NotRegular);
                EXPECT_EQ(repaired.repair->checksumFile, path);
                EXPECT_NE(repaired.repair->checksumRead.fault, ManifestFault::None);
                EXPECT_EQ(repaired.end, JobEnd::Finished);
            } else if (name == "src.001") {
                bool told = false;
                for (const Told& t : verifying.Verdicts())
                    told = told || (t.path == name && t.verdict == FileVerdict::Unreadable && t.other == path);
                EXPECT_TRUE(told);
                EXPECT_EQ(repaired.end, JobEnd::Failed);
                EXPECT_EQ(repaired.fault, JobFault::Recovery);
                EXPECT_EQ(repaired.repair->repair.path, name);
            } else {
                const auto named = [&](const std::vector<std::string>& files, const std::vector<Par2FaultAt>& faults) {
                    for (const Par2FaultAt& fault : faults)
                        if (fault.fault == Par2Fault::Open && files.at(fault.file) == path)
                            return true;
                    return false;
                };
                EXPECT_TRUE(named(verified.verify->recovery.setFiles, verified.verify->recovery.unreadable));
                EXPECT_TRUE(named(repaired.repair->setFiles, repaired.repair->passedOver));
                EXPECT_EQ(repaired.end, JobEnd::Finished);
            }

            // Back as the fixture left it: a part deleted, one damaged.
            std::filesystem::remove(path);
            if (there)
                std::filesystem::rename(path + ".keep", path);
            std::filesystem::remove(dir.file("src.001"));
            if (std::filesystem::exists(dir.file("src.003.1")))
                std::filesystem::rename(dir.file("src.003.1"), dir.file("src.003"));
            EXPECT_EQ(Strays(), std::vector<std::string>());
        }
    }
}

TEST_F(RecoveryRuns, VerifyTellsEveryLineThenTheSet)
{
    Recorder recorder;
    const JobResult result = RunVerify({dir.file("src.sha256")}, recorder, abort);
    ASSERT_EQ(result.end, JobEnd::Finished);
    ASSERT_TRUE(result.verify);
    EXPECT_EQ(result.verify->failed, 2u);
    EXPECT_EQ(result.verify->recovery.state, Par2State::Repairable);
    std::vector<std::pair<std::string, FileVerdict>> verdicts;
    for (const Told& t : recorder.Verdicts())
        verdicts.emplace_back(t.path, t.verdict);
    const std::vector<std::pair<std::string, FileVerdict>> expected = {
        {"src.000", FileVerdict::Ok}, {"src.001", FileVerdict::Unreadable}, {"src.002", FileVerdict::Ok},
        {"src.003", FileVerdict::Failed}};
    ASSERT_GE(verdicts.size(), 6u);
    EXPECT_EQ(std::vector(verdicts.begin(), verdicts.begin() + 4), expected);
    std::vector<std::pair<std::string, FileVerdict>> ofTheSet(verdicts.begin() + 4, verdicts.end());
    std::sort(ofTheSet.begin(), ofTheSet.end());
    EXPECT_EQ(ofTheSet, (std::vector<std::pair<std::string, FileVerdict>>{{"src.001", FileVerdict::Missing},
                                                                          {"src.003", FileVerdict::Damaged}}));
}

TEST_F(RecoveryRuns, VerifyNamesAFailedAccess)
{
    {
        const FaultyFiles files(dir.file("src.002"), FaultyFiles::Call::Read);
        Recorder recorder;
        VerifyRequest request{dir.file("src.sha256"), &files};
        const JobResult result = RunVerify(request, recorder, abort);
        EXPECT_EQ(result.end, JobEnd::Finished);
        bool named = false;
        for (const Told& t : recorder.Verdicts())
            named = named || (t.path == "src.002" && t.verdict == FileVerdict::Unreadable && t.other == dir.file("src.002"));
        EXPECT_TRUE(named);
        EXPECT_EQ(result.verify->failed, 3u);
    }
    {
        const FaultyFiles files(dir.file("src.sha256"), FaultyFiles::Call::Open, 1, EACCES);
        Recorder recorder;
        VerifyRequest request{dir.file("src.sha256"), &files};
        const JobResult result = RunVerify(request, recorder, abort);
        EXPECT_EQ(result.end, JobEnd::Failed);
        EXPECT_EQ(result.fault, JobFault::ChecksumFile);
        EXPECT_EQ(result.path, dir.file("src.sha256"));
        EXPECT_EQ(result.verify->read.error, EACCES);
    }
}

}  // namespace
}  // namespace tessera
