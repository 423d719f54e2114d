#pragma once

#include <cstdint>
#include <string>

namespace tessera {

// The lock an opening takes on a regular file, without waiting: a shared one
// fails while another opening holds the file exclusively, an exclusive one
// while any other opening holds it at all (EWOULDBLOCK). Pipes and devices
// are never locked.
enum class FileLock { None, Shared, Exclusive };

struct OpenRequest {
    // open(2)'s access and creation flags: O_RDONLY, O_WRONLY or O_RDWR, with
    // O_CREAT, O_EXCL, O_NOFOLLOW, O_APPEND as wanted; never O_TRUNC.
    int flags = 0;
    FileLock lock = FileLock::None;
    // A regular file is emptied, once its lock is held: an opening that finds
    // the file locked leaves it untouched.
    bool truncate = false;
};

// The one way this program opens a file by its name. The file is opened
// with O_NONBLOCK|O_NOCTTY|O_CLOEXEC besides the request's flags, so that
// neither a FIFO without its other end nor a terminal ever holds the caller
// or becomes its controlling terminal; what was opened is then looked at on
// the descriptor itself (fstat), never again by its name. A regular file is
// locked and emptied as asked and made blocking again; a pipe, socket or
// device stays non-blocking and unlocked, and the caller decides what to do
// with it from *type.
// The descriptor, with *type the S_IFMT bits of what it opened; or -1 with
// errno set and nothing left open.
[[nodiscard]] int OpenFile(const std::string& path, const OpenRequest& request, std::uint32_t* type = nullptr);

// OpenFile for a relative name inside the folder open at dirfd: every step
// of the name is resolved beneath that folder and none through a symbolic
// link (openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS, or step by
// step with O_NOFOLLOW where the kernel lacks it). A link on the way or at
// the end gives ELOOP; an absolute name, "." or ".." steps, EXDEV.
[[nodiscard]] int OpenFileBeneath(int dirfd, const std::string& name, const OpenRequest& request,
                                  std::uint32_t* type = nullptr);

// The folder that holds the last step of name, opened (O_PATH) beneath
// dirfd as OpenFileBeneath resolves, and that last step in leaf; or -1 with
// errno set.
[[nodiscard]] int OpenParentBeneath(int dirfd, const std::string& name, std::string& leaf);

}  // namespace tessera
