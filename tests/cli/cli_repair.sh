#!/usr/bin/env bash
# Recovery sets from the shell, par2 as the oracle: verify reports the state
# of the set beside the manifest (intact, repairable, not repairable) after
# the checksums, and its exit status stays that of the checksums.
#   cli_repair.sh <path of tessera-cli>
set -uo pipefail

if ! command -v par2 >/dev/null 2>&1; then
  echo "par2 is not installed: the recovery set tests need it as their oracle"
  exit 77
fi
cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-repair-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- verify's report on the recovery set beside the manifest ------------------------
# 4 parts of 8000 bytes under slices of 1000: 32 slices, 4 recovery slices.
head -c 32000 /dev/urandom >src.bin
"$cli" split -q --checksum --size 8000 src.bin || fail "split: exit $?"
par2 create -q -q -s1000 -c4 src.bin.par2 src.bin.00? >/dev/null || fail "par2 create: exit $?"

out=$("$cli" verify src.bin.sha256); status=$?
[ $status -eq 0 ] || fail "verify of an intact set: exit $status"
[ "$(tail -n1 <<<"$out")" = "src.bin.par2: recovery set OK (4 recovery slices)" ] ||
  fail "intact set reported as: $(tail -n1 <<<"$out")"
[ -z "$("$cli" verify -q src.bin.sha256)" ] || fail "verify -q prints an intact set"

printf 'X' | dd of=src.bin.002 bs=1 seek=1500 conv=notrunc status=none
cp src.bin.001 keep.001
rm src.bin.001
out=$("$cli" verify src.bin.sha256 2>/dev/null); status=$?
[ $status -eq 1 ] || fail "verify with a part missing: exit $status"
grep -qx 'src.bin.par2: recovery set NOT REPAIRABLE (9 slices of 32 damaged or missing, 4 recovery slices: short by 5)' <<<"$out" ||
  fail "a set short of slices reported as: $out"
grep -qx 'src.bin.001: MISSING' <<<"$out" || fail "the missing part not named: $out"
grep -qx 'src.bin.002: DAMAGED (1 slice)' <<<"$out" || fail "the damaged part not named: $out"

mv keep.001 src.bin.001
out=$("$cli" verify src.bin.sha256 2>/dev/null); status=$?
[ $status -eq 1 ] || fail "verify with a part damaged: exit $status"
grep -qx 'src.bin.par2: recovery set REPAIRABLE (1 slice of 32 damaged or missing, 3 recovery slices to spare)' <<<"$out" ||
  fail "a repairable set reported as: $out"
par2 verify -q -q src.bin.par2 >/dev/null 2>&1 && fail "par2 finds the damaged set intact"

# A set that cannot be read at all is said so, after the checksums.
printf 'not a recovery set' >src.bin.par2
rm -f src.bin.vol*.par2
out=$("$cli" verify src.bin.sha256 2>/dev/null)
[ "$(tail -n1 <<<"$out")" = "src.bin.par2: recovery set UNREADABLE (no intact main packet or file description)" ] ||
  fail "an unreadable set reported as: $(tail -n1 <<<"$out")"

[ $failures -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all recovery set tests passed"
