#pragma once

#include <atomic>

#include "JobPort.h"
#include "SplitRun.h"

namespace tessera {

// The split of a stream (SplitRequest::stream), as RunSplit hands it on.
// Before the first byte: the parts' run of names looked at (a part of an
// earlier run refuses it, JobFault::PartsExist, unless numbered after it),
// the checksum file's name taken, the recovery set's names looked at. Then
// the stream read once to its end, each part staged and renamed into place
// once whole (or handed to the filter command), its SHA-256 taken from the
// same bytes. Then, only when the stream ended by itself: the checksum file
// from those digests (no line for the stream itself: nothing could open it
// again), and the recovery set laid out for the parts' lengths and made
// from the parts read back. An abort, a failure or a signal leaves the parts
// whole before it and nothing else; result.parts and result.streamRead say
// what was written.
JobResult RunStreamSplit(const SplitRequest& request, JobReporter& reporter, std::atomic<bool>& abort);

}  // namespace tessera
