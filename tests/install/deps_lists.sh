#!/usr/bin/env bash
# The package lists of scripts/deps.sh: each package once, each purpose holds
# the one before it (run, package, test), and each asks for nothing only a
# later one needs.
set -euo pipefail
deps=$(cd "$(dirname "$0")/../.." && pwd)/scripts/deps.sh
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
run=$(bash "$deps" --list run)
package=$(bash "$deps" --list package)
all=$(bash "$deps" --list test)
twice=$(printf '%s\n' "$all" | sort | uniq -d)
[ -z "$twice" ] || fail "listed twice: $twice"
holds() { grep -qx -- "$2" <<<"$1"; }
for p in clang weston appstream libgtest-dev bash-completion file; do
  if holds "$run" "$p"; then fail "$p is in the run list"; fi
done
for p in clang weston appstream libgtest-dev bash-completion; do
  if holds "$package" "$p"; then fail "$p is in the package list"; fi
done
for p in qt6-base-dev libcli11-dev scdoc man-db qt6-translations-l10n xvfb; do
  holds "$run" "$p" || fail "$p is missing from the run list"
done
for p in file dpkg-dev; do
  holds "$package" "$p" || fail "$p is missing from the package list"
done
while read -r p; do
  holds "$package" "$p" || fail "$p of the run list is not in the package list"
done <<<"$run"
while read -r p; do
  holds "$all" "$p" || fail "$p of the package list is not in the test list"
done <<<"$package"
echo "PASS"
