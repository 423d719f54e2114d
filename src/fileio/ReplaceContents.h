#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// How a replacement of a file's contents ended.
struct ReplaceResult {
    enum class Outcome {
        Written,
        Kept,      // the file is one of `keep` (keptIndex): nothing written
        InUse,     // another opening holds the file (a running job): nothing written
        NotRegular, // a folder, pipe or device: nothing written
        Failed,    // open, truncate, write or flush failed (error)
    };
    Outcome outcome = Outcome::Failed;
    int error = 0;
    std::size_t keptIndex = 0;
};

// Makes text the whole contents of the file at path, created if missing.
// The existing file is opened without emptying it and locked exclusively the
// way every opening of this program locks (no waiting: a file that a job or
// another program of ours has open is refused). Only then, on the opened
// file itself, is it compared by device and inode with each file of `keep`,
// so no spelling, hard link or symbolic link gets past the comparison; it is
// emptied and written only when it is none of them. The bytes are flushed to
// disk before Written is returned.
[[nodiscard]] ReplaceResult ReplaceContents(const std::string& path, std::string_view text,
                                            const std::vector<std::string>& keep);

}  // namespace tessera
