#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Manifest.h"
#include "fileio/FileOpener.h"

// Checking the files a checksum file lists, as sha256sum -c does, with one
// rule more: a split's checksum file lists the source last, under the
// checksum file's own name without ".sha256", and when it lists parts too
// the parts read one after another are checked against that line.
//
// The checksum file is streamed, never held: it is read once to be checked
// and sized, then again line by line as the files are hashed, a batch of
// lines at a time; the parts joined are hashed beside, by a thread that
// reads the file a third time. Memory stays at a few batches of lines and
// hashing blocks whatever the file's length.
namespace tessera {

// One verdict, in the order of the checksum file; the joined verdict last.
struct VerifiedLine {
    std::size_t index = 0;  // the line's, 0-based
    const ManifestLine* line = nullptr;
    std::string path;       // the file as resolved from the checksum file's folder
    LineVerdict verdict = LineVerdict::Ok;
    int error = 0;          // Unreadable: errno, or kNotRegularFile
    // The source line checked against the parts joined (NotChecked when a
    // part failed).
    bool joined = false;
};

struct ChecksumVerification {
    // The checksum file's own fault; nothing was checked unless None.
    ManifestRead read;
    std::size_t lines = 0;
    // The verdicts given (a source line not there has only its joined one),
    // and those Failed or Unreadable.
    std::size_t verdicts = 0;
    std::size_t failed = 0;
    // Its source line (npos for none), and whether the parts joined were
    // checked against it (it lists parts), with what verdict.
    std::size_t source = std::string::npos;
    bool joinedChecked = false;
    LineVerdict joined = LineVerdict::NotChecked;
    // The abort flag stopped it.
    bool stopped = false;
};

struct VerifySettings {
    const FileOpener* files = nullptr;  // nullptr: the real files
    int threads = 2;
    // Lines hashed at a time.
    std::size_t batch = 256;
};

// Checks every line of the checksum file at path. onLine gets each verdict
// as it is known, in order; progress, on the caller's thread about every
// 100 ms, the bytes hashed of the total.
[[nodiscard]] ChecksumVerification VerifyChecksumFile(
    const std::string& path, const std::atomic<bool>& abort, const std::function<void(const VerifiedLine&)>& onLine,
    const std::function<void(std::int64_t done, std::int64_t total)>& progress = {}, const VerifySettings& settings = {});

}  // namespace tessera
