#!/usr/bin/env bash
# scripts/run.sh in a copy of the repository whose set-up, build and program
# are stand-ins: the program starts in the caller's folder with the caller's
# arguments as they were given, the build makes the manual pages too, and
# without a display the advice names the programs as the caller reaches them.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

repo=$work/repo
mkdir -p "$repo/scripts" "$repo/build-run/src/app" "$work/bin" "$work/caller/sub"
cp "$src/scripts/run.sh" "$repo/scripts/"
printf '#!/bin/sh\nexit 0\n' >"$repo/scripts/deps.sh"
printf '#!/bin/sh\necho "$*" >>"%s/cmake.log"\n' "$work" >"$work/bin/cmake"
# The program: where it started, and each argument with whether it names a
# file from there.
cat >"$repo/build-run/src/app/tessera" <<'PROGRAM'
#!/bin/sh
pwd
for a; do if [ -f "$a" ]; then echo "file $a"; else echo "no file $a"; fi; done
PROGRAM
chmod +x "$repo/scripts/deps.sh" "$work/bin/cmake" "$repo/build-run/src/app/tessera"
touch "$work/caller/a.bin" "$work/caller/sub/b c.bin"

run() {
  (cd "$1" && shift && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$work/bin:$PATH" "$@")
}

out=$(run "$work/caller" QT_QPA_PLATFORM=offscreen ../repo/scripts/run.sh a.bin "sub/b c.bin" -- -x)
expected=$(printf '%s\n' "$work/caller" "file a.bin" "file sub/b c.bin" "no file --" "no file -x")
[ "$out" = "$expected" ] || fail "run.sh from another folder started:
$out
expected:
$expected"
grep -q -- '--build .*tessera-man' "$work/cmake.log" || fail "no tessera-man in the build: $(cat "$work/cmake.log")"
grep -q -- '--build .*tessera-cli-man' "$work/cmake.log" || fail "no tessera-cli-man in the build: $(cat "$work/cmake.log")"

# Without a display: one line, exit status 1, the programs reachable as named.
for from in "$work/caller" "$repo"; do
  set +e
  said=$(run "$from" "$repo/scripts/run.sh" a.bin 2>&1 >/dev/null)
  status=$?
  set -e
  [ "$status" -eq 1 ] || fail "run.sh without a display exited $status"
  [ "$(wc -l <<<"$said")" -eq 1 ] || fail "run.sh without a display said more than one line: $said"
  program=$(sed -n 's/.*xvfb-run -a \([^ ,]*\).*/\1/p' <<<"$said")
  [ -n "$program" ] && (cd "$from" && [ -x "$program" ]) \
    || fail "from $from, run.sh without a display names '$program': $said"
done
echo "PASS"
