#include "Sigpipe.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>

#include "Retry.h"

namespace tessera::detail {

namespace {

sigset_t PipeSignal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

}  // namespace

SigpipeBlock::SigpipeBlock(bool active) : active_(active)
{
    if (!active_)
        return;
    const int savedErrno = errno;
    sigset_t pending;
    sigemptyset(&pending);
    wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    const sigset_t pipe = PipeSignal();
    ::pthread_sigmask(SIG_BLOCK, &pipe, &saved_);
    errno = savedErrno;
}

SigpipeBlock::~SigpipeBlock()
{
    if (!active_)
        return;
    const int savedErrno = errno;
    const sigset_t pipe = PipeSignal();
    if (!wasPending_) {
        const timespec now{};
        (void)RetryOnEintr([&] { return ::sigtimedwait(&pipe, nullptr, &now); });
    }
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    errno = savedErrno;
}

}  // namespace tessera::detail
