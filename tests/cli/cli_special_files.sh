#!/usr/bin/env bash
# verify and repair never wait on a file that is no regular file: a named
# pipe, a socket or a device standing in for a part, for a volume or the main
# file of a recovery set, or for the checksum file, is refused by its name at
# once, and nothing is written over it. A hang is cut short by timeout and
# fails.
#   cli_special_files.sh <path of tessera-cli>
set -uo pipefail

cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-special-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

head -c 3000 /dev/urandom >src
"$cli" split -q --checksum --recovery 30 --size 1000 src || { echo "FAIL: split: exit $?" >&2; exit 1; }
mkdir keep && cp src.* keep/ || exit 1

# what NAME becomes: fifo, socket, null (a link to /dev/null), zero (to /dev/zero)
kinds="fifo null zero"
python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' probe.sock 2>/dev/null \
  && kinds="$kinds socket"
rm -f probe.sock

place() {
  local kind=$1 name=$2
  rm -f "$name"
  case $kind in
    fifo) mkfifo "$name" ;;
    socket) python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$name" ;;
    null) ln -s /dev/null "$name" ;;
    zero) ln -s /dev/zero "$name" ;;
  esac
}

# a line that names NAME and why it was refused (repair refuses a link in
# place of a file of its set as a link, whatever it leads to)
refused() {
  grep -F "'$2'" <<<"$1" | grep -qE "not a regular file|symbolic link"
}

for kind in $kinds; do
  for name in src.001 src.vol01+2.par2 src.par2 src.sha256; do
    for command in verify repair; do
      rm -f src.* && cp keep/src.* . || exit 1
      place "$kind" "$name"
      if [ "$command" = verify ]; then
        got=$(timeout 10 "$cli" verify src.sha256 2>&1)
      else
        got=$(timeout 10 "$cli" repair src.par2 2>&1)
      fi
      rc=$?
      what="$command with $name as a $kind"
      [ $rc -ne 124 ] || { fail "$what: still waiting after 10 s"; continue; }
      # the checksum file is not repair's to read: it only must not hold it
      if [ "$command" = repair ] && [ "$name" = src.sha256 ]; then
        continue
      fi
      refused "$got" "$name" || fail "$what: not refused by name (exit $rc): $got"
      case $kind in
        fifo) [ -p "$name" ] ;;
        socket) [ -S "$name" ] ;;
        *) [ -L "$name" ] ;;
      esac || fail "$what: $name was replaced"
      [ -z "$(ls -A | grep -v '^keep$' | grep -vxF -e src -e src.000 -e src.001 -e src.002 -e src.par2 -e src.sha256 \
        -e src.vol00+1.par2 -e src.vol01+2.par2 -e src.vol03+4.par2 -e src.vol07+8.par2)" ] \
        || fail "$what: left $(ls -A)"
    done
  done
done

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "all passed"
