#pragma once

#include <string>

namespace tessera::detail {

// Opens path with the open(2) flags given (never O_TRUNC) and locks it the way
// every opening of this program does:
// - a FIFO without its other end fails or opens at once, never holding the
//   caller (the descriptor is blocking again once open);
// - a regular file gets a shared lock when `shared`, an exclusive one
//   otherwise, without waiting; devices and pipes are not locked;
// - with `truncate`, a regular file is emptied only once the lock is held, so
//   an opening that finds the file locked leaves it untouched.
// Returns the descriptor, or -1 with errno set and nothing left open.
int OpenLocked(const std::string& path, int flags, bool shared, bool truncate);

}  // namespace tessera::detail
