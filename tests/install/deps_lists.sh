#!/usr/bin/env bash
# The package lists of scripts/deps.sh: each package once, and running asks
# for nothing only the tests need.
set -euo pipefail
deps=$(cd "$(dirname "$0")/../.." && pwd)/scripts/deps.sh
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
run=$(bash "$deps" --list run)
all=$(bash "$deps" --list test)
twice=$(printf '%s\n' "$all" | sort | uniq -d)
[ -z "$twice" ] || fail "listed twice: $twice"
for p in clang weston appstream libgtest-dev; do
  if printf '%s\n' "$run" | grep -qx "$p"; then fail "$p is in the run list"; fi
done
for p in qt6-base-dev libcli11-dev scdoc qt6-translations-l10n xvfb; do
  printf '%s\n' "$run" | grep -qx "$p" || fail "$p is missing from the run list"
done
printf '%s\n' "$run" | while read -r p; do
  printf '%s\n' "$all" | grep -qx "$p" || fail "$p of the run list is not in the test list"
done
echo "PASS"
