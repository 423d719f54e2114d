#pragma once

#include <csignal>

namespace tessera::detail {

// While alive, SIGPIPE is blocked for the calling thread, and a SIGPIPE that
// a write raised meanwhile is taken off the thread before the mask is
// restored, so a write to a pipe without reader fails with EPIPE instead of
// ending the process. Nothing changes for other threads, and a SIGPIPE that
// was already pending before stays pending. errno is left as the guarded
// call set it.
class SigpipeBlock {
public:
    // Inactive (does nothing) when `active` is false.
    explicit SigpipeBlock(bool active);
    ~SigpipeBlock();
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    bool active_;
    bool wasPending_ = false;
    sigset_t saved_{};
};

}  // namespace tessera::detail
