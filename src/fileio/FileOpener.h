#pragma once

#include "FileSystem.h"

namespace tessera {

// The name the file system seam had while it only opened files.
using FileOpener = FileSystem;

}  // namespace tessera
