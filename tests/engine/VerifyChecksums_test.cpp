#include "engine/VerifyChecksums.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/Checksums.h"
#include "engine/kernels/Sha256.h"
#include "support/TempDir.h"

namespace tessera {
namespace {

std::string Sha256Sum(const std::string& path)
{
    Sha256 sha;
    const std::string bytes = test::ReadFile(path);
    sha.Update(bytes.data(), bytes.size());
    return sha.Finish();
}

struct Told {
    std::string name;
    LineVerdict verdict;
    bool joined;
    friend bool operator==(const Told&, const Told&) = default;
};

std::ostream& operator<<(std::ostream& out, const Told& told)
{
    return out << told.name << ":" << static_cast<int>(told.verdict) << (told.joined ? " joined" : "");
}

// A split's checksum file: parts of sizes about the hashing block, then the
// source. Its verdicts, on one thread and on two, in batches smaller than
// the file, as the files change.
TEST(VerifyChecksumFile, EveryLineInOrderAndThePartsJoinedLast)
{
    ASSERT_EQ(Sha256::Load(), "");
    test::TempDir dir;
    std::string all, manifest;
    const std::int64_t sizes[] = {3, kHashBlock + 1, 0, 2 * kHashBlock, 17};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const std::string name = "s." + std::to_string(i);
        test::WritePatternFile(dir.file(name), sizes[i]);
        all += test::ReadFile(dir.file(name));
        manifest += Sha256Sum(dir.file(name)) + "  " + name + "\n";
    }
    test::WriteFile(dir.file("s"), all);
    manifest += Sha256Sum(dir.file("s")) + "  s\n";
    test::WriteFile(dir.file("s.sha256"), manifest);
    using V = LineVerdict;
    const std::vector<Told> parts = {{"s.0", V::Ok, false}, {"s.1", V::Ok, false}, {"s.2", V::Ok, false},
                                     {"s.3", V::Ok, false}, {"s.4", V::Ok, false}};

    struct Case {
        const char* what;
        std::function<void()> change;
        std::vector<Told> told;
        std::size_t failed;
    };
    auto with = [&](std::vector<Told> told, std::vector<Told> more) {
        told.insert(told.end(), more.begin(), more.end());
        return told;
    };
    auto flipped = [&](const std::string& name, std::size_t at) {
        std::string bytes = test::ReadFile(dir.file(name));
        bytes[at] ^= 1;
        test::WriteFile(dir.file(name), bytes);
    };
    std::vector<Told> changed = parts;
    changed[3].verdict = V::Failed;
    std::vector<Told> gone = changed;
    gone[1].verdict = V::Unreadable;
    const Case cases[] = {
        {"every file whole", [] {}, with(parts, {{"s", V::Ok, false}, {"s", V::Ok, true}}), 0},
        {"the source changed, the parts whole", [&] { flipped("s", 7); },
         with(parts, {{"s", V::Failed, false}, {"s", V::Ok, true}}), 1},
        {"the source gone: the parts joined alone", [&] { std::filesystem::remove(dir.file("s")); },
         with(parts, {{"s", V::Ok, true}}), 0},
        {"a byte of the largest part changed", [&] { flipped("s.3", kHashBlock); },
         with(changed, {{"s", V::NotChecked, true}}), 1},
        {"a part missing", [&] { std::filesystem::remove(dir.file("s.1")); },
         with(gone, {{"s", V::NotChecked, true}}), 2},
    };
    const std::atomic<bool> never{false};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        for (const int threads : {1, 2}) {
            std::vector<Told> told;
            VerifySettings settings;
            settings.threads = threads;
            settings.batch = 2;
            const ChecksumVerification result = VerifyChecksumFile(
                dir.file("s.sha256"), never,
                [&](const VerifiedLine& line) { told.push_back({line.line->name, line.verdict, line.joined}); }, {},
                settings);
            EXPECT_EQ(result.read.fault, ManifestFault::None);
            EXPECT_EQ(told, c.told) << threads;
            EXPECT_EQ(result.failed, c.failed) << threads;
            EXPECT_EQ(result.verdicts, c.told.size()) << threads;
        }
    }
}

TEST(VerifyChecksumFile, AFolderAFifoAndAStop)
{
    ASSERT_EQ(Sha256::Load(), "");
    test::TempDir dir;
    std::filesystem::create_directory(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const std::string digest(64, '0');
    test::WriteFile(dir.file("list.sha256"), digest + "  folder\n" + digest + "  fifo\n");
    const std::atomic<bool> never{false};
    std::vector<int> errors;
    const ChecksumVerification result = VerifyChecksumFile(
        dir.file("list.sha256"), never, [&](const VerifiedLine& line) {
            EXPECT_EQ(line.verdict, LineVerdict::Unreadable);
            errors.push_back(line.error);
        });
    EXPECT_EQ(errors, (std::vector<int>{EISDIR, kNotRegularFile}));
    EXPECT_EQ(result.failed, 2u);

    const std::atomic<bool> stop{true};
    std::size_t told = 0;
    const ChecksumVerification stopped =
        VerifyChecksumFile(dir.file("list.sha256"), stop, [&](const VerifiedLine&) { ++told; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(told, 0u);
}

}  // namespace
}  // namespace tessera
