#!/usr/bin/env bash
# Starts the installed program headless, once from a writable program folder
# and once from a read-only one. Each time it must stay up for two seconds
# with the program folder as its current directory; "log.txt" appears in the
# writable folder and the read-only one stays untouched.
#
# Permission bits do not stop root, so as root the folder is made read-only by
# a read-only bind mount in a private mount namespace (unshare). Where no
# such namespace may be made, the read-only start is skipped.
set -euo pipefail
. "$(dirname "$0")/common.sh"

export QT_QPA_PLATFORM=offscreen

# probe <program folder> <yes|no: log.txt expected>
probe() {
  local dir=$1 expect_log=$2 out=$work/probe.out pid cwd
  mkdir -p "$work/elsewhere"
  (cd "$work/elsewhere" && exec "$dir/tessera" >"$out" 2>&1) &
  pid=$!
  for _ in $(seq 20); do
    sleep 0.1
    if ! kill -0 "$pid" 2>/dev/null; then
      local rc=0
      wait "$pid" || rc=$?
      cat "$out" >&2
      fail "tessera in $dir ended early with status $rc"
    fi
  done
  cwd=$(readlink "/proc/$pid/cwd" || true)
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ "$cwd" = "$(realpath "$dir")" ] || fail "current directory is '$cwd', not the program folder $dir"
  if [ "$expect_log" = yes ]; then
    [ -f "$dir/log.txt" ] && [ ! -s "$dir/log.txt" ] || fail "no empty log.txt in $dir"
  else
    [ ! -e "$dir/log.txt" ] || fail "log.txt appeared in the read-only folder $dir"
  fi
}

# Inside the private mount namespace: make the folder read-only, then probe.
# Status 3: no read-only folder could be made here; 4: the probe failed.
if [ "${3:-}" = --read-only-inside ]; then
  dir=$4
  mount --bind "$dir" "$dir" && mount -o remount,bind,ro "$dir" || exit 3
  if touch "$dir/.write-test" 2>/dev/null; then exit 3; fi
  (probe "$dir" no) || exit 4
  exit 0
fi

prefix=$work/prefix
install_into "$prefix"
bin=$prefix/bin

probe "$bin" yes
echo "OK: writable folder: stayed up, log.txt created"
rm -f "$bin/log.txt"

if [ "$(id -u)" -ne 0 ]; then
  chmod a-w "$bin"
  probe "$bin" no
  chmod u+w "$bin"
  echo "OK: read-only folder: stayed up without log.txt"
  exit 0
fi

require unshare util-linux
for ns in "unshare --mount --propagation private" "unshare --user --map-root-user --mount --propagation private"; do
  rc=0
  $ns bash "$0" "$build_dir" "$build_config" --read-only-inside "$bin" || rc=$?
  case $rc in
    0) echo "OK: read-only folder ($ns): stayed up without log.txt"; exit 0 ;;
    4) exit 1 ;;
  esac
done
skip "no private mount namespace may be made here (unshare not permitted); the read-only start was not tried"
