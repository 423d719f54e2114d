#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "engine/Manifest.h"
#include "engine/VerifyChecksums.h"
#include "engine/recovery/Par2Check.h"

namespace tessera::cli {

// tessera-cli verify: reads every file the manifest lists, prints the report
// on standard output and the reasons on standard error; the exit status.
[[nodiscard]] int RunVerify(const Options& options);

// A verdict's line of the report: "name: OK", "name: FAILED", "name: FAILED
// open or read"; the source line checked against the parts joined "... (the
// parts joined)" or, when a part failed, "name: NOT CHECKED (a part
// failed)". Names are shown as sha256sum writes them, so that each stays on
// its line. Quiet leaves out the lines that are OK (empty text).
[[nodiscard]] std::string VerifiedLineText(const VerifiedLine& verified, bool quiet);

// The report on the recovery set beside the manifest: "NAME: recovery set OK
// (N recovery slices)", "... REPAIRABLE (...)", "... NOT REPAIRABLE (...)" or
// "... UNREADABLE (...)", then "FILE: MISSING" or "FILE: DAMAGED (N slices)"
// for each file of the set that is not intact. Quiet leaves out the OK line.
// A set that finds damaged files the checksum file finds intact (stale) is
// "... STALE (...)", followed by "FILE: STALE (intact by its checksum)" for
// each of them.
[[nodiscard]] std::string RecoveryReportText(const std::string& setName, const Par2Set& set, const Par2Check& check,
                                             const std::vector<std::size_t>& stale, bool quiet);

}  // namespace tessera::cli
