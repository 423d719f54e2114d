#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "FileSystem.h"

namespace tessera {

// Whether a file may be read as holding exactly its size: a regular file,
// its size, and no byte at that size. Every reader that goes by a file's
// size (a split's source, a join's inputs, the size queries, the files
// hashed, checked or repaired) is admitted this one way, and refused for one
// of these reasons.
struct Admission {
    enum class Refusal {
        None,
        NotFound,        // the name cannot be looked up (error: ENOENT, ENAMETOOLONG, ...)
        NotRegular,      // a folder, pipe, socket or device (type), never opened, or found on opening
        Open,            // a regular file that cannot be opened (error; EWOULDBLOCK: another opening holds it)
        LongerThanSize,  // it reads past the size it reports (size): a /proc file, a growing file
        Read,            // the read at its size failed (error)
    };
    Refusal refusal = Refusal::None;
    int error = 0;
    // The S_IFMT bits of what was found; 0 when nothing was.
    std::uint32_t type = 0;
    // The size; for LongerThanSize, the size it says.
    std::int64_t size = -1;

    [[nodiscard]] bool Admitted() const { return refusal == Refusal::None; }
    // errno for a refusal that has one: EISDIR for a folder, 0 for another
    // file that is no regular file or that is longer than its size.
    [[nodiscard]] int Errno() const;
};

// Admits the file at path for reading. What the name shows to be no regular
// file is refused without being opened (a device is never opened); the rest
// is opened in the reading form, looked at again on the open file (the name
// may have changed hands), sized, and read for one byte at its size. When
// admitted, *file (if given) holds the open file at position 0.
[[nodiscard]] Admission AdmitFile(const std::string& path, const FileSystem& files = RealFiles(),
                                  std::unique_ptr<NFile>* file = nullptr);

// The same checks on a file already open for reading: its type, its size,
// no byte at its size; its position is left at the start.
[[nodiscard]] Admission AdmitOpenFile(NFile& file);

}  // namespace tessera
