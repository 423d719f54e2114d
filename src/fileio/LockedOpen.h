#pragma once

#include <string>

namespace tessera::detail {

// Opens path with the open(2) flags given (never O_TRUNC) and locks it the way
// every opening of this program does:
// - a FIFO without its other end fails or opens at once, never holding the
//   caller; a regular file's descriptor is blocking once open, that of a
//   pipe or device stays non-blocking (O_NONBLOCK);
// - a regular file gets a shared lock when `shared`, an exclusive one
//   otherwise, without waiting; devices and pipes are not locked;
// - with `truncate`, a regular file is emptied only once the lock is held, so
//   an opening that finds the file locked leaves it untouched.
// Returns the descriptor, or -1 with errno set and nothing left open.
int OpenLocked(const std::string& path, int flags, bool shared, bool truncate);

}  // namespace tessera::detail
