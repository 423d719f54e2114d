#pragma once

#include <atomic>
#include <cstdint>

#include "JobPort.h"

namespace tessera {

// Every block of a job passes through one buffer of this size.
inline constexpr std::uint32_t kTransferBufferSize = 16 * 1024 * 1024;

// Plan lines and join inputs are asked of the front end this many at a time;
// the abort flag is polled between batches.
inline constexpr std::size_t kLineBatch = 4096;

// The split job: every plan line, in order, becomes a part file at the lowest
// free part name (PartNames.h), holding that byte range of the source. The
// join job: the destination is created or emptied and the inputs are appended
// to it in order.
//
// Both read their job through port, poll abort before every batch of lines,
// every piece and every block, report through port only, and end with the
// front end idle again. A split whose source is no regular file returns at
// once, having changed nothing (JobEnd::NotStarted). Everything that can be
// known to fail is refused before the first file is created or emptied: plan
// lines that do not read back, more lines than free part names, a join input
// that cannot be opened or is the destination itself.
JobResult RunSplitJob(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings = {});
JobResult RunJoinJob(JobPort& port, std::atomic<bool>& abort, const JobSettings& settings = {});

}  // namespace tessera
