#include "fileio/Admission.h"
#include "fileio/FileSystem.h"
#include "fileio/PeekBytes.h"
#include "fileio/ReadOnlyFile.h"
#include "fileio/StagedFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "engine/FaultyFiles.h"
#include "support/TempDir.h"

using tessera::Admission;
using tessera::AdmitFile;
using tessera::RealFiles;
using tessera::test::FaultyFiles;
using tessera::test::MakeSocket;
using tessera::test::ReadFile;
using tessera::test::TempDir;
using tessera::test::WriteFile;
using Refusal = Admission::Refusal;

namespace {

std::vector<std::string> Listed(const std::string& folder)
{
    std::vector<std::string> names;
    EXPECT_EQ(RealFiles().List(folder, names), 0);
    std::sort(names.begin(), names.end());
    return names;
}

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(file, "0123456789");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    }

    TempDir dir;
    std::string file = dir.file("file");
    std::string fifo = dir.file("fifo");
    std::string folder = dir.file("folder");
};

// Every file read by its size is admitted one way; what is no regular file
// is refused without waiting on it, whatever it is.
TEST_F(FileSystemTest, AdmissionOfEveryKindOfFile)
{
    const std::string socket = dir.file("socket");
    const bool haveSocket = MakeSocket(socket);
    struct Case {
        std::string path;
        Refusal refusal;
        std::uint32_t type;
        int error;
    };
    std::vector<Case> cases = {
        {file, Refusal::None, S_IFREG, 0},
        {dir.file("missing"), Refusal::NotFound, 0, ENOENT},
        {folder, Refusal::NotRegular, S_IFDIR, EISDIR},
        {fifo, Refusal::NotRegular, S_IFIFO, 0},
        {"/dev/zero", Refusal::NotRegular, S_IFCHR, 0},
    };
    if (haveSocket)
        cases.push_back({socket, Refusal::NotRegular, S_IFSOCK, 0});
    for (const Case& c : cases) {
        std::unique_ptr<NFile> opened;
        const Admission admission = AdmitFile(c.path, RealFiles(), &opened);
        EXPECT_EQ(admission.refusal, c.refusal) << c.path;
        EXPECT_EQ(admission.type, c.type) << c.path;
        EXPECT_EQ(admission.Errno(), c.error) << c.path;
        EXPECT_EQ(opened != nullptr, c.refusal == Refusal::None) << c.path;
    }
    // Admitted: its size, open at the start.
    std::unique_ptr<NFile> opened;
    ASSERT_EQ(AdmitFile(file, RealFiles(), &opened).size, 10);
    char first = 0;
    EXPECT_EQ(opened->Read(&first, 1), 1u);
    EXPECT_EQ(first, '0');
    opened.reset();

    // A file that reads past its size, and one another opening writes.
    const Admission proc = AdmitFile("/proc/self/status");
    if (proc.type == S_IFREG && proc.size == 0)
        EXPECT_EQ(proc.refusal, Refusal::LongerThanSize);
    const int writer = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
    const Admission held = AdmitFile(file);
    EXPECT_EQ(held.refusal, Refusal::Open);
    EXPECT_EQ(held.error, EWOULDBLOCK);
    ::close(writer);
}

// The readers at an offset open a pipe without waiting for its writer, and
// find it no regular file (a hang here ends in the test's timeout).
TEST_F(FileSystemTest, ReadersAtAnOffsetNeverWaitOnAPipe)
{
    tessera::ReadOnlyFile pipe(fifo);
    std::uint32_t type = 0;
    std::uint64_t size = 0;
    ASSERT_TRUE(pipe.IsOpen());
    ASSERT_TRUE(pipe.Stat(type, size));
    EXPECT_EQ(type, static_cast<std::uint32_t>(S_IFIFO));
    EXPECT_EQ(tessera::PeekBytes(fifo, 0, 4), std::nullopt);

    tessera::ReadOnlyFile regular(file);
    char bytes[4] = {};
    EXPECT_EQ(regular.ReadAt(bytes, 4, 8), 2);
    EXPECT_EQ(std::string(bytes, 2), "89");
    EXPECT_EQ(tessera::PeekBytes(file, 3, 4), "3456");
}

// A staged file whose creation, writing or renaming fails leaves nothing
// behind and the target as it was.
TEST_F(FileSystemTest, StagedFileLeavesNothingWhenItFails)
{
    const std::string target = dir.file("target");
    WriteFile(target, "old");
    const std::vector<std::string> before = Listed(dir.path().string());
    for (const FaultyFiles::Call call : {FaultyFiles::Call::Create, FaultyFiles::Call::Rename}) {
        const FaultyFiles files(target, call, 1, EACCES);
        tessera::StagedFile staged;
        const std::unique_ptr<NFile> out = staged.Create(target, files);
        if (call == FaultyFiles::Call::Create) {
            EXPECT_FALSE(out->IsOpen());
            EXPECT_EQ(out->LastError(), EACCES);
            EXPECT_EQ(staged.Commit(true), ENOENT);
        } else {
            ASSERT_TRUE(out->IsOpen());
            EXPECT_EQ(out->Write("new", 3), 3u);
            out->Close();
            EXPECT_EQ(staged.Commit(true), EACCES);
        }
        EXPECT_EQ(ReadFile(target), "old");
        EXPECT_EQ(Listed(dir.path().string()), before);
    }

    // Committed without replacing: a name that was taken meanwhile is kept.
    tessera::StagedFile staged;
    ASSERT_TRUE(staged.Create(target)->IsOpen());
    EXPECT_EQ(staged.Commit(false), EEXIST);
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Listed(dir.path().string()), before);
}

// A reserved name is given up only while it is still the file reserved.
TEST_F(FileSystemTest, ReservedFileRemovesOnlyItsOwnFile)
{
    const std::string name = dir.file("name.sha256");
    {
        tessera::ReservedFile reserved;
        ASSERT_EQ(reserved.Open(name, false), 0);
        EXPECT_EQ(reserved.Open(name, false), 0);  // reopening gives the first up
    }
    EXPECT_NE(tessera::RealFiles().Status(name, tessera::Links::NoFollow).error, 0);
    {
        tessera::ReservedFile reserved;
        ASSERT_EQ(reserved.Open(name, false), 0);
        // Another program put its own file at the name meanwhile.
        ASSERT_EQ(::unlink(name.c_str()), 0);
        WriteFile(name, "theirs");
    }
    EXPECT_EQ(ReadFile(name), "theirs");
}

}  // namespace
