#pragma once

#include "CliOptions.h"

namespace tessera::cli {

// tessera-cli repair: checks the files of a recovery set and rebuilds those
// damaged or missing; prints what it rebuilt on standard output, the reasons
// on standard error; the exit status (0 repaired or nothing to do, 1 not
// repairable or failed).
[[nodiscard]] int RunRepair(const Options& options);

}  // namespace tessera::cli
