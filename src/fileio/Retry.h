#pragma once

#include <cerrno>

namespace tessera {

// Calls f until it returns something other than -1 with errno EINTR, and
// returns that. For system calls that may simply be repeated; close is not
// one of them.
template <class F>
auto RetryOnEintr(F f)
{
    auto result = f();
    while (result == -1 && errno == EINTR)
        result = f();
    return result;
}

}  // namespace tessera
