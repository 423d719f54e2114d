#pragma once

#include <atomic>
#include <csignal>

#include "CliOptions.h"

namespace tessera::cli {

// tessera-cli repair: starts the repair run and prints its events: what it
// rebuilt on standard output, the reasons on standard error; the exit
// status (0 repaired or nothing to do, 1 not repairable or failed, 128 + the
// signal when stopped, nothing changed).
[[nodiscard]] int RepairCommand(const Options& options, std::atomic<bool>& abort,
                                const volatile std::sig_atomic_t& signal);

}  // namespace tessera::cli
