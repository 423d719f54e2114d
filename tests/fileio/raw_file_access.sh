#!/usr/bin/env bash
# Only the file layer (src/fileio) reaches the file system: no source file
# above it opens, looks up, lists, renames or removes a file by a call of
# its own. Reads the source tree itself, so it works on a checkout without
# .git.
#   raw_file_access.sh <source folder>
set -uo pipefail

root=${1:?source folder}
cd "$root/src" || exit 1

# A call of one of these, by itself or qualified (::open, std::remove), but
# not a member of some object (file.open is a stream's: caught below).
calls='open|openat|openat2|creat|opendir|fdopendir|readdir|scandir|fopen|freopen|unlink|unlinkat|remove|rename|renameat|renameat2|stat|lstat|fstat|fstatat|statx|access|faccessat|mkdir|rmdir|link|symlink|readlink|truncate|ftruncate|chdir|realpath|mkfifo|mknod'
found=$(grep -rnE --include='*.cpp' --include='*.h' \
  -e "(^|[^A-Za-z0-9_.>])(::|std::)?($calls)[[:space:]]*\(" \
  -e '\b(std::)?(i|o)?fstream\b|\bstd::filesystem\b' \
  engine plan ui cli app | grep -vE '^[^:]+:[0-9]+:[[:space:]]*//')
if [ -n "$found" ]; then
  echo "file access outside src/fileio (use its FileSystem, OpenFile or FileQuery):" >&2
  echo "$found" >&2
  exit 1
fi
echo "no file access outside src/fileio"
