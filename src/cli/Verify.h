#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <string>

#include "CliOptions.h"
#include "engine/JobPort.h"
#include "engine/VerifyRun.h"

namespace tessera::cli {

// tessera-cli verify: starts the verify run and prints its events, the
// report on standard output and the reasons on standard error; the exit
// status (0 every checksum matched, 1 otherwise, 128 + the signal when
// stopped).
[[nodiscard]] int VerifyCommand(const Options& options, std::atomic<bool>& abort,
                                const volatile std::sig_atomic_t& signal);

// A checksum verdict's line of the report: "name: OK", "name: FAILED",
// "name: FAILED open or read"; the source checked against the parts joined
// "name: OK (the parts joined)", "name: FAILED (the parts joined)" or, when a
// part failed, "name: NOT CHECKED (a part failed)". A recovery set file's:
// "FILE: MISSING", "FILE: DAMAGED (N slices)", "FILE: REFUSED (...)",
// "FILE: STALE (intact by its checksum)". Names are shown as sha256sum
// writes them, so that each stays on its line. Quiet leaves out the lines
// that are OK (empty text).
[[nodiscard]] std::string VerdictText(FileVerdict verdict, const std::string& name, std::size_t count, bool quiet);

// The recovery set's line: "NAME: recovery set OK (N recovery slices)",
// "... REPAIRABLE (...)", "... NOT REPAIRABLE (...)", "... UNREADABLE
// (...)" or "... STALE (...)". Quiet leaves out the OK line.
[[nodiscard]] std::string RecoverySetText(const VerifyOutcome::Recovery& recovery, bool quiet);

}  // namespace tessera::cli
