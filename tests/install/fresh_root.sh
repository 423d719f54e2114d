#!/usr/bin/env bash
# On demand (it downloads a Debian system and its packages, about half an
# hour on two busy cores): the README's steps on a fresh Debian 12. A minimal
# bookworm root is made with debootstrap from this machine's apt mirror;
# inside it, with nothing else installed, scripts/run.sh installs only its
# own package list and builds tessera and tessera-cli with their manual
# pages. Then, as the README says: the window starts offscreen and under
# xvfb-run, and says in one line what to do without a display; run.sh takes
# file names from the caller's folder; man reads the built pages; and the
# Debian package is built, installed with apt and works.
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

# Each step's time, for the README's figures.
step() {
  echo "== [$((SECONDS / 60)) min $((SECONDS % 60)) s] $*"
}

step "debootstrap bookworm from $mirror into $root"
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

step "scripts/run.sh without a display: installs the run list, builds, says what to do"
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

step "the window starts offscreen, and under xvfb-run, for a moment"
for how in "env QT_QPA_PLATFORM=offscreen" "xvfb-run -a"; do
  set +e
  in_root bash -c "cd /tmp && timeout 5 $how /src/build-run/src/app/tessera" >"$root/window.out" 2>&1
  status=$?
  set -e
  # Still running when the time was up: it started.
  [ "$status" -eq 124 ] || { cat "$root/window.out" >&2; fail "the window under '$how' ended with $status"; }
done
in_root /src/build-run/src/app/tessera --help | grep -q '^Usage: tessera' || fail "tessera --help"

step "scripts/run.sh FILE from another folder takes the names from there"
# "-platform" is Qt's option unless a file of that name exists where names
# are taken from; such a file the program asks for after "--" (exit status
# 2). Looked for anywhere but in the caller's folder, it is Qt's option and
# the window starts.
mkdir "$root/tmp/caller"
touch "$root/tmp/caller/-platform"
set +e
in_root bash -c 'cd /tmp/caller && QT_QPA_PLATFORM=offscreen timeout 30 /src/scripts/run.sh -platform' \
  >"$root/window.out" 2>&1
status=$?
set -e
[ "$status" -eq 2 ] && grep -q 'tessera -- -platform' "$root/window.out" \
  || { tail -20 "$root/window.out" >&2; fail "run.sh -platform from /tmp/caller ended with $status"; }

step "man reads the pages the run build made"
for page in app/tessera cli/tessera-cli; do
  in_root bash -c "cd /src && man -l build-run/src/$page.1.gz" >"$root/man.out" 2>&1 \
    || { cat "$root/man.out" >&2; fail "man -l build-run/src/$page.1.gz"; }
  grep -q "^NAME" "$root/man.out" && grep -q "^ *${page#*/} - " "$root/man.out" \
    || { head -20 "$root/man.out" >&2; fail "man -l build-run/src/$page.1.gz shows no manual page"; }
done

step "the Debian package, as the README builds and installs it"
in_root bash -c 'cd /src && scripts/deps.sh package && cmake --build build-run -j"$(nproc)" &&
                 (cd build-run && cpack -G DEB) && DEBIAN_FRONTEND=noninteractive apt-get install -y ./build-run/tessera_*.deb' \
  >"$root/deb.out" 2>&1 || { tail -30 "$root/deb.out" >&2; fail "building or installing the package"; }
in_root dpkg-query -W -f='${Status}' tessera | grep -q 'install ok installed' || fail "tessera is not installed"
in_root bash -c 'cd /tmp && tessera-cli --version' | grep -q '^tessera-cli ' || fail "the installed tessera-cli"
in_root man tessera 2>&1 | grep -q "^ *tessera - " || fail "man tessera after installing"
# Recommended, so apt brought it: it loads the completion.
in_root bash -c '. /usr/share/bash-completion/bash_completion && __load_completion tessera-cli &&
                 complete -p tessera-cli' | grep -q _tessera_cli || fail "bash-completion does not load the completion"
set +e
in_root bash -c "cd /tmp && timeout 5 env QT_QPA_PLATFORM=offscreen tessera" >"$root/window.out" 2>&1
status=$?
set -e
[ "$status" -eq 124 ] || { cat "$root/window.out" >&2; fail "the installed window ended with $status"; }
step "done"
echo "PASS: the run packages alone build both programs, the window starts, run.sh takes the caller's names, man reads the pages, and the package installs and works"
