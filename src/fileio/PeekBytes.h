#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "FileSystem.h"

namespace tessera {

// Up to `count` bytes of the regular file at path from `offset` on, fewer at
// its end, without moving anything and without taking a lock: a look at a
// file that a job may hold. nullopt when path names no regular file or it
// cannot be read; a pipe or device is never opened far enough to wait.
[[nodiscard]] std::optional<std::string> PeekBytes(const std::string& path, std::int64_t offset, std::size_t count,
                                                   const FileSystem& files = RealFiles());

}  // namespace tessera
