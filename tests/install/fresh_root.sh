#!/usr/bin/env bash
# On demand (it downloads a Debian system and its packages, about 15 minutes):
# the README's run command on a fresh Debian 12. A minimal bookworm root is
# made with debootstrap from this machine's apt mirror; inside it, with
# nothing else installed, scripts/run.sh installs only its own package list,
# builds tessera and tessera-cli, and the window must then start offscreen and
# under xvfb-run, and say in one line what to do without a display.
#   tests/install/fresh_root.sh <source-dir>
#   (cd build && ctest -C Long -L fresh --output-on-failure)
# Needs root and debootstrap; skips (77) without them.
set -euo pipefail

src=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: needs root (debootstrap, chroot)"; exit 77; }
command -v debootstrap >/dev/null 2>&1 || { echo "SKIPPED: debootstrap not installed"; exit 77; }

# This machine's mirror, else Debian's own.
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
[ -n "$mirror" ] || mirror=http://deb.debian.org/debian

root=$(mktemp -d "${TMPDIR:-/var/tmp}/tessera-fresh.XXXXXX")
chmod 755 "$root"  # apt downloads as its own user
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

echo "== debootstrap bookworm from $mirror into $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 || { tail -20 "$root.log" >&2; fail "debootstrap"; }
rm -f "$root.log"
for fs in proc sys dev; do
  mount --rbind "/$fs" "$root/$fs"
  mount --make-rslave "$root/$fs"  # leaving it unmounts nothing of this machine
  mounted+=("$root/$fs")
done
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# The source tree as it stands, tracked and new files, no build folders.
mkdir "$root/src"
(cd "$src" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$root/src"

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

echo "== scripts/run.sh without a display: installs the run list, builds, says what to do"
set +e
in_root bash -c 'cd /src && scripts/run.sh' >"$root/run.out" 2>"$root/run.err"
status=$?
set -e
[ "$status" -eq 1 ] || { tail -30 "$root/run.err" >&2; fail "run.sh without a display exited $status"; }
last=$(tail -n1 "$root/run.err")
case "$last" in
  *"xvfb-run -a build-run/src/app/tessera"*) ;;
  *) fail "run.sh without a display said: $last" ;;
esac
for p in clang weston appstream libgtest-dev; do
  if in_root dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    fail "the run list installed $p, which only testing needs"
  fi
done
[ -x "$root/src/build-run/src/cli/tessera-cli" ] || fail "tessera-cli was not built"

echo "== the window starts offscreen, and under xvfb-run, for a moment"
for how in "env QT_QPA_PLATFORM=offscreen" "xvfb-run -a"; do
  set +e
  in_root bash -c "cd /tmp && timeout 5 $how /src/build-run/src/app/tessera" >"$root/window.out" 2>&1
  status=$?
  set -e
  # Still running when the time was up: it started.
  [ "$status" -eq 124 ] || { cat "$root/window.out" >&2; fail "the window under '$how' ended with $status"; }
done
in_root /src/build-run/src/app/tessera --help | grep -q '^Usage: tessera' || fail "tessera --help"
echo "PASS: the run packages alone build tessera and tessera-cli and start the window"
